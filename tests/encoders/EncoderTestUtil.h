#pragma once

#include "TestUtil.h"

#include <climits>
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

using testutil::Decode;

// Share of the energy of the middle half of channel 0 that lies at hz.
double ToneShare(const std::vector<std::int16_t> &pcm, int channels, int rate, double hz);

struct Quality {
    double snr = 0;                 // dB over the whole file
    std::vector<double> frameError; // per 1152-sample MP3 frame, in the source's time
};
// How close decoded is to source.
Quality Measure(const std::vector<std::int16_t> &source, const std::vector<std::int16_t> &decoded,
                int channels);

// How SplicedMp3 is to encode.
struct Settings {
    int rate = 44100, channels = 2;
    unsigned kbps = 128;
    unsigned flags = 0; // 1 copyright, 2 CRC, 4 original, 8 private
    unsigned threads = 1, segment = 16;
    bool seekable = true; // false: path is made a FIFO and read on a thread of its own
    std::int64_t expected = -1;
    std::string library = testutil::BinDir();
    std::size_t stopAfter = SIZE_MAX; // writes before Stop
};

struct Encoded {
    bool ok = false; // every call succeeded
    unsigned workers = 0, reencoded = 0;
    std::string bytes; // what reached path, when ok
};

// Encodes pcm into path through SplicedMp3, in writes of the size it asks for.
Encoded Encode(const std::string &path, const std::vector<std::int16_t> &pcm, const Settings &s);

} // namespace enctest
