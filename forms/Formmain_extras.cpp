// The language, about and update buttons, and the banner.
#include <QFile>
#include <stdexcept>

#include "common/Encodestring.h"
#include "forms/AppPaths.h"
#include "forms/CppWebBrowser.h"
#include "forms/Dialogs.h"
#include "forms/Formabout.h"
#include "forms/Formlanguage.h"
#include "forms/Formmain.h"
#include "forms/Forms.h"
#include "ui_Formmain.h"

void TMainForm::ButtonLanguageClick() {
    LanguageForm->TranslateFilePath =
        LanguageFolderOf(ExeFolder) + TLanguageForm::FindLanguageFile(ExeFolder, "English.ini");
    LanguageForm->exec();
    ApplyLanguage();
    UpdateStatusBar();
}

void TMainForm::ButtonAboutClick() {
    AboutForm->HomePageAddress =
        QString::fromStdString(UnscrambleString(UpdateAddress.toStdString()));
    AboutForm->exec();
}

void TMainForm::ButtonUpdateClick() {
    Dialogs().ShellOpen(this,
                        QString::fromStdString(UnscrambleString(UpdateAddress.toStdString())));
}

void TMainForm::CppWebBrowser1DocumentComplete(QObject *Sender, QObject *, const QVariant &) {
    auto *browser = qobject_cast<TCppWebBrowser *>(Sender);
    if (!browser)
        return;
    // The page never shows a border around its body. A failing call reaches the
    // application's error dialog.
    TDispObject *document = browser->Document();
    if (!document)
        throw std::runtime_error("The banner has no document");
    document->GetObject("body")->GetObject("style")->SetProperty("border", QStringLiteral("none"));
}

void TMainForm::ApplicationEvents1Message(const TMsg &Msg, bool &Handled) {
    if (Msg.message != WM_RBUTTONDOWN)
        return;
    // The panel holding the banner starts at the window's client origin.
    const QPoint p = centralWidget()->mapFromGlobal(Msg.pt);
    const QRect r = ui->CppWebBrowser1->geometry();
    const int L = r.left(), T = r.top(), W = r.width(), H = r.height();
    if (L < p.x() && p.x() < L + W && T < p.y() && p.y() < T + H)
        Handled = true;
}
