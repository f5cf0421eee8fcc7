#include "audio/FileAccess.h"
#include "audio/Probe.h"
#include "audio/WavChunks.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unistd.h>

#include "audio/Ffmpeg.h"

// Which reader takes a file, from what its first bytes say.
namespace tandrel {
namespace {

constexpr std::size_t kHeadBytes = 64;
// What FFmpeg's probe looks at to tell MPEG audio from other content.
constexpr std::size_t kProbeBytes = 64 * 1024;

// The first bytes of the file, as many as it has.
std::size_t ReadHead(int fd, unsigned char (&head)[kHeadBytes]) {
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    return got > 0 ? std::size_t(got) : 0;
}

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
    if (n <= 0 || !LoadFfmpeg())
        return false;
    AVProbeData probe{};
    probe.buf = buf.data();
    probe.buf_size = int(n);
    probe.filename = "";
    const AVInputFormat *format = av_probe_input_format(&probe, 1);
    return format && std::strcmp(format->name, "mp3") == 0;
}

// The compression type in an AIFC file's COMM chunk (after channels, frames, bits and the
// 10-byte rate); empty when there is none to be found.
std::string AifcCompression(int fd, std::uint64_t size) {
    std::uint64_t at = 12;
    unsigned char h[8 + 22];
    for (int i = 0; i < 64 && at + 8 <= size && ::pread(fd, h, sizeof h, off_t(at)) >= 8; ++i) {
        const std::uint64_t bytes = std::uint64_t(h[4]) << 24 | h[5] << 16 | h[6] << 8 | h[7];
        if (std::memcmp(h, "COMM", 4) == 0)
            return bytes >= 22 ? std::string(reinterpret_cast<const char *>(h + 8 + 18), 4) : "";
        at += 8 + bytes + (bytes & 1);
    }
    return "";
}

} // namespace

std::string UnknownAifcCodec(const std::string &path) {
    std::uint64_t size = 0;
    const int fd = OpenRegularFile(path, size);
    if (fd < 0)
        return "";
    FdGuard closer(fd);
    unsigned char head[12];
    if (::pread(fd, head, sizeof head, 0) != ssize_t(sizeof head) ||
        !StartsWith(head, sizeof head, 0, "FORM") || !StartsWith(head, sizeof head, 8, "AIFC"))
        return "";
    const std::string type = AifcCompression(fd, size);
    if (type.size() != 4 || !LoadFfmpeg())
        return "";
    const AVCodecTag *const tags[] = {avformat_get_mov_audio_tags(), nullptr};
    const unsigned tag = MKTAG(type[0], type[1], type[2], type[3]);
    if (av_codec_get_id(tags, tag) != AV_CODEC_ID_NONE || type == "NONE" || type == "none")
        return "";
    std::string shown;
    for (const char c : type)
        shown += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    return "codec '" + shown + "'";
}

const std::vector<std::string> &AudioExtensions() {
    static const std::vector<std::string> extensions = {
        ".wav", ".mp3",  ".wma",  ".flac", ".ogg", ".oga",  ".opus", ".m4a", ".m4b", ".mp4",
        ".aac", ".aif",  ".aiff", ".aifc", ".caf", ".mp2",  ".mpa",  ".wv",  ".ape", ".tta",
        ".w64", ".rf64", ".au",   ".snd",  ".mka", ".webm", ".3gp",  ".amr", ".ac3", ".dts"};
    return extensions;
}

bool HasAudioExtension(const std::string &path) {
    const auto &known = AudioExtensions();
    return std::any_of(known.begin(), known.end(),
                       [&](const std::string &e) { return ExtensionIs(path, e.c_str()); });
}

bool AnnouncesAudio(const std::string &path) {
    std::uint64_t size = 0;
    const int fd = OpenRegularFile(path, size);
    if (fd < 0)
        return false;
    FdGuard closer(fd);
    unsigned char head[kHeadBytes];
    const std::size_t n = ReadHead(fd, head);
    return IsWave(head, n) || AnnouncesOtherContainer(head, n);
}

InputReader ReaderFor(const std::string &path) {
    std::uint64_t size = 0;
    const int fd = OpenRegularFile(path, size);
    if (fd < 0)
        return InputReader::None;
    FdGuard closer(fd);
    unsigned char head[kHeadBytes];
    const std::size_t n = ReadHead(fd, head);
    if (IsWave(head, n))
        return WaveReader(fd, size);
    if (AnnouncesOtherContainer(head, n))
        return InputReader::Decoded;
    if (ExtensionIs(path, ".mp3") || StartsWith(head, n, 0, "ID3") || ProbesAsMpegAudio(fd))
        return InputReader::Mp3;
    return InputReader::Decoded;
}

} // namespace tandrel
