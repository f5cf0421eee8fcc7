#pragma once

#include <string>

namespace tandrel {

// Folder of the running executable, ending in "/", or "" when it cannot be found.
std::string ExecutableFolder();

// Loads a library from folder first, then by its bare name through the normal search.
// Returns the handle, or null.
void *LoadEncoderLibrary(const std::string &folder, const char *name);

} // namespace tandrel
