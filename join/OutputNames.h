#pragma once

#include <string>

namespace tandrel {

// How the join's output takes its name on any file system, and the stand-in names it uses
// where a file system has no unnamed files.

// ".tandrel-PID-": the start of this process's stand-in names (six characters and ".part"
// follow), so that a stand-in tells which process it belongs to.
std::string StandInPrefix();
inline constexpr const char *kStandInSuffix = ".part";

// Removes the stand-ins in folder that this user's joins left when they were killed: regular
// files of the current user, named exactly as above, whose process is gone. Links are never
// followed.
void RemoveOrphanStandIns(const std::string &folder);

// Gives the file from the new name to, unless something already has that name (EEXIST):
// renameat2's RENAME_NOREPLACE, or a look and a plain rename where the file system has none.
// False with errno set.
bool RenameNoReplace(const std::string &from, const std::string &to);

// Whether a refused fchmod or fchown says that the file system keeps no modes, owners or groups
// (FAT): the file keeps what the file system gives every file, and that is no failure.
bool KeepsNoModes(int err);

} // namespace tandrel
