#pragma once

#include <QDir>
#include <QRadioButton>
#include <QString>
#include <QTimer>

#include "forms/Formoutput.h"
#include "forms/Forms.h"
#include "ui_Formoutput.h"

// Answers the output wizard once it opens: the format's radio button, the output file; then
// Join.
inline void AnswerWizard(QRadioButton *Ui::TOutputForm::*radio, const QString &output) {
    QTimer::singleShot(0, [=] {
        Ui::TOutputForm *w = OutputForm->ui;
        (w->*radio)->setChecked(true);
        w->ButtonNext->click();
        if (w->PageControl1->currentIndex() != 3)
            w->ButtonNext->click();
        w->EditOutputFile->setText(output);
        w->ButtonNext->click();
    });
}

// The files, hidden ones too, in a folder (what a join left in its temporary folder).
inline QStringList FilesIn(const std::string &folder) {
    return QDir(QString::fromStdString(folder)).entryList(QDir::Files | QDir::Hidden);
}
