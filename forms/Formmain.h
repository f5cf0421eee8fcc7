#pragma once

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <memory>

#include "audio/Track.h"
#include "forms/ApplicationEvents.h"
#include "lang/Language.h"

namespace Ui {
class TMainForm;
}
class QLabel;
class QTreeWidgetItem;

// Settings of a file dialog that the language file fills in.
struct TFileDialogSettings {
    QString Filter;
};

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    // Controls are reachable from the other windows' code, as the forms are global.
    Ui::TMainForm *ui;
    QList<QIcon> ImageList1; // entry i is the icon of row i
    TFileDialogSettings OpenDialog1;
    TFileDialogSettings SaveDialog1;
    TApplicationEvents *ApplicationEvents1;

    QString TempFolder;
    QString ExeFolder;
    QString TempPcmPath;
    QString UpdateAddress;
    std::unique_ptr<tandrel::LanguageFile> LanguageFile;

    void ApplyLanguage();
    // Makes each toolbar button as wide as its caption needs and lines them up again.
    void FitToolBar();
    void UpdateStatusBar();
    QString StatusPanelText(int panel) const;
    // A resize is accepted only at an outer width of 718 pixels or more.
    static bool FormCanResize(int newOuterWidth) { return newOuterWidth >= 718; }

    // A language text, decoded, with the empty text as default.
    QString Text(const char *section, const char *key) const;
    std::string LanguageText(const char *section, const char *key) const;

    void ButtonAddClick();
    void ButtonRemoveClick();
    void ButtonClearClick();
    void ButtonUpClick();
    void ButtonDownClick();
    void ButtonJoinClick();
    void ButtonLanguageClick();
    void ButtonAboutClick();
    void ButtonUpdateClick();

    void CppWebBrowser1DocumentComplete(QObject *Sender, QObject *pDisp, const QVariant &URL);
    void ApplicationEvents1Message(const TMsg &Msg, bool &Handled);

    // Sorts Names and appends one row and one icon per file that can be read.
    void AddFiles(QStringList &Names);
    // Files dropped on the window, in drop order.
    void WMDropFiles(const QStringList &names);
    // Files named on the program's command line ("Open with"): added as a drop of them would
    // add them; relative names count from the current folder.
    void AddCommandLineFiles(const QStringList &arguments);

protected:
    bool event(QEvent *e) override;
    // Delete and Insert on the file list act as the Remove and Add buttons.
    bool eventFilter(QObject *watched, QEvent *e) override;
    void showEvent(QShowEvent *e) override;
    void dragEnterEvent(QDragEnterEvent *e) override;
    void dropEvent(QDropEvent *e) override;

private:
    void FormCreate();
    void FormActivate();
    void FormDestroy();
    void RefreshImageIndexes();
    // Appends the row and the icon of a file that ProbeFile accepted.
    void AddRow(const std::string &path, const tandrel::Track &file);

    QLabel *statusPanels_[2] = {nullptr, nullptr};
    bool settingsErrorShown_ = false;
};
