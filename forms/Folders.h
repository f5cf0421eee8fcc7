#pragma once

#include <QString>

// Where the file dialogs were last used, kept in the settings file's [Folders] section so that
// they open there again, also in a later run.
inline constexpr const char *kAddFilesFolderKey = "AddFiles";
inline constexpr const char *kOutputFileFolderKey = "OutputFile";

// The stored folder, or DefaultDialogFolder() when none is stored or it no longer exists.
QString RememberedFolder(const char *key);
// Where the dialogs open before any folder is stored: the user's music folder (xdg-user-dirs'
// XDG_MUSIC_DIR, else the toolkit's music location) when it exists, else the home folder.
QString DefaultDialogFolder();
// Stores the folder holding file: the Add dialog's choice, the output of a finished join.
void RememberFolder(const char *key, const QString &file);
