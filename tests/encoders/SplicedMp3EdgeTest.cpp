// The spliced MP3 encoder at its edges: resampled rates, the writer's fallbacks, stops and
// failures.
#include "EncoderTestUtil.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using enctest::Noise;
using testutil::TempDir;

using enctest::Encode;
using enctest::Settings;
using testutil::DecoderComplaints;
using testutil::ParseMp3;

namespace {

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
        const auto e = Encode(path, pcm, {c.rate, c.channels, c.kbps, 0, 3});
        const auto r = ParseMp3(e.bytes);
        EXPECT_TRUE(e.ok && r.parsed && r.info) << c.rate;
        EXPECT_EQ(r.infoFrames, r.frames.size()) << c.rate;
        const double want = double(length) * c.outRate / c.rate;
        const double got = double(enctest::Decode(path, c.channels).size()) / c.channels;
        EXPECT_NEAR(got, want, 2) << c.rate;
        EXPECT_EQ(DecoderComplaints(path), "") << c.rate;
    }
}

// On a pipe of known length the Info frame is computed up front: its byte count follows the
// bitrate the library encodes at, which is lower than the one asked for at some rates.
TEST(SplicedOutput, UpFrontInfoFrameTellsTheBytesOfTheEncodedBitrate) {
    TempDir dir;
    for (const int rate : {22050, 12000})
        for (const unsigned kbps : {128u, 320u}) {
            const std::size_t length = 7 * 16 * 576 + 100;
            const auto pcm = Noise(length, 2, kbps);
            const auto e = Encode(dir.File("out.fifo"), pcm,
                                  {rate, 2, kbps, 0, 2, 16, false, std::int64_t(length)});
            const auto r = ParseMp3(e.bytes);
            EXPECT_TRUE(e.ok && r.parsed && r.info) << rate << " " << kbps;
            EXPECT_EQ(r.infoFrames, r.frames.size()) << rate << " " << kbps;
            // An estimate: frames raised at seams make the file a little longer.
            const double bytes = double(e.bytes.size());
            EXPECT_NEAR(double(r.infoBytes), bytes, bytes / 50) << rate << " " << kbps;
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
        const auto se = Encode(dir.File("serial.mp3"), pcm, {c.rate, 2, c.kbps});
        const std::string path = dir.File("parallel.mp3");
        const auto e = Encode(path, pcm, {c.rate, 2, c.kbps, 0, 2});
        reencoded += e.reencoded;
        const auto serial = ParseMp3(se.bytes), r = ParseMp3(e.bytes);
        EXPECT_TRUE(e.ok && r.parsed && r.info && se.ok);
        EXPECT_EQ(r.frames.size(), serial.frames.size());
        EXPECT_EQ(r.infoFrames, r.frames.size());
        EXPECT_EQ(r.padding, serial.padding);
        const auto decoded = enctest::Decode(path, 2);
        EXPECT_EQ(decoded.size(), pcm.size());
        EXPECT_GT(enctest::Measure(pcm, decoded, 2).snr,
                  enctest::Measure(pcm, enctest::Decode(dir.File("serial.mp3"), 2), 2).snr - 0.1);
        EXPECT_EQ(DecoderComplaints(path), "");
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
                Settings s;
                s.threads = threads;
                s.expected = expected;
                s.stopAfter = writes;
                const auto e = Encode(path, pcm, s);
                const auto r = ParseMp3(e.bytes);
                const std::string where = std::to_string(expected) + " " + std::to_string(threads) +
                                          " " + std::to_string(writes);
                EXPECT_TRUE(e.ok && r.parsed) << where;
                EXPECT_EQ(r.infoFrames, r.frames.size()) << where;
                // The work in flight is dropped, not finished; what was spliced stays.
                EXPECT_LT(r.frames.size(), std::max<std::size_t>(writes, 1)) << where;
                EXPECT_TRUE(writes < 319 || !r.frames.empty()) << where;
                if (r.frames.empty())
                    continue;
                EXPECT_TRUE(r.info) << where;
                EXPECT_EQ(enctest::Decode(path, 2).size() / 2,
                          r.frames.size() * 1152 - 576 - std::size_t(r.padding))
                    << where;
                EXPECT_EQ(DecoderComplaints(path), "") << where;
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
            const auto e = Encode(path, pcm, {44100, 2, 128, 0, 4});
            const auto r = ParseMp3(e.bytes);
            ::_exit(e.ok && r.parsed && r.info && r.frames.size() == r.infoFrames ? 0 : 1);
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
