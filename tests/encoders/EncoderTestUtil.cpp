#include "EncoderTestUtil.h"

#include "TestUtil.h"

#include <cstring>

namespace enctest {

std::vector<std::int16_t> Sine(int rate, int channels, std::size_t frames, double hz,
                               double amplitude) {
    std::vector<std::int16_t> pcm(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        const double v = amplitude * 32767 * std::sin(2 * M_PI * hz * double(i) / rate);
        for (int c = 0; c < channels; ++c)
            pcm[i * channels + c] = static_cast<std::int16_t>(std::lround(v));
    }
    return pcm;
}

std::vector<std::int16_t> Noise(std::size_t frames, int channels, unsigned seed) {
    std::vector<std::int16_t> pcm(frames * std::size_t(channels));
    double low = 0;
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        low = 0.9 * low + 0.1 * (double(seed >> 8) / (1 << 24) - 0.5);
        pcm[i] = std::int16_t(std::lround(20000 * low + 3000 * std::sin(double(i) * 0.01)));
    }
    return pcm;
}

std::vector<std::int16_t> Decode(const std::string &path, int channels) {
    testutil::TempDir dir;
    const std::string raw = dir.File("decoded.raw");
    auto r = testutil::Run("ffmpeg -v error -i " + testutil::Quote(path) + " -f s16le -ac " +
                           std::to_string(channels) + " " + testutil::Quote(raw));
    if (r.exitCode != 0)
        return {};
    const std::string bytes = testutil::ReadFile(raw);
    std::vector<std::int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    return pcm;
}

double ToneShare(const std::vector<std::int16_t> &pcm, int channels, int rate, double hz) {
    // the middle half, clear of the encoder's delay and padding
    const std::size_t all = pcm.size() / channels;
    const std::size_t first = all / 4, n = all / 2;
    if (n == 0)
        return 0;
    const double k = 2 * std::cos(2 * M_PI * hz / rate);
    double s1 = 0, s2 = 0, energy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = pcm[(first + i) * channels];
        energy += x * x;
        const double s0 = x + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - k * s1 * s2;
    return energy > 0 ? 2 * power / (double(n) * energy) : 0;
}

} // namespace enctest
