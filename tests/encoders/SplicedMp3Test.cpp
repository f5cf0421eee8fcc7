#include "encoders/SplicedMp3.h"
#include "EncoderTestUtil.h"
#include "TestUtil.h"
#include "audio/Mp3Header.h"
#include "encoders/Mp3Bitstream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using enctest::Noise;
using testutil::TempDir;

namespace {

struct Settings {
    int rate = 44100, channels = 2;
    unsigned kbps = 128;
    unsigned flags = 0; // 1 copyright, 2 CRC, 4 original, 8 private
    unsigned threads = 1, segment = 16;
    bool seekable = true;
    std::int64_t expected = -1;
};

int Mode(const Settings &s) {
    return s.channels == 1 ? 4 : 1;
}

// Encodes pcm into path through SplicedMp3 (the file may be a FIFO being read elsewhere).
bool Encode(const std::string &path, const std::vector<std::int16_t> &pcm, const Settings &s,
            unsigned *workers = nullptr) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    SplicedMp3 enc(testutil::BinDir());
    enc.SetThreads(s.threads);
    enc.SetSegmentFrames(s.segment);
    const int chunk = enc.Open(fd, path, s.seekable, s.expected, s.rate, Mode(s), s.kbps,
                               s.flags & 1, s.flags & 2, s.flags & 4, s.flags & 8);
    ::close(fd);
    bool ok = chunk > 0;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(pcm.data());
    for (std::size_t at = 0; ok && at < pcm.size() * 2; at += std::size_t(chunk))
        ok = enc.Write(bytes + at, std::min<std::size_t>(std::size_t(chunk), pcm.size() * 2 - at));
    if (workers)
        *workers = enc.Workers();
    return enc.Close() && ok;
}

// The frames of a file: the Info frame (if any) apart, the audio frames checked one by one.
struct Stream {
    bool parsed = true, info = false, flagsKept = true, crcsValid = true;
    std::uint32_t infoFrames = 0;
    int padding = -1;
    std::string audio; // the audio frames' bytes
    std::vector<mp3::FrameHeader> frames;
};

Stream Parse(const std::string &file, unsigned flags) {
    Stream s;
    const auto *data = reinterpret_cast<const std::uint8_t *>(file.data());
    std::size_t at = 0;
    while (at < file.size()) {
        mp3::FrameHeader h;
        if (!mp3::ParseHeader(data + at, file.size() - at, h) || at + h.length > file.size()) {
            s.parsed = false;
            break;
        }
        const std::uint8_t *f = data + at;
        const bool info = at == 0 && std::memcmp(f + 4 + h.sideInfo, "Info", 4) == 0;
        s.flagsKept = s.flagsKept && bool(f[3] & 8) == bool(flags & 1) &&
                      h.crc == bool(flags & 2) && bool(f[3] & 4) == bool(flags & 4) &&
                      bool(f[2] & 1) == bool(flags & 8);
        if (info) {
            const std::uint8_t *x = f + 4 + h.sideInfo;
            s.info = true;
            s.infoFrames = std::uint32_t(x[8] << 24 | x[9] << 16 | x[10] << 8 | x[11]);
            s.padding = (x[120 + 22] & 15) << 8 | x[120 + 23];
        } else {
            if (h.crc)
                s.crcsValid = s.crcsValid && mp3::HeaderCrc(f, 6, h.sideInfo) == (f[4] << 8 | f[5]);
            s.frames.push_back(h);
            s.audio.append(file, at, h.length);
        }
        at += h.length;
    }
    return s;
}

// What ffmpeg and mpg123 say about a file beyond decoding it.
std::string DecoderComplaints(const std::string &path) {
    const std::string q = testutil::Quote(path);
    return testutil::Run("ffmpeg -v warning -i " + q + " -f null - 2>&1; mpg123 -t " + q +
                         " 2>&1 | grep -i -E 'warn|error|illegal|bad|junk'")
        .output;
}

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
    ASSERT_TRUE(Encode(dir.File("serial.mp3"), pcm, s));
    s.threads = 3;
    unsigned workers = 0;
    ASSERT_TRUE(Encode(dir.File("parallel.mp3"), pcm, s, &workers));
    EXPECT_EQ(workers, 3u);

    WavToMp3 today(testutil::BinDir());
    ASSERT_GT(today.Open(dir.File("today.mp3"), c.rate, Mode(s), c.kbps, c.flags & 1, c.flags & 2,
                         c.flags & 4, c.flags & 8),
              0);
    ASSERT_GE(today.Encode(pcm.data(), int(pcm.size() * 2)), 0);
    ASSERT_TRUE(today.Close());

    const Stream serial = Parse(testutil::ReadFile(dir.File("serial.mp3")), c.flags);
    const Stream parallel = Parse(testutil::ReadFile(dir.File("parallel.mp3")), c.flags);
    EXPECT_EQ(serial.audio, testutil::ReadFile(dir.File("today.mp3")));
    for (const Stream *st : {&serial, &parallel}) {
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

struct Quality {
    double snr = 0;                 // dB over the whole file
    std::vector<double> frameError; // per MP3 frame, in the source's time
};

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
        ASSERT_TRUE(Encode(dir.File("serial.mp3"), pcm, s));
        s.threads = 2;
        s.segment = segment;
        ASSERT_TRUE(Encode(dir.File("parallel.mp3"), pcm, s));
        const Quality serial = Measure(pcm, enctest::Decode(dir.File("serial.mp3"), 2), 2);
        const Quality parallel = Measure(pcm, enctest::Decode(dir.File("parallel.mp3"), 2), 2);
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
        int raised = 0;
        const Stream st = Parse(testutil::ReadFile(dir.File("parallel.mp3")), s.flags);
        EXPECT_TRUE(st.parsed && st.flagsKept && st.crcsValid);
        for (const mp3::FrameHeader &h : st.frames)
            raised += h.bitrateIndex != 9;
        std::printf("signal %d: SNR %.3f dB serial, %.3f dB parallel; worst seam frame %.2f; %d "
                    "frames raised\n",
                    kind, serial.snr, parallel.snr, worst, raised);
    }
}

