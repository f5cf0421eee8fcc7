// The language, about and update buttons.
#include "app/Encodestring.h"
#include "forms/Dialogs.h"
#include "forms/Formabout.h"
#include "forms/Formlanguage.h"
#include "forms/Formmain.h"
#include "forms/Forms.h"

void TMainForm::ButtonLanguageClick() {
    LanguageForm->TranslateFilePath = ExeFolder + tandrel::kLanguageFolder + "English.ini";
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
