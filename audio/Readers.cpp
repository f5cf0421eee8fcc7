#include "audio/FileAccess.h"
#include "audio/Probe.h"
#include "audio/WavChunks.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

// Which reader takes a file, from what its first bytes say.
namespace tandrel {
namespace {

constexpr std::size_t kHeadBytes = 64;
// What FFmpeg's probe looks at to tell MPEG audio from other content.
constexpr std::size_t kProbeBytes = 64 * 1024;

bool StartsWith(const unsigned char *b, std::size_t n, std::size_t at, const char *text) {
    const std::size_t len = std::strlen(text);
    return n >= at + len && std::memcmp(b + at, text, len) == 0;
}

// Containers that announce themselves in their first bytes, MP3 aside.
bool AnnouncesOtherContainer(const unsigned char *b, std::size_t n) {
    static const unsigned char kAsf[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};
    static const unsigned char kEbml[] = {0x1A, 0x45, 0xDF, 0xA3};
    static const char *const kMagic[] = {"fLaC", "OggS", "FORM", "wvpk", "MAC ",
                                         "caff", ".snd", "TTA1", "#!AMR"};
    if ((n >= sizeof kAsf && std::memcmp(b, kAsf, sizeof kAsf) == 0) ||
        (n >= sizeof kEbml && std::memcmp(b, kEbml, sizeof kEbml) == 0) ||
        StartsWith(b, n, 4, "ftyp"))
        return true;
    return std::any_of(std::begin(kMagic), std::end(kMagic),
                       [&](const char *m) { return StartsWith(b, n, 0, m); });
}

bool IsWave(const unsigned char *b, std::size_t n) {
    return (StartsWith(b, n, 0, "RIFF") || StartsWith(b, n, 0, "RF64")) &&
           StartsWith(b, n, 8, "WAVE");
}

// A wave file of something else than PCM goes to FFmpeg; a damaged one stays with the WAV
// reader, whose messages say what is wrong with it.
InputReader WaveReader(int fd, std::uint64_t size) {
    WavChunks chunks;
    if (!ReadWavChunks(fd, size, chunks) || chunks.formatTag == kWavPcmTag)
        return InputReader::Wav;
    return InputReader::Decoded;
}

// Whether FFmpeg takes the content for MPEG audio (layer III or another).
bool ProbesAsMpegAudio(int fd) {
    std::vector<unsigned char> buf(kProbeBytes + AVPROBE_PADDING_SIZE, 0);
    const ssize_t n = ::pread(fd, buf.data(), kProbeBytes, 0);
    if (n <= 0)
        return false;
    AVProbeData probe{};
    probe.buf = buf.data();
    probe.buf_size = int(n);
    probe.filename = "";
    const AVInputFormat *format = av_probe_input_format(&probe, 1);
    return format && std::strcmp(format->name, "mp3") == 0;
}

bool EqualsNoCase(const std::string &a, const std::string &b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == y;
           });
}

} // namespace

const std::vector<std::string> &AudioExtensions() {
    static const std::vector<std::string> extensions = {
        ".wav", ".mp3",  ".wma",  ".flac", ".ogg", ".oga",  ".opus", ".m4a", ".m4b", ".mp4",
        ".aac", ".aif",  ".aiff", ".aifc", ".caf", ".mp2",  ".mpa",  ".wv",  ".ape", ".tta",
        ".w64", ".rf64", ".au",   ".snd",  ".mka", ".webm", ".3gp",  ".amr", ".ac3", ".dts"};
    return extensions;
}

bool HasAudioExtension(const std::string &path) {
    const std::string extension = ExtensionOf(path);
    const auto &known = AudioExtensions();
    return std::any_of(known.begin(), known.end(),
                       [&](const std::string &e) { return EqualsNoCase(extension, e); });
}

bool AnnouncesAudio(const std::string &path) {
    std::uint64_t size = 0;
    const int fd = OpenRegularFile(path, size);
    if (fd < 0)
        return false;
    FdGuard closer(fd);
    unsigned char head[kHeadBytes];
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    const std::size_t n = got > 0 ? std::size_t(got) : 0;
    return IsWave(head, n) || AnnouncesOtherContainer(head, n);
}

InputReader ReaderFor(const std::string &path) {
    std::uint64_t size = 0;
    const int fd = OpenRegularFile(path, size);
    if (fd < 0)
        return InputReader::None;
    FdGuard closer(fd);
    unsigned char head[kHeadBytes];
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    const std::size_t n = got > 0 ? std::size_t(got) : 0;
    if (IsWave(head, n))
        return WaveReader(fd, size);
    if (AnnouncesOtherContainer(head, n))
        return InputReader::Decoded;
    if (EqualsNoCase(ExtensionOf(path), ".mp3") || StartsWith(head, n, 0, "ID3") ||
        ProbesAsMpegAudio(fd))
        return InputReader::Mp3;
    return InputReader::Decoded;
}

} // namespace tandrel
