#pragma once

#include <string>

namespace tandrel {

// Where the program's files lie. Beside the executable when its folder holds the language
// folder (the build tree, a portable copy); otherwise in the installed layout relative to the
// executable (bin/../share/tandrel/TDLanguage/, bin/../lib/tandrel/), so any prefix works and
// a moved tree too. Every folder ends in "/".
struct AppFolders {
    std::string exe;       // the executable's own folder
    std::string languages; // the language files
    // Folders the encoder libraries are looked for in, in order; then the bare name.
    std::string libraries;
    std::string librariesInstalled;
    // Tandrel.ini beside the executable when the folder is portable and writable, otherwise
    // $XDG_CONFIG_HOME/tandrel/Tandrel.ini (~/.config/tandrel/ by default).
    std::string settingsFile;
    bool portable = false;
};

// Folder of the running executable, ending in "/", or "" when it cannot be found.
std::string ExecutableFolder();

// The folders for an executable in exeFolder (ending in "/").
AppFolders FindAppFolders(const std::string &exeFolder);

// The folders of the running program.
const AppFolders &ProgramFolders();

} // namespace tandrel
