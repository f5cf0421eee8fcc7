#include "encoders/SplicedMp3.h"
#include "EncoderTestUtil.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using enctest::Encode;
using enctest::Noise;
using enctest::Settings;
using testutil::DecoderComplaints;
using testutil::ParseMp3;
using testutil::TempDir;

namespace {

struct Case {
    int rate, channels;
    unsigned kbps, flags;
    int extra; // samples past a whole number of frames
};

class SplicedMatrix : public ::testing::TestWithParam<Case> {};

} // namespace

// Every rate, both channel counts, the bitrates from 32 to 320 kbps and every flag set: the
// parallel encode has the serial one's frames and samples, the serial one is today's encoder.
TEST_P(SplicedMatrix, SameFramesAndSamplesAsTheSerialEncode) {
    const Case c = GetParam();
    TempDir dir;
    const int frameSamples = c.rate >= 32000 ? 1152 : 576;
    const std::size_t length = std::size_t(5 * 16 * frameSamples + c.extra);
    const auto pcm = Noise(length, c.channels, unsigned(c.rate + c.flags));
    Settings s{c.rate, c.channels, c.kbps, c.flags};
    ASSERT_TRUE(Encode(dir.File("serial.mp3"), pcm, s).ok);
    s.threads = 3;
    const auto encoded = Encode(dir.File("parallel.mp3"), pcm, s);
    ASSERT_TRUE(encoded.ok);
    EXPECT_EQ(encoded.workers, 3u);

    WavToMp3 today(testutil::BinDir());
    ASSERT_GT(today.Open(dir.File("today.mp3"), c.rate, c.channels == 1 ? 4 : 1, c.kbps,
                         c.flags & 1, c.flags & 2, c.flags & 4, c.flags & 8),
              0);
    ASSERT_GE(today.Encode(pcm.data(), int(pcm.size() * 2)), 0);
    ASSERT_TRUE(today.Close());

    const auto serial = ParseMp3(testutil::ReadFile(dir.File("serial.mp3")), c.flags);
    const auto parallel = ParseMp3(testutil::ReadFile(dir.File("parallel.mp3")), c.flags);
    EXPECT_EQ(serial.audio, testutil::ReadFile(dir.File("today.mp3")));
    for (const auto *st : {&serial, &parallel}) {
        EXPECT_TRUE(st->parsed && st->info && st->flagsKept && st->crcsValid);
        EXPECT_EQ(st->infoFrames, st->frames.size());
    }
    EXPECT_EQ(parallel.frames.size(), serial.frames.size());
    EXPECT_EQ(parallel.padding, serial.padding);
    for (const mp3::FrameHeader &h : parallel.frames)
        EXPECT_GE(h.bitrateIndex, serial.frames[0].bitrateIndex);
    for (const char *name : {"serial.mp3", "parallel.mp3"})
        EXPECT_EQ(enctest::Decode(dir.File(name), c.channels).size(), pcm.size()) << name;
    const auto mpg123 =
        testutil::Run("mpg123 -q -s " + dir.File("parallel.mp3") + " >" + dir.File("mpg123.raw"));
    EXPECT_EQ(testutil::ReadFile(dir.File("mpg123.raw")).size(), pcm.size() * 2) << mpg123.output;

    EXPECT_EQ(DecoderComplaints(dir.File("parallel.mp3")), "");
}

// Each rate once, mono and stereo in turn; each flag on and off; lengths on and off the frame.
INSTANTIATE_TEST_SUITE_P(RatesBitratesFlags, SplicedMatrix,
                         ::testing::Values(Case{8000, 1, 32, 0, 0}, Case{11025, 2, 64, 1, 577},
                                           Case{12000, 1, 48, 2, 0}, Case{16000, 2, 160, 3, 1000},
                                           Case{22050, 1, 96, 4, 1}, Case{24000, 2, 128, 5, 575},
                                           Case{32000, 1, 32, 6, 1151}, Case{44100, 2, 320, 7, 0},
                                           Case{48000, 1, 256, 8, 3}, Case{44100, 1, 192, 9, 700},
                                           Case{32000, 2, 224, 10, 0},
                                           Case{48000, 2, 112, 11, 1153},
                                           Case{22050, 2, 160, 12, 0}, Case{16000, 1, 64, 13, 7},
                                           Case{44100, 2, 128, 14, 2303},
                                           Case{48000, 2, 320, 15, 0}));

