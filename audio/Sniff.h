#pragma once

#include <string>

namespace tandrel {

// Why a file that was refused could not be read, as far as its first bytes tell: the system's
// reason when it cannot be opened ("No such file or directory"), "it is a folder", "it is
// empty", or the kind its content really is when that differs from its extension ("it is a
// WAV file"). Empty when there is nothing more to say.
std::string WhyUnreadable(const std::string &path);

} // namespace tandrel
