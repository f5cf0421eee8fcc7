#include "audio/Sniff.h"
#include "lang/MessageTexts.h"

#include "audio/Probe.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tandrel {
namespace {

// The kind of audio the first bytes announce, or "" when they announce none we know.
std::string KindOfContent(const unsigned char *b, std::size_t n) {
    auto starts = [&](std::size_t at, const char *text) {
        const std::size_t len = std::strlen(text);
        return n >= at + len && std::memcmp(b + at, text, len) == 0;
    };
    static const unsigned char kAsf[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};
    if ((starts(0, "RIFF") || starts(0, "RF64")) && starts(8, "WAVE"))
        return "WAV";
    if (n >= sizeof kAsf && std::memcmp(b, kAsf, sizeof kAsf) == 0)
        return "WMA";
    if (starts(0, "ID3") || (n >= 2 && b[0] == 0xFF && (b[1] & 0xE6) == 0xE2))
        return "MP3";
    if (starts(0, "fLaC"))
        return "FLAC";
    if (starts(0, "OggS"))
        return "Ogg";
    if (starts(4, "ftyp"))
        return "MP4";
    if (starts(0, "FORM") && (starts(8, "AIFF") || starts(8, "AIFC")))
        return "AIFF";
    return "";
}

// Whether the extension is one that files of the kind carry (".m4a" for MP4, ".aif" for AIFF).
bool NamedAsKind(std::string extension, const std::string &kind) {
    static const std::pair<const char *, const char *> kOtherNames[] = {
        {"MP4", ".M4A"},  {"MP4", ".M4B"},   {"Ogg", ".OGA"},  {"Ogg", ".OPUS"},
        {"AIFF", ".AIF"}, {"AIFF", ".AIFC"}, {"FLAC", ".FLA"}, {"Ogg", ".OGG"}};
    for (char &c : extension)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    if (extension == "." + kind)
        return true;
    for (const auto &[k, e] : kOtherNames)
        if (kind == k && extension == e)
            return true;
    return false;
}

} // namespace

std::string WhyUnreadable(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return MsgText(Msg::InputIsFolder);
    if (!S_ISREG(st.st_mode))
        return MsgText(Msg::InputNotRegular);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    unsigned char head[16];
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    if (n < 0)
        return std::strerror(errno);
    if (n == 0)
        return MsgText(Msg::InputIsEmpty);
    const std::string kind = KindOfContent(head, std::size_t(n));
    if (!kind.empty() && !NamedAsKind(ExtensionOf(path), kind))
        return MsgText(kind == "MP3" || kind == "MP4" || kind == "Ogg" || kind == "AIFF"
                           ? Msg::InputIsAnKind
                           : Msg::InputIsAKind,
                       {kind});
    return "";
}

} // namespace tandrel
