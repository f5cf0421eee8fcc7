#include "forms/Forms.h"

#include <QtGlobal>

#include "forms/Dialogs.h"
#include "forms/Formabout.h"
#include "forms/Formlanguage.h"
#include "forms/Formmain.h"
#include "forms/Formoutput.h"
#include "forms/Formprocess.h"
#include "forms/QtLanguage.h"

TMainForm *MainForm = nullptr;
TAboutForm *AboutForm = nullptr;
TLanguageForm *LanguageForm = nullptr;
TOutputForm *OutputForm = nullptr;
TProcessForm *ProcessForm = nullptr;

static void InitResources() {
    Q_INIT_RESOURCE(tandrel);
} // pictures live in the static library

void CreateForms() {
    InitResources();
    InstallEngineMessageBridge();
    // Before any window takes its font: the language files name Windows fonts.
    InstallFontSubstitutions();
    MainForm = new TMainForm;
    AboutForm = new TAboutForm(MainForm);
    LanguageForm = new TLanguageForm(MainForm);
    OutputForm = new TOutputForm(MainForm);
    ProcessForm = new TProcessForm(MainForm);
}

void DestroyForms() {
    delete MainForm; // the dialogs are its children
    MainForm = nullptr;
    AboutForm = nullptr;
    LanguageForm = nullptr;
    OutputForm = nullptr;
    ProcessForm = nullptr;
}
