#pragma once

#include <QString>

// The program's own folder, ending in "/": language files, settings and encoder libraries.
QString ExecutableFolder();
// The language files' folder and the settings file of a program in exeFolder (see AppFolders).
QString LanguageFolderOf(const QString &exeFolder);
QString SettingsFileOf(const QString &exeFolder);
// Tests point the program at a folder of their own (empty restores the real one).
void SetExecutableFolderForTesting(const QString &folder);