namespace {

// 44100 Hz stereo: tones that glide with noise, pink-like noise, clicks at segment starts and
// a pure tone.
std::vector<std::int16_t> Signal(int kind, std::size_t frames, std::size_t segmentSamples) {
    std::vector<std::int16_t> pcm(frames * 2);
    unsigned seed = 12345;
    double b0 = 0, b1 = 0, b2 = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = double(i) / 44100;
        seed = seed * 1664525u + 1013904223u;
        const double white = double(seed >> 8) / (1 << 24) - 0.5;
        b0 = 0.99 * b0 + 0.1 * white;
        b1 = 0.9 * b1 + 0.3 * white;
        b2 = 0.5 * b2 + 0.5 * white;
        double v = 0;
        if (kind == 0)
            v = 0.25 * std::sin(2 * M_PI * (220 + 40 * std::sin(t)) * t) +
                0.15 * std::sin(2 * M_PI * 660 * t) * (0.5 + 0.5 * std::sin(3 * t)) + 0.2 * b1;
        else if (kind == 1)
            v = 0.6 * (b0 + b1 + b2);
        else if (kind == 2)
            v = 0.05 * std::sin(2 * M_PI * 330 * t) + (i % segmentSamples < 8 ? 0.9 : 0);
        else
            v = 0.5 * std::sin(2 * M_PI * 1000 * t);
        const auto s = std::int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32000));
        pcm[2 * i] = s;
        pcm[2 * i + 1] = std::int16_t(s / 2);
    }
    return pcm;
}

} // namespace

// Music-like signals: the whole file's SNR is the serial encode's within 0.1 dB, and no frame
// near a seam has much more error than the serial encode's same frame.
TEST(SplicedQuality, SeamsCostNoAudibleError) {
    TempDir dir;
    const unsigned segment = 48;
    const std::size_t frames = 14 * 44100;
    for (int kind = 0; kind < 4; ++kind) {
        const auto pcm = Signal(kind, frames, segment * 1152);
        Settings s;
        s.flags = kind == 2 ? 2 : 0; // a raised frame's CRC is rewritten
        ASSERT_TRUE(Encode(dir.File("serial.mp3"), pcm, s).ok);
        s.threads = 2;
        s.segment = segment;
        const auto encoded = Encode(dir.File("parallel.mp3"), pcm, s);
        ASSERT_TRUE(encoded.ok);
        const auto serial = enctest::Measure(pcm, enctest::Decode(dir.File("serial.mp3"), 2), 2);
        const auto parallel =
            enctest::Measure(pcm, enctest::Decode(dir.File("parallel.mp3"), 2), 2);
        EXPECT_GT(parallel.snr, serial.snr - 0.1) << "signal " << kind;
        double mean = 0;
        for (double e : serial.frameError)
            mean += e / double(serial.frameError.size());
        // A frame the serial encode got far below the average error is held to a tenth of it.
        double worst = 0;
        for (std::size_t seam = segment; seam + 3 < serial.frameError.size(); seam += segment)
            for (std::size_t k = seam - 2; k <= seam + 3; ++k)
                worst =
                    std::max(worst, parallel.frameError[k] / (serial.frameError[k] + 0.1 * mean));
        EXPECT_LT(worst, 2.5) << "signal " << kind;
        EXPECT_EQ(DecoderComplaints(dir.File("parallel.mp3")), "");
        const auto st = ParseMp3(encoded.bytes, s.flags);
        EXPECT_TRUE(st.parsed && st.flagsKept && st.crcsValid);
    }
}

