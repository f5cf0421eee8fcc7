// The spliced MP3 encoder at its edges: resampled rates, the writer's fallbacks, stops and
// failures.
#include "EncoderTestUtil.h"
#include "TestUtil.h"
#include "encoders/Mp3Bitstream.h"
#include "encoders/SplicedMp3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using enctest::Noise;
using testutil::TempDir;

namespace {

// What came of an encode: Close's answer and the file's frames.
struct Outcome {
    bool ok = false, parsed = true, info = false;
    std::uint32_t infoFrames = 0;
    int padding = -1;
    std::size_t frames = 0, bytes = 0;
    std::uint32_t infoBytes = 0;
    unsigned reencoded = 0;
};

// The frames of an MP3 file, the Info frame apart.
void Examine(const std::string &file, Outcome &r) {
    const auto *data = reinterpret_cast<const std::uint8_t *>(file.data());
    r.bytes = file.size();
    for (std::size_t at = 0; at < file.size();) {
        mp3::FrameHeader h;
        if (!mp3::ParseHeader(data + at, file.size() - at, h) || at + h.length > file.size()) {
            r.parsed = false;
            break;
        }
        if (at == 0 && std::memcmp(data + 4 + h.sideInfo, "Info", 4) == 0) {
            const std::uint8_t *x = data + 4 + h.sideInfo;
            r.info = true;
            r.infoFrames = std::uint32_t(x[8] << 24 | x[9] << 16 | x[10] << 8 | x[11]);
            r.infoBytes = std::uint32_t(x[12] << 24 | x[13] << 16 | x[14] << 8 | x[15]);
            r.padding = (x[120 + 22] & 15) << 8 | x[120 + 23];
        } else {
            ++r.frames;
        }
        at += h.length;
    }
}

// Encodes pcm into path (a FIFO when seekable is false, read here on a thread of its own).
Outcome EncodeFile(const std::string &path, const std::vector<std::int16_t> &pcm, int rate,
                   int channels, unsigned kbps, unsigned threads, unsigned segment,
                   std::int64_t expected, bool seekable = true) {
    Outcome r;
    std::string piped;
    std::thread reader;
    if (!seekable)
        reader = std::thread([&] {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            char buf[65536];
            for (ssize_t n; fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0;)
                piped.append(buf, std::size_t(n));
            ::close(fd);
        });
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    SplicedMp3 enc(testutil::BinDir());
    enc.SetThreads(threads);
    enc.SetSegmentFrames(segment);
    const int chunk = enc.Open(fd, path, seekable, expected, rate, channels == 1 ? 4 : 1, kbps,
                               false, false, false, false);
    ::close(fd);
    bool ok = chunk > 0;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(pcm.data());
    for (std::size_t at = 0; ok && at < pcm.size() * 2; at += std::size_t(chunk))
        ok = enc.Write(bytes + at, std::min(std::size_t(chunk), pcm.size() * 2 - at));
    r.ok = enc.Close() && ok;
    r.reencoded = enc.Reencoded();
    if (reader.joinable())
        reader.join();
    Examine(seekable ? testutil::ReadFile(path) : piped, r);
    return r;
}

// Noise in bursts of random loudness, 97 sample frames each, from silence to near full scale:
// the bit reservoir of a stream started shortly before a seam differs from the one that ran
// up to it, and at a high bitrate that cannot always be made up.
std::vector<std::int16_t> Bursts(std::size_t frames, int channels, unsigned seed) {
    std::vector<std::int16_t> pcm(frames * std::size_t(channels));
    unsigned s = seed * 7919u;
    double level = 0, low = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        if (i % 97 == 0) {
            s = s * 1664525u + 1013904223u;
            const unsigned pick = (s >> 24) % 8;
            level = pick < 3 ? 0 : pick < 6 ? 0.05 * pick : 0.95;
        }
        for (int k = 0; k < channels; ++k) {
            s = s * 1664525u + 1013904223u;
            low = (seed % 2 ? 0.2 : 0.95) * low + double(s >> 8) / (1 << 24) - 0.5;
            pcm[i * std::size_t(channels) + std::size_t(k)] =
                std::int16_t(std::clamp(level * low * 30000, -32000.0, 32000.0));
        }
    }
    return pcm;
}

