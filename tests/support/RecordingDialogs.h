#pragma once

#include <QList>
#include <QStringList>

#include "forms/Dialogs.h"

// A dialog seam for window tests: records every box and answers from a script.
class RecordingDialogs : public TDialogs {
public:
    struct Box {
        QString caption;
        QString text;
        QMessageBox::Icon icon;
        bool owned;
    };
    QList<Box> boxes;
    QList<QMessageBox::StandardButton> answers; // taken in order; OK / Cancel when empty
    QList<QStringList> openAnswers;
    QStringList saveAnswers;
    QStringList openFilters;
    QStringList saveFilters;
    QStringList opened;
    QStringList openFolders; // the folder each open / save dialog was given
    QStringList saveFolders;

    RecordingDialogs() { previous_ = SetDialogs(this); }
    ~RecordingDialogs() override { SetDialogs(previous_); }

    QMessageBox::StandardButton MessageBox(QWidget *owner, const QString &caption,
                                           const QString &text, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons) override {
        boxes.append({caption, text, icon, owner != nullptr});
        if (!answers.isEmpty())
            return answers.takeFirst();
        return (buttons & QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::Cancel;
    }
    QStringList GetOpenFileNames(QWidget *, const QString &filter, const QString &folder) override {
        openFilters << filter;
        openFolders << folder;
        return openAnswers.isEmpty() ? QStringList() : openAnswers.takeFirst();
    }
    QString GetSaveFileName(QWidget *, const QString &filter, const QString &folder) override {
        saveFilters << filter;
        saveFolders << folder;
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    void ShellOpen(QWidget *, const QString &target) override { opened << target; }

    QStringList Texts() const {
        QStringList out;
        for (const Box &b : boxes)
            out << b.text;
        return out;
    }

private:
    TDialogs *previous_ = nullptr;
};
