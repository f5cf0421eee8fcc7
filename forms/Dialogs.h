#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

class QWidget;

// The one seam through which every message box, file dialog and shell "open" of the program
// passes. Tests install their own to see caption, text and icon and to answer without a window.
class TDialogs {
public:
    virtual ~TDialogs() = default;

    virtual QMessageBox::StandardButton MessageBox(QWidget *owner, const QString &caption,
                                                   const QString &text, QMessageBox::Icon icon,
                                                   QMessageBox::StandardButtons buttons);
    // Filters are in the language files' form: "Description|*.a;*.b|...". The dialogs open in
    // folder, or where the toolkit chooses when it is empty.
    virtual QStringList GetOpenFileNames(QWidget *owner, const QString &filter,
                                         const QString &folder);
    // Empty when the user cancels.
    virtual QString GetSaveFileName(QWidget *owner, const QString &filter, const QString &folder);
    // Hands an address or a local file to the desktop's associated program.
    virtual void ShellOpen(QWidget *owner, const QString &target);
};

TDialogs &Dialogs();
// Installs a seam (nullptr restores the real one); returns the previous one.
TDialogs *SetDialogs(TDialogs *dialogs);

// A filter of the language files ("Desc|*.a;*.b|...") in Qt's form, each description shown once:
// "All files(*.wav,*.mp3)|*.wav;*.mp3|Audio|*.wav" -> "All files(*.wav *.mp3);;Audio (*.wav)". A
// description ending in its own parenthesised pattern list keeps it, written with blanks between
// the entry's patterns as Qt needs to filter; any other description gets " (*.a *.b)" appended.
QString ToQtFilter(const QString &filter);

// Routes the engine's messages (join, WAV reader, encoders) through Dialogs().
void InstallEngineMessageBridge();

// Names of the message boxes' icons for assistive technology, in the current language.
void SetMessageIconNames(const QString &information, const QString &warning, const QString &error,
                         const QString &question);

// The application's standard error dialog for an exception that reached the top.
void ShowException(const QString &message);