// On a pipe the Info frame is computed up front when the length is known, else left out; a
// gapless decoder then gives back exactly the input.
TEST(SplicedOutput, PipesGetTheInfoFrameOnlyWhenTheLengthIsKnown) {
    TempDir dir;
    for (const auto &[rate, kbps] : std::vector<std::pair<int, unsigned>>{
             {44100, 128}, {22050, 128}, {22050, 320}, {12000, 128}, {12000, 320}}) {
        SCOPED_TRACE(std::to_string(rate) + " Hz " + std::to_string(kbps) + " kbps");
        const auto pcm = Noise(7 * 16 * std::size_t(rate >= 32000 ? 1152 : 576) + 100, 2, kbps);
        Settings s{rate, 2, kbps, 0, 2, 16, false, std::int64_t(pcm.size() / 2)};
        const auto known = Encode(dir.File("out.fifo"), pcm, s);
        s.expected = -1;
        const auto unknown = Encode(dir.File("out.fifo"), pcm, s);
        s.seekable = true;
        const auto file = Encode(dir.File("file.mp3"), pcm, s);
        ASSERT_TRUE(known.ok && unknown.ok && file.ok);

        const auto k = ParseMp3(known.bytes), u = ParseMp3(unknown.bytes), f = ParseMp3(file.bytes);
        EXPECT_TRUE(k.parsed && k.info && u.parsed && !u.info && f.parsed && f.info);
        EXPECT_EQ(u.audio, f.audio);
        EXPECT_EQ(k.infoFrames, f.infoFrames);
        EXPECT_EQ(k.infoFrames, k.frames.size());
        EXPECT_EQ(k.padding, f.padding);
        testutil::WriteFile(dir.File("known.mp3"), known.bytes);
        EXPECT_EQ(enctest::Decode(dir.File("known.mp3"), 2).size(), pcm.size());
        EXPECT_EQ(DecoderComplaints(dir.File("known.mp3")), "");
    }
}

// The library's failures and a full disk say what the serial encoder says, once, however many
// workers meet them.
TEST(SplicedOutput, FailuresAreReportedOnce) {
    TempDir dir;
    const auto pcm = Noise(8 * 16 * 1152, 2, 5);
    const auto run = [&](const std::string &libraryFolder, const std::string &path) {
        enctest::RecordingSink sink;
        Settings s;
        s.threads = 3;
        s.library = libraryFolder;
        EXPECT_FALSE(Encode(path, pcm, s).ok);
        std::vector<std::string> texts;
        for (const auto &m : sink.shown)
            texts.push_back(m.caption + ": " + m.text);
        return texts;
    };
    TempDir empty;
    EXPECT_EQ(run(empty.Path(), dir.File("a.mp3")),
              std::vector<std::string>{"Lame Encoder: Could not load lame_enc.dll file"});
    EXPECT_EQ(run(std::string(FAKE_LIB_DIR) + "/fake5", dir.File("a.mp3")),
              std::vector<std::string>{"Lame Encoder: Could not perform compression"});
    const std::string full = testutil::MakeFullDevice(dir);
    if (full.empty())
        GTEST_SKIP() << "cannot make a device here";
    EXPECT_EQ(run(testutil::BinDir(), full),
              std::vector<std::string>{"Lame Encoder: Could not write the file.\n" + full +
                                       "\nNo space left on device"});
}

// At its edges: resampled rates, the writer's fallbacks, stops and a want of threads.
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
        SCOPED_TRACE(c.rate);
        const std::size_t length = std::size_t(c.rate * c.seconds);
        const auto pcm = Noise(length, c.channels, unsigned(c.rate));
        const std::string path = dir.File("r.mp3");
        const auto e = Encode(path, pcm, {c.rate, c.channels, c.kbps, 0, 3});
        const auto r = ParseMp3(e.bytes);
        EXPECT_TRUE(e.ok && r.parsed && r.info);
        EXPECT_EQ(r.infoFrames, r.frames.size());
        const double want = double(length) * c.outRate / c.rate;
        const double got = double(enctest::Decode(path, c.channels).size()) / c.channels;
        EXPECT_NEAR(got, want, 2);
        EXPECT_EQ(DecoderComplaints(path), "");
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

