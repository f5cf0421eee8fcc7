#pragma once

class TMainForm;
class TAboutForm;
class TLanguageForm;
class TOutputForm;
class TProcessForm;

// The five windows, created once at start-up and alive until the end.
extern TMainForm *MainForm;
extern TAboutForm *AboutForm;
extern TLanguageForm *LanguageForm;
extern TOutputForm *OutputForm;
extern TProcessForm *ProcessForm;

// Creates the windows in their order: the main window first (its start-up runs at once).
void CreateForms();
void DestroyForms();
