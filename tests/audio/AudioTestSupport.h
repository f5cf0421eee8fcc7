#pragma once

#include "TestUtil.h"

#include <cstdint>
#include <string>
#include <vector>

namespace audiotest {

using testutil::RecordingSink;
using testutil::Shown;

// Test audio made once per run by sox, lame and ffmpeg in a shared folder; the command is a
// shell line with {in} for a WAV of the given samples and {out} for the file to make.
std::string Media(const std::string &name, const std::string &command, std::uint64_t samples = 0,
                  int rate = 44100, int channels = 2);
std::string MediaDir();

// A stereo 16-bit 44100 Hz tone of exactly this many sample frames.
std::string ToneWav(std::uint64_t samples, int rate = 44100, int channels = 2);

// Sets up the decoding layer for a test.
void EnsureDecodingReady();

} // namespace audiotest
