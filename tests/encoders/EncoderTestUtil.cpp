#include "EncoderTestUtil.h"

#include "TestUtil.h"
#include "encoders/SplicedMp3.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

Quality Measure(const std::vector<std::int16_t> &source, const std::vector<std::int16_t> &decoded,
                int channels) {
    Quality q;
    double signal = 0, noise = 0;
    const std::size_t n = std::min(source.size(), decoded.size());
    for (std::size_t i = 0; i < n; ++i) {
        const double e = double(source[i]) - decoded[i];
        signal += double(source[i]) * source[i];
        noise += e * e;
        // Frame k of the stream carries samples [k * 1152 - 576, (k + 1) * 1152 - 576).
        const std::size_t frame = (i / std::size_t(channels) + 576) / 1152;
        if (q.frameError.size() <= frame)
            q.frameError.resize(frame + 1, 0);
        q.frameError[frame] += e * e;
    }
    q.snr = 10 * std::log10(signal / std::max(noise, 1.0));
    return q;
}

Encoded Encode(const std::string &path, const std::vector<std::int16_t> &pcm, const Settings &s) {
    Encoded r;
    std::thread reader;
    if (!s.seekable) {
        ::unlink(path.c_str());
        if (::mkfifo(path.c_str(), 0600) != 0)
            return r;
        reader = std::thread([&] {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            char buf[65536];
            for (ssize_t n; fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0;)
                r.bytes.append(buf, std::size_t(n));
            ::close(fd);
        });
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    SplicedMp3 enc(s.library);
    enc.SetThreads(s.threads);
    enc.SetSegmentFrames(s.segment);
    const int chunk = enc.Open(fd, path, s.seekable, s.expected, s.rate, s.channels == 1 ? 4 : 1,
                               s.kbps, s.flags & 1, s.flags & 2, s.flags & 4, s.flags & 8);
    if (fd >= 0)
        ::close(fd);
    bool ok = chunk > 0;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(pcm.data());
    std::size_t writes = 0;
    for (std::size_t at = 0; ok && at < pcm.size() * 2 && writes++ < s.stopAfter;
         at += std::size_t(chunk))
        ok = enc.Write(bytes + at, std::min(std::size_t(chunk), pcm.size() * 2 - at));
    if (s.stopAfter != SIZE_MAX)
        enc.Stop();
    r.workers = enc.Workers();
    r.ok = enc.Close() && ok;
    r.reencoded = enc.Reencoded();
    if (reader.joinable())
        reader.join();
    if (s.seekable && r.ok)
        r.bytes = testutil::ReadFile(path);
    return r;
}

} // namespace enctest