namespace {

// Encodes into a FIFO read on a thread of its own; returns what came through.
std::string EncodeThroughFifo(const TempDir &dir, const std::vector<std::int16_t> &pcm,
                              const Settings &s) {
    const std::string fifo = dir.File("out.fifo");
    ::unlink(fifo.c_str());
    if (::mkfifo(fifo.c_str(), 0600) != 0)
        return {};
    std::string got;
    std::thread reader([&] {
        const int fd = ::open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
        char buf[65536];
        for (ssize_t n; fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0;)
            got.append(buf, std::size_t(n));
        ::close(fd);
    });
    const bool ok = Encode(fifo, pcm, s);
    reader.join();
    return ok ? got : std::string();
}

} // namespace

// On a pipe the Info frame is computed up front when the length is known, else left out; a
// gapless decoder then gives back exactly the input.
TEST(SplicedOutput, PipesGetTheInfoFrameOnlyWhenTheLengthIsKnown) {
    TempDir dir;
    const auto pcm = Noise(7 * 16 * 1152 + 100, 2, 7);
    Settings s;
    s.threads = 2;
    s.seekable = false;
    s.expected = std::int64_t(pcm.size() / 2);
    const std::string known = EncodeThroughFifo(dir, pcm, s);
    s.expected = -1;
    const std::string unknown = EncodeThroughFifo(dir, pcm, s);
    s.seekable = true;
    ASSERT_TRUE(Encode(dir.File("file.mp3"), pcm, s));
    const std::string file = testutil::ReadFile(dir.File("file.mp3"));

    const Stream k = Parse(known, 0), u = Parse(unknown, 0), f = Parse(file, 0);
    EXPECT_TRUE(k.parsed && k.info && u.parsed && !u.info && f.parsed && f.info);
    EXPECT_EQ(k.audio, f.audio);
    EXPECT_EQ(u.audio, f.audio);
    EXPECT_EQ(k.infoFrames, f.infoFrames);
    EXPECT_EQ(k.padding, f.padding);
    testutil::WriteFile(dir.File("known.mp3"), known);
    EXPECT_EQ(enctest::Decode(dir.File("known.mp3"), 2).size(), pcm.size());
    EXPECT_EQ(DecoderComplaints(dir.File("known.mp3")), "");
}

// A stop drops the work in flight; the file ends with the frames already spliced, and its Info
// frame tells their length.
TEST(SplicedOutput, StopEndsTheFileWithWhatIsDone) {
    TempDir dir;
    const std::string path = dir.File("stopped.mp3");
    const auto pcm = Noise(40 * 16 * 1152, 2, 3);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    SplicedMp3 enc(testutil::BinDir());
    enc.SetThreads(2);
    enc.SetSegmentFrames(16);
    const int chunk = enc.Open(fd, path, true, std::int64_t(pcm.size() / 2), 44100, 1, 128, false,
                               false, false, false);
    ::close(fd);
    ASSERT_GT(chunk, 0);
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(pcm.data());
    for (std::size_t at = 0; at < pcm.size(); at += std::size_t(chunk))
        ASSERT_TRUE(enc.Write(bytes + at, std::size_t(chunk)));
    enc.Stop();
    EXPECT_TRUE(enc.Close());
    const Stream st = Parse(testutil::ReadFile(path), 0);
    ASSERT_TRUE(st.parsed && st.info);
    EXPECT_GT(st.frames.size(), 0u);
    EXPECT_LT(st.frames.size(), pcm.size() / 2 / 1152);
    EXPECT_EQ(st.infoFrames, st.frames.size());
    const std::size_t decoded = enctest::Decode(path, 2).size() / 2;
    EXPECT_EQ(decoded, st.frames.size() * 1152 - 576 - std::size_t(st.padding));
    EXPECT_EQ(DecoderComplaints(path), "");
}

// The library's failures and a full disk say what the serial encoder says, once, however many
// workers meet them.
TEST(SplicedOutput, FailuresAreReportedOnce) {
    TempDir dir;
    const auto pcm = Noise(8 * 16 * 1152, 2, 5);
    const auto run = [&](const std::string &libraryFolder, const std::string &path) {
        enctest::RecordingSink sink;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        SplicedMp3 enc(libraryFolder);
        enc.SetThreads(3);
        enc.SetSegmentFrames(16);
        const int chunk = enc.Open(fd, path, true, -1, 44100, 1, 128, false, false, false, false);
        ::close(fd);
        bool ok = chunk > 0;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(pcm.data());
        for (std::size_t at = 0; ok && at < pcm.size() * 2; at += std::size_t(chunk))
            ok = enc.Write(bytes + at, std::min(std::size_t(chunk), pcm.size() * 2 - at));
        EXPECT_FALSE(enc.Close() && ok);
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