// Signal to noise ratio in dB of a decoded file against its source.
double Snr(const std::vector<std::int16_t> &source, const std::vector<std::int16_t> &decoded) {
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < std::min(source.size(), decoded.size()); ++i) {
        signal += double(source[i]) * source[i];
        noise += (double(source[i]) - decoded[i]) * (double(source[i]) - decoded[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

std::string Complaints(const std::string &path) {
    const std::string q = testutil::Quote(path);
    return testutil::Run("ffmpeg -v warning -i " + q + " -f null - 2>&1; mpg123 -t " + q +
                         " 2>&1 | grep -i -E 'warn|error|illegal|bad|junk'")
        .output;
}

} // namespace

// A rate the library resamples: an output still in the write buffer at Close gets its Info
// frame, which counts the frames in the file, and a gapless decoder gives back the input's
// length at the encoded rate.
TEST(SplicedResampled, InfoFrameCountsTheFramesWritten) {
    TempDir dir;
    struct C {
        int rate, channels, outRate, seconds;
        unsigned kbps;
    };
    // The library encodes 320 kbps as 160 at 22050 Hz, as 64 at 12000 Hz.
    for (const C c :
         {C{7000, 1, 8000, 1, 64}, C{44000, 2, 44100, 1, 64}, C{44000, 2, 44100, 7, 64},
          C{96000, 1, 48000, 3, 64}, C{20000, 2, 22050, 4, 320}, C{13000, 1, 12000, 4, 320}}) {
        const std::size_t length = std::size_t(c.rate * c.seconds);
        const auto pcm = Noise(length, c.channels, unsigned(c.rate));
        const std::string path = dir.File("r.mp3");
        const Outcome r = EncodeFile(path, pcm, c.rate, c.channels, c.kbps, 3, 16, -1);
        EXPECT_TRUE(r.ok && r.parsed && r.info) << c.rate;
        EXPECT_EQ(r.infoFrames, r.frames) << c.rate;
        const double want = double(length) * c.outRate / c.rate;
        const double got = double(enctest::Decode(path, c.channels).size()) / c.channels;
        EXPECT_NEAR(got, want, 2) << c.rate;
        EXPECT_EQ(Complaints(path), "") << c.rate;
    }
}

// On a pipe of known length the Info frame is computed up front: its byte count follows the
// bitrate the library encodes at, which is lower than the one asked for at some rates.
TEST(SplicedOutput, UpFrontInfoFrameTellsTheBytesOfTheEncodedBitrate) {
    TempDir dir;
    const std::string fifo = dir.File("out.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const int rate : {22050, 12000})
        for (const unsigned kbps : {128u, 320u}) {
            const std::size_t length = 7 * 16 * 576 + 100;
            const auto pcm = Noise(length, 2, kbps);
            const Outcome r =
                EncodeFile(fifo, pcm, rate, 2, kbps, 2, 16, std::int64_t(length), false);
            EXPECT_TRUE(r.ok && r.parsed && r.info) << rate << " " << kbps;
            EXPECT_EQ(r.infoFrames, r.frames) << rate << " " << kbps;
            // An estimate: frames raised at seams make the file a little longer.
            EXPECT_NEAR(double(r.infoBytes), double(r.bytes), double(r.bytes) / 50)
                << rate << " " << kbps;
        }
}

// Seams where no frame splices: the writer encodes the earlier stream on through the next
// segment (twice in a row too), and the file still has the serial encode's frames and length.
TEST(SplicedFallback, SeamsThatDoNotSpliceAreEncodedOn) {
    TempDir dir;
    struct C {
        int rate;
        unsigned kbps, seed;
    };
    // Which seams fail depends on the library's version: the signals together must meet some.
    unsigned reencoded = 0;
    for (const C c : {C{44100, 320, 1}, C{44100, 320, 3}, C{22050, 160, 4}, C{22050, 160, 6}}) {
        const int frameSamples = c.rate >= 32000 ? 1152 : 576;
        const std::size_t length = 12 * 16 * std::size_t(frameSamples) + 333;
        const auto pcm = Bursts(length, 2, c.seed);
        const Outcome serial =
            EncodeFile(dir.File("serial.mp3"), pcm, c.rate, 2, c.kbps, 1, 16, -1);
        const std::string path = dir.File("parallel.mp3");
        const Outcome r = EncodeFile(path, pcm, c.rate, 2, c.kbps, 2, 16, -1);
        std::printf("%d Hz seed %u: %u seams encoded on\n", c.rate, c.seed, r.reencoded);
        reencoded += r.reencoded;
        EXPECT_TRUE(r.ok && r.parsed && r.info && serial.ok);
        EXPECT_EQ(r.frames, serial.frames);
        EXPECT_EQ(r.infoFrames, r.frames);
        EXPECT_EQ(r.padding, serial.padding);
        const auto decoded = enctest::Decode(path, 2);
        EXPECT_EQ(decoded.size(), pcm.size());
        EXPECT_GT(Snr(pcm, decoded), Snr(pcm, enctest::Decode(dir.File("serial.mp3"), 2)) - 0.1);
        EXPECT_EQ(Complaints(path), "");
    }
    EXPECT_GE(reencoded, 3u);
}

// A stop after any number of writes, while the length is still unknown and once the workers
// run: Close succeeds and the file is whole, its Info frame telling the frames it holds.
TEST(SplicedOutput, StopAtAnyPointLeavesAWholeFile) {
    TempDir dir;
    const auto pcm = Noise(20 * 16 * 1152 + 77, 2, 9);
    const std::int64_t length = std::int64_t(pcm.size() / 2);
    for (const std::int64_t expected : {std::int64_t(-1), length})
        for (const unsigned threads : {2u, 3u})
            for (const std::size_t writes : {0u, 30u, 52u, 100u, 319u}) {
                const std::string path = dir.File("stopped.mp3");
                const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                SplicedMp3 enc(testutil::BinDir());
                enc.SetThreads(threads);
                enc.SetSegmentFrames(16);
                const int chunk =
                    enc.Open(fd, path, true, expected, 44100, 1, 128, false, false, false, false);
                ::close(fd);
                ASSERT_GT(chunk, 0);
                const auto *bytes = reinterpret_cast<const std::uint8_t *>(pcm.data());
                for (std::size_t n = 0; n < writes; ++n)
                    ASSERT_TRUE(enc.Write(bytes + n * std::size_t(chunk), std::size_t(chunk)));
                enc.Stop();
                EXPECT_TRUE(enc.Close());
                Outcome r;
                Examine(testutil::ReadFile(path), r);
                const std::string where = std::to_string(expected) + " " + std::to_string(threads) +
                                          " " + std::to_string(writes);
                EXPECT_TRUE(r.parsed) << where;
                EXPECT_EQ(r.infoFrames, r.frames) << where;
                if (r.frames == 0)
                    continue;
                EXPECT_EQ(enctest::Decode(path, 2).size() / 2,
                          r.frames * 1152 - 576 - std::size_t(r.padding))
                    << where;
                EXPECT_EQ(Complaints(path), "") << where;
            }
}

// With no thread to be had (a process limit), the encode goes on serially instead of ending the
// program. Root ignores the limit, so the child gives up root first.
TEST(SplicedOutput, NoThreadsToBeHadEncodesSerially) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to take another user's process limit";
    TempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    const auto pcm = Noise(6 * 16 * 1152 + 5, 2, 4);
    const std::string path = dir.File("limited.mp3");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit one{1, 1};
        if (::setrlimit(RLIMIT_NPROC, &one) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        try {
            const Outcome r = EncodeFile(path, pcm, 44100, 2, 128, 4, 16, -1);
            ::_exit(r.ok && r.parsed && r.info && r.frames == r.infoFrames ? 0 : 1);
        } catch (...) {
            ::_exit(4); // the thread that could not start escaped the encoder
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: a wrong file, 3: no other user, 4: an exception";
    EXPECT_EQ(enctest::Decode(path, 2).size(), pcm.size());
}
