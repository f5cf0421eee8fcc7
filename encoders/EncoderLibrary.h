#pragma once

#include <dlfcn.h>
#include <string>

namespace tandrel {

// Loads a library from folder first, then by its bare name through the normal search.
// Returns the handle, or null.
void *LoadEncoderLibrary(const std::string &folder, const char *name);
// The same from the program's own folders: beside the executable, then the installed library
// folder, then by bare name.
void *LoadProgramEncoderLibrary(const char *name);

// Resolves one entry point into fn; when it is missing, shows caption's message
// "Could not found <name> library function" and answers false.
template <typename Fn>
bool ResolveEntryPoint(void *library, const char *name, Fn &fn, const std::string &caption);

} // namespace tandrel

#include "common/Messages.h"
#include "lang/MessageTexts.h"

template <typename Fn>
bool tandrel::ResolveEntryPoint(void *library, const char *name, Fn &fn,
                                const std::string &caption) {
    fn = reinterpret_cast<Fn>(dlsym(library, name));
    if (!fn)
        ShowMessage(caption, MsgText(Msg::MissingLibraryFunction, {name}));
    return fn != nullptr;
}
