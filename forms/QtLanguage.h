#pragma once

#include <QString>

// Qt's own texts (file dialogs, message box buttons, context menus) in the language of the
// language file: loads qtbase_<locale>.qm from Qt's translations folder. English, an empty
// locale or a locale without a translation removes a translation installed before. Loads
// again only when the locale changes. Returns whether a translation is now installed.
bool InstallQtTranslation(const QString &localeName);
// The locale whose Qt translation is installed, empty when none is.
QString InstalledQtTranslation();
// The file holding Qt's translation for a locale (empty when there is none).
QString QtTranslationFile(const QString &localeName);

// Maps the Windows font names of the language files (SimSun, PMingLiU, Tahoma, MS Sans Serif,
// Arial, ...) to installed faces of the same kind, sans-serif for the user interface, so that
// every language looks even. Once per run; needs the application object.
void InstallFontSubstitutions();
