#pragma once

#include <QString>

// Where the file dialogs were last used, kept in the settings file's [Folders] section so that
// they open there again, also in a later run.
inline constexpr const char *kAddFilesFolderKey = "AddFiles";
inline constexpr const char *kOutputFileFolderKey = "OutputFile";

// The stored folder, or empty when none is stored or it no longer exists.
QString RememberedFolder(const char *key);
// Stores the folder holding file, the name a dialog returned.
void RememberFolder(const char *key, const QString &file);
