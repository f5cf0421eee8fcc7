#pragma once

#include "TestUtil.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace enctest {

using testutil::RecordingSink;

// Interleaved 16-bit sine, the same tone on every channel.
std::vector<std::int16_t> Sine(int rate, int channels, std::size_t frames, double hz,
                               double amplitude = 0.5);

// Interleaved 16-bit low-passed noise with a slow tone under it, the same for the same seed.
std::vector<std::int16_t> Noise(std::size_t frames, int channels, unsigned seed);

// Decodes a file with ffmpeg to interleaved 16-bit samples at its own rate and channel count.
std::vector<std::int16_t> Decode(const std::string &path, int channels);

// Share of the energy of the middle half of channel 0 that lies at hz.
double ToneShare(const std::vector<std::int16_t> &pcm, int channels, int rate, double hz);

} // namespace enctest
