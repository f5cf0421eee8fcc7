#pragma once

#include <QString>

// The program's own folder, ending in "/": language files, settings and encoder libraries.
QString ExecutableFolder();
// Tests point the program at a folder of their own (empty restores the real one).
void SetExecutableFolderForTesting(const QString &folder);
