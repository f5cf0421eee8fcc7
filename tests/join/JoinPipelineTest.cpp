#include "JoinTestSupport.h"
#include "common/FileIo.h"
#include "join/Convert.h"
#include "join/EncoderSinks.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tandrel;
using namespace testutil;
using namespace jointest;

namespace {

void Sox(const std::string &args, const std::string &path,
         const std::string &synth = "0.3 sine 300") {
    const CommandResult r = Run("sox -n " + args + " " + Quote(path) + " synth " + synth);
    ASSERT_EQ(r.exitCode, 0) << r.output;
}

TEST(JoinPipeline, SameFormatJoinIsTheDataChunksOneAfterTheOther) {
    TempDir dir, tmp;
    MessageLog log;
    Sox("-r 44100 -c 2 -b 16", dir.File("a.wav"));
    WavLayout wav;
    wav.formatSize = 18;
    wav.extraChunks = {{"LIST", std::string(10, 'L')}};
    wav.data = std::string(30000, '\x11');
    WriteFile(dir.File("b.WAV"), BuildWav(wav));
    Sox("-r 44100 -c 2 -b 16", dir.File("c.wav"));
    const PcmFormat f{44100, 2, 16};
    JoinRequest req =
        WavJoin(tmp, {{dir.File("a.wav"), f}, {dir.File("b.WAV"), f}, {dir.File("c.wav"), f}},
                dir.File("out.wav"));
    Recorder rec;
    ASSERT_EQ(RunJoin(req, rec), JoinStatus::Ok);
    EXPECT_TRUE(log.shown.empty());
    const std::string out = ReadFile(dir.File("out.wav"));
    EXPECT_EQ(out.substr(44), DataChunk(ReadFile(dir.File("a.wav"))) + wav.data +
                                  DataChunk(ReadFile(dir.File("c.wav"))));
    EXPECT_EQ(GetLE32(out, 40), out.size() - 44);
    EXPECT_EQ(rec.labels.back(), dir.File("out.wav"));
    EXPECT_EQ(rec.labels.size(), 4u);
    EXPECT_EQ(rec.bar2.back(), 100);
    EXPECT_TRUE(Listing(tmp.Path()).empty());
    EXPECT_EQ(Listing(dir.Path()).size(), 4u);
}

TEST(JoinPipeline, MixedFormatsLastAsLongAsTheirSumInBothPaths) {
    TempDir dir, tmp;
    Sox("-r 22050 -c 1 -b 8 -e unsigned-integer", dir.File("a.wav"));
    Sox("-r 44100 -c 2 -b 16", dir.File("b.wav"));
    Sox("-r 11025 -c 1 -b 16", dir.File("c.wav"));
    Sox("-r 48000 -c 1 -b 24 -t wavpcm", dir.File("d.wav"));
    JoinRequest req = WavJoin(tmp,
                              {{dir.File("a.wav"), {22050, 1, 8}},
                               {dir.File("b.wav"), {44100, 2, 16}},
                               {dir.File("c.wav"), {11025, 1, 16}},
                               {dir.File("d.wav"), {48000, 1, 24}}},
                              dir.File("out.wav"));
    EXPECT_EQ(req.target, (PcmFormat{48000, 2, 24}));
    Recorder rec;
    ASSERT_EQ(RunJoin(req, rec), JoinStatus::Ok);
    const std::string out = dir.File("out.wav");
    EXPECT_EQ(ProbeStreamField(out, "sample_rate"), "48000");
    EXPECT_EQ(ProbeStreamField(out, "channels"), "2");
    EXPECT_EQ(ProbeStreamField(out, "bits_per_sample"), "24");
    // The single-precision repeat count may lose a frame per input.
    EXPECT_NEAR(ProbeDuration(out), 1.2, 5.0 / 48000);

    req.direct = true;
    req.output.path = dir.File("direct.wav");
    Recorder direct;
    ASSERT_EQ(RunJoin(req, direct), JoinStatus::Ok);
    EXPECT_EQ(ReadFile(dir.File("direct.wav")), ReadFile(out));
    EXPECT_TRUE(direct.bar2 == std::vector<int>{0});
    EXPECT_TRUE(Listing(tmp.Path()).empty());
}

TEST(JoinPipeline, ProgressIsTheTruncatedPercentageOfEachBlock) {
    TempDir dir, tmp;
    Recorder rec;
    ASSERT_EQ(RunJoin(WavJoin(tmp, {{WavFile(dir, "a.wav", 30820, 'x'), {44100, 2, 16}}},
                              dir.File("o.wav")),
                      rec),
              JoinStatus::Ok);
    EXPECT_EQ(rec.bar1, (std::vector<int>{0, 33, 66, 99, 100}));
    // The output stage's copy by the kernel: one range.
    EXPECT_EQ(rec.bar2, (std::vector<int>{0, 100}));
    EXPECT_EQ(rec.checks, 5);
}

struct FakeEncoderLog {
    OutputSettings settings;
    PcmFormat opened;
    std::string path, pcm;
    std::size_t largestWrite = 0;
    bool closed = false;
};

class FakeEncoder : public OutputSink {
public:
    explicit FakeEncoder(FakeEncoderLog &log) : log_(log) {}
    bool Open(const OutputTarget &target, const PcmFormat &format, std::int64_t) override {
        log_.path = target.writePath;
        log_.opened = format;
        return true;
    }
    std::size_t ChunkBytes() const override { return 4608; }
    bool Write(const std::uint8_t *data, std::size_t count) override {
        log_.pcm.append(reinterpret_cast<const char *>(data), count);
        log_.largestWrite = std::max(log_.largestWrite, count);
        return true;
    }
    bool Close() override {
        WriteFile(log_.path, "encoded");
        log_.closed = true;
        return true;
    }

private:
    FakeEncoderLog &log_;
};

TEST(JoinPipeline, EncodersGetSixteenBitSamplesOnePerEightBitByte) {
    TempDir dir, tmp;
    WavLayout wav;
    wav.channels = 1;
    wav.bits = 8;
    wav.sampleRate = 11025;
    wav.data = std::string("\x00\x01\x40\x7f\x80\x81\xff", 7) + std::string(9000, '\x90');
    WriteFile(dir.File("a.wav"), BuildWav(wav));
    JoinRequest req = WavJoin(tmp, {{dir.File("a.wav"), {11025, 1, 8}}}, dir.File("o.mp3"));
    req.output.kind = OutputKind::Mp3;
    FakeEncoderLog fake;
    req.makeEncoder = [&](const OutputSettings &s) {
        fake.settings = s;
        return std::make_unique<FakeEncoder>(fake);
    };
    Recorder rec;
    ASSERT_EQ(RunJoin(req, rec), JoinStatus::Ok);
    EXPECT_EQ(fake.opened, (PcmFormat{11025, 1, 16}));
    // The encoder writes an unnamed file beside the output (or a hidden one where there are none).
    EXPECT_TRUE(fake.path.rfind("/proc/self/fd/", 0) == 0 || DirName(fake.path) == dir.Path());
    ASSERT_EQ(fake.pcm.size(), wav.data.size() * 2);
    EXPECT_EQ(fake.pcm.substr(0, 14), Samples16({-32767, -32511, -16383, -255, 0, 255, 32511}));
    EXPECT_EQ(fake.largestWrite, 4608u);
    EXPECT_EQ(rec.bar2.back(), 100);
    EXPECT_EQ(ReadFile(dir.File("o.mp3")), "encoded");
    EXPECT_EQ(Listing(dir.Path()).size(), 2u);

    // 24-bit joins are rounded to 16 bits for the encoder.
    wav = WavLayout{};
    wav.bits = 24;
    wav.data = std::string("\x80\x00\x00\xff\xff\x7f", 6);
    WriteFile(dir.File("b.wav"), BuildWav(wav));
    req = WavJoin(tmp, {{dir.File("b.wav"), {44100, 2, 24}}}, dir.File("o.wma"));
    req.output.kind = OutputKind::Wma;
    req.makeEncoder = [&](const OutputSettings &) { return std::make_unique<FakeEncoder>(fake); };
    fake.pcm.clear();
    ASSERT_EQ(RunJoin(req, rec), JoinStatus::Ok);
    EXPECT_EQ(fake.pcm, Samples16({1, 32767}));
}

// What the window's settings become: an empty list, the largest of each field, the bitrate
// capped at 64 kbps at low rates, one channel mono.
TEST(JoinPipeline, TargetAndEncoderSettings) {
    EXPECT_EQ(ComputeTargetFormat({}), (PcmFormat{0, 1, 8}));
    EXPECT_EQ(ComputeTargetFormat({{22050, 1, 16}, {44100, 1, 8}, {8000, 2, 8}}),
              (PcmFormat{44100, 2, 16}));
    EXPECT_EQ(Mp3Kbps(3, 11025), 64);
    EXPECT_EQ(Mp3Kbps(3, 22050), 128);
    EXPECT_EQ(Mp3Mode(1), 4);
    EXPECT_EQ(InputBlockBytes({22050, 2, 8}, {44100, 2, 16}), 10240u);
    EXPECT_EQ(InputBlockBytes({22050, 2, 16}, {44100, 2, 16}), 20480u);
}

// The window's MP3 stage on two workers: the second bar follows the frames written, not the
// PCM handed over, and the file decodes to exactly the joined samples.
TEST(JoinPipeline, Mp3StageShowsTheShareEncoded) {
    TempDir dir, tmp;
    MessageLog log;
    Sox("-r 44100 -c 2 -b 16", dir.File("a.wav"), "9.5 pinknoise vol 0.3");
    JoinRequest req = WavJoin(tmp, {Listed(dir.File("a.wav"))}, dir.File("o.mp3"));
    req.output.kind = OutputKind::Mp3;
    req.output.mp3Threads = 2;
    req.output.mp3SegmentFrames = 16;
    req.makeEncoder = MakeEncoderSink;
    Recorder rec;
    ASSERT_EQ(RunJoin(req, rec), JoinStatus::Ok);
    EXPECT_TRUE(log.shown.empty());
    ASSERT_GE(rec.bar2.size(), 3u);
    EXPECT_TRUE(std::is_sorted(rec.bar2.begin(), rec.bar2.end()));
    EXPECT_EQ(rec.bar2.back(), 100);
    // When the last PCM went in, at least the last segment (4 % here) was still encoding.
    EXPECT_LE(rec.bar2[rec.bar2.size() - 2], 96);
    EXPECT_EQ(Decode(dir.File("o.mp3"), 2).size(), std::size_t(9.5 * 44100) * 2);
}

} // namespace
