#pragma once

#include "common/Messages.h"

#include <cstdint>
#include <string>
#include <vector>

namespace audiotest {

struct Shown {
    std::string caption;
    std::string text;
    tandrel::MsgIcon icon;
};

// Records every message shown while it exists.
class RecordingSink : public tandrel::MessageSink {
public:
    RecordingSink();
    ~RecordingSink() override;
    tandrel::MsgAnswer Show(const std::string &caption, const std::string &text,
                            tandrel::MsgIcon icon, tandrel::MsgButtons buttons) override;
    std::vector<Shown> shown;

private:
    tandrel::MessageSink *previous_;
};

// Test audio made once per run by sox, lame and ffmpeg in a shared folder; the command is a
// shell line with {in} for a WAV of the given samples and {out} for the file to make.
std::string Media(const std::string &name, const std::string &command, std::uint64_t samples = 0,
                  int rate = 44100, int channels = 2);
std::string MediaDir();

// A stereo 16-bit 44100 Hz tone of exactly this many sample frames.
std::string ToneWav(std::uint64_t samples, int rate = 44100, int channels = 2);

// Sets up the decoding layer for a test.
void EnsureBassReady();

} // namespace audiotest