// An Info frame computed up front for a pipe states the very frames and bytes that follow it:
// serially, on many workers, at bitrates the library lowers, where seams need more room than
// the frame before them has or do not splice at all, and at a length where the padding runs
// one byte past the mean bitrate. Every frame has the serial encode's length.
TEST(SplicedOutput, PipedInfoFrameStatesTheStreamExactly) {
    TempDir dir;
    struct C {
        int rate;
        unsigned kbps, threads, seed; // seed 0: noise, else bursts
        std::size_t frames;           // sample frames, 0: 12 segments and a bit
    };
    for (const C c : {C{44100, 64, 16, 0, 0}, C{44100, 128, 4, 2, 0}, C{44100, 320, 4, 1, 0},
                      C{22050, 320, 3, 4, 0}, C{48000, 64, 4, 5, 0}, C{44100, 320, 1, 0, 1161217},
                      C{44100, 320, 4, 0, 1161217}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz " + std::to_string(c.kbps) + " kbps " +
                     std::to_string(c.threads) + " workers");
        const std::size_t frameSamples = c.rate >= 32000 ? 1152 : 576;
        const std::size_t length = c.frames ? c.frames : 12 * 16 * frameSamples + 333;
        const auto pcm = c.seed ? Bursts(length, 2, c.seed) : Noise(length, 2, c.kbps);
        Settings s{c.rate, 2, c.kbps, 0, c.threads, 16, false, std::int64_t(length)};
        const auto piped = Encode(dir.File("out.fifo"), pcm, s);
        const auto serial = Encode(dir.File("serial.mp3"), pcm, {c.rate, 2, c.kbps});
        ASSERT_TRUE(piped.ok && serial.ok);
        const auto p = ParseMp3(piped.bytes), se = ParseMp3(serial.bytes);
        ASSERT_TRUE(p.parsed && p.info);
        EXPECT_EQ(p.infoBytes, piped.bytes.size());
        EXPECT_EQ(p.infoFrames, p.frames.size());
        ASSERT_EQ(p.frames.size(), se.frames.size());
        std::size_t differ = 0;
        for (std::size_t k = 0; k < p.frames.size(); ++k)
            differ += p.frames[k].length != se.frames[k].length;
        EXPECT_EQ(differ, 0u) << "frames whose length is not the serial encode's";
        testutil::WriteFile(dir.File("piped.mp3"), piped.bytes);
        EXPECT_EQ(enctest::Decode(dir.File("piped.mp3"), 2).size(), pcm.size());
        EXPECT_EQ(DecoderComplaints(dir.File("piped.mp3")), "");
    }
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
                SCOPED_TRACE(std::to_string(expected) + " " + std::to_string(threads) + " " +
                             std::to_string(writes));
                EXPECT_TRUE(e.ok && r.parsed);
                EXPECT_EQ(r.infoFrames, r.frames.size());
                // The work in flight is dropped, not finished; what was spliced stays.
                EXPECT_LT(r.frames.size(), std::max<std::size_t>(writes, 1));
                EXPECT_TRUE(writes < 319 || !r.frames.empty());
                if (r.frames.empty())
                    continue;
                EXPECT_TRUE(r.info);
                EXPECT_EQ(enctest::Decode(path, 2).size() / 2,
                          r.frames.size() * 1152 - 576 - std::size_t(r.padding));
                EXPECT_EQ(DecoderComplaints(path), "");
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

// The LAME tag's CRCs, eight bytes at a time, against the polynomial bit by bit: every length
// and start value, so no byte of a tail or of the table's layout is taken wrong.
TEST(SplicedOutput, MusicCrcMatchesTheBitwiseCrc) {
    std::vector<std::uint8_t> data(4099);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = std::uint8_t(i * 2654435761u >> 13);
    const auto bitwise = testutil::BitwiseCrc16;
    for (std::size_t n : {0, 1, 7, 8, 9, 16, 17, 255, 256, 257, 319, 320, 1000, 4096})
        for (std::uint16_t start : {0x0000, 0x1234, 0xFFFF})
            for (std::size_t at : {0, 1, 3})
                EXPECT_EQ(mp3::Crc16Arc(start, data.data() + at, n),
                          bitwise(start, data.data() + at, n))
                    << n << " bytes at " << at << " from " << start;
    // Parts' CRCs combined as the whole's.
    for (std::size_t cut : {0, 1, 300, 2048, 4099})
        for (std::uint16_t start : {0x0000, 0xBEEF})
            EXPECT_EQ(mp3::Crc16ArcCombine(mp3::Crc16Arc(start, data.data(), cut),
                                           mp3::Crc16Arc(0, data.data() + cut, 4099 - cut),
                                           4099 - cut),
                      bitwise(start, data.data(), 4099))
                << "cut at " << cut << " from " << start;
}
