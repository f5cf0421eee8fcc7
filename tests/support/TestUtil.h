#pragma once

#include "common/Messages.h"
#include "encoders/Mp3Bitstream.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace testutil {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &Path() const { return path_; }
    // Path() + "/" + name
    std::string File(const std::string &name) const;

private:
    std::string path_;
};

struct Shown {
    std::string caption, text;
    tandrel::MsgIcon icon;
    tandrel::MsgButtons buttons;
};

// Records every message shown while it exists.
class RecordingSink : public tandrel::MessageSink {
public:
    RecordingSink() : previous_(tandrel::SetMessages(this)) {}
    ~RecordingSink() override { tandrel::SetMessages(previous_); }
    RecordingSink(const RecordingSink &) = delete;
    RecordingSink &operator=(const RecordingSink &) = delete;
    tandrel::MsgAnswer Show(const std::string &caption, const std::string &text,
                            tandrel::MsgIcon icon, tandrel::MsgButtons buttons) override {
        shown.push_back({caption, text, icon, buttons});
        return tandrel::MsgAnswer::Ok;
    }
    std::vector<Shown> shown;

private:
    tandrel::MessageSink *previous_;
};

struct CommandResult {
    int exitCode = -1;
    std::string output; // standard output and standard error together
};
// Runs a shell command line and waits for it.
CommandResult Run(const std::string &commandLine);
// Quotes a text for the shell.
std::string Quote(const std::string &text);

// Names in a folder, without "." and "..", sorted.
std::vector<std::string> Listing(const std::string &dir);

void WriteFile(const std::string &path, const std::string &bytes);
std::string ReadFile(const std::string &path);
std::uint64_t FileSize(const std::string &path);
bool Exists(const std::string &path);

// Little-endian helpers for building headers by hand.
void PutLE16(std::string &out, std::uint16_t v);
void PutLE32(std::string &out, std::uint32_t v);
std::uint32_t GetLE32(const std::string &bytes, std::size_t at);
// CRC-16 (polynomial 0x8005 reflected, as the LAME tag's) a bit at a time, from crc.
std::uint16_t BitwiseCrc16(std::uint16_t crc, const std::uint8_t *data, std::size_t count);

// A WAV file built by hand: RIFF header, "fmt " chunk (formatSize bytes, padded with zeros),
// the extra chunks in order, then a "data" chunk holding data.
struct WavLayout {
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 2;
    std::uint32_t sampleRate = 44100;
    std::uint16_t bits = 16;
    std::uint32_t formatSize = 16;
    std::vector<std::pair<std::string, std::string>> extraChunks; // id, body
    std::string data;
    // When set, the "data" header declares this size instead of data.size().
    std::int64_t declaredDataSize = -1;
};
std::string BuildWav(const WavLayout &wav);
// A canonical WAV file in dir holding bytes of fill; its path.
std::string WavFile(const TempDir &dir, const std::string &name, std::size_t bytes, char fill,
                    std::uint16_t channels = 2, std::uint32_t rate = 44100,
                    std::uint16_t bits = 16);

// A "full" device (writes fail with ENOSPC) made in dir with mknod; empty when this user may
// not make devices.
std::string MakeFullDevice(const TempDir &dir);

// Folder of the built programs and libraries (TANDREL_BIN_DIR, set by ctest).
std::string BinDir();

// Duration in seconds of a media file as ffprobe reports it, or -1.
double ProbeDuration(const std::string &path);
// One field of the first audio stream as ffprobe reports it (e.g. "sample_rate"), or "".
std::string ProbeStreamField(const std::string &path, const std::string &field);
// The container's tags as ffprobe reads them, their names in lower case.
std::map<std::string, std::string> ProbeTags(const std::string &path);
// The chapters as ffprobe reads them: start in seconds and title ("" when none). Titles
// must hold no comma.
std::vector<std::pair<double, std::string>> ProbeChapters(const std::string &path);

// Decodes a file with ffmpeg to interleaved 16-bit samples at its own rate; empty on failure.
std::vector<std::int16_t> Decode(const std::string &path, int channels);
// What ffmpeg and mpg123 say about a file beyond decoding it; empty when all is well.
std::string DecoderComplaints(const std::string &path);

// The frames of an MP3 file: the Info frame (if any) apart, the audio frames checked one by one
// against flags (1 copyright, 2 CRC, 4 original, 8 private).
struct Mp3Stream {
    bool parsed = true, info = false, flagsKept = true, crcsValid = true;
    std::uint32_t infoFrames = 0, infoBytes = 0;
    int padding = -1;
    std::string audio; // the audio frames' bytes
    std::vector<mp3::FrameHeader> frames;
};
Mp3Stream ParseMp3(const std::string &file, unsigned flags = 0);

} // namespace testutil
