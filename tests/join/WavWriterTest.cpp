#include "join/WavWriter.h"
#include "JoinTestSupport.h"
#include "TestUtil.h"
#include "join/OutputFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace tandrel;
using namespace testutil;

namespace {

std::uint64_t Le64(const std::string &b, std::size_t at) {
    return GetLE32(b, at) | std::uint64_t(GetLE32(b, at + 4)) << 32;
}

struct Written {
    bool ok;
    std::string file;
    std::vector<int> progress;
};

Written WriteWav(const TempDir &dir, const PcmFormat &format, const std::string &pcm,
                 int stopAfter = -1, WavOutputOptions options = {}) {
    WriteFile(dir.File("in.pcm"), pcm);
    Written w;
    w.ok = WriteWavOutput(
        dir.File("in.pcm"), format, dir.File("out.wav"),
        [&](int percent) {
            w.progress.push_back(percent);
            return int(w.progress.size()) == stopAfter;
        },
        options);
    w.file = Exists(dir.File("out.wav")) ? ReadFile(dir.File("out.wav")) : "";
    return w;
}

// The 44-byte header and the data, put together by the test's own WAV builder.
std::string Canonical(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits,
                      const std::string &data) {
    WavLayout wav;
    wav.sampleRate = rate;
    wav.channels = channels;
    wav.bits = bits;
    wav.data = data;
    return BuildWav(wav);
}

TEST(WavWriter, CanonicalHeaderFromTheFormatAndTheData) {
    TempDir dir;
    std::string pcm(1000000, '\0');
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = char(i * 7);
    Written w = WriteWav(dir, {44100, 2, 16}, pcm);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.file, Canonical(44100, 2, 16, pcm));
    EXPECT_EQ(w.progress.size(), (1000000u + 10239) / 10240);
    EXPECT_EQ(w.progress.front(), 1);
    EXPECT_EQ(w.progress.back(), 100);

    w = WriteWav(dir, {48000, 6, 24}, std::string(18, 'x'));
    EXPECT_EQ(w.file, Canonical(48000, 6, 24, std::string(18, 'x')));
}

TEST(WavWriter, EmptyDataAndStopAfterTheFirstBlock) {
    TempDir dir;
    Written w = WriteWav(dir, {44100, 2, 16}, "");
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.file, Canonical(44100, 2, 16, ""));
    EXPECT_TRUE(w.progress.empty());

    w = WriteWav(dir, {44100, 2, 16}, std::string(50000, 'q'), 1);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.file, Canonical(44100, 2, 16, std::string(10240, 'q')));
    EXPECT_EQ(w.progress, std::vector<int>{20});
}

TEST(WavWriter, LargeDataBecomesRf64WhetherKnownAheadOrNot) {
    TempDir dir;
    std::string pcm(5000, '\0');
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = char(i % 251);
    Written w = WriteWav(dir, {48000, 2, 16}, pcm, -1, {1000, false});
    ASSERT_TRUE(w.ok);
    ASSERT_EQ(w.file.size(), 80u + 5000);
    EXPECT_EQ(w.file.substr(0, 4), "RF64");
    EXPECT_EQ(GetLE32(w.file, 4), 0xFFFFFFFFu);
    EXPECT_EQ(w.file.substr(8, 8), "WAVEds64");
    EXPECT_EQ(GetLE32(w.file, 16), 28u);
    EXPECT_EQ(Le64(w.file, 20), 80u + 5000 - 8);
    EXPECT_EQ(Le64(w.file, 28), 5000u);
    EXPECT_EQ(Le64(w.file, 36), 1250u);
    EXPECT_EQ(w.file.substr(48, 4), "fmt ");
    EXPECT_EQ(GetLE16(w.file, 58), 2);
    EXPECT_EQ(w.file.substr(72, 4), "data");
    EXPECT_EQ(GetLE32(w.file, 76), 0xFFFFFFFFu);
    EXPECT_EQ(w.file.substr(80), pcm);
    EXPECT_EQ(ProbeStreamField(dir.File("out.wav"), "sample_rate"), "48000");

    // Streaming, the size is only known at the end: the data is moved behind the ds64 chunk.
    for (bool stop : {false, true}) {
        OutputFile file;
        ASSERT_TRUE(file.Open(dir.File("s.wav"), nullptr));
        WavFileWriter writer(1000);
        writer.SetStopCheck([stop] { return stop; });
        ASSERT_TRUE(writer.Open({file.Fd(), file.WritePath(), "s.wav", true}, {48000, 2, 16}, -1));
        for (std::size_t at = 0; at < pcm.size(); at += 700)
            ASSERT_TRUE(writer.Write(reinterpret_cast<const std::uint8_t *>(pcm.data()) + at,
                                     std::min<std::size_t>(700, pcm.size() - at)));
        // A stop while the data is moved is heard, and leaves a file only fit to discard.
        EXPECT_EQ(writer.Close(), !stop);
        EXPECT_EQ(writer.Interrupted(), stop);
        if (!stop) {
            ASSERT_TRUE(file.Commit());
        }
    }
    EXPECT_EQ(ReadFile(dir.File("s.wav")), w.file);

    w = WriteWav(dir, {48000, 2, 16}, pcm.substr(0, 1000), -1, {1000, false});
    EXPECT_EQ(w.file.substr(0, 4), "RIFF");
    // Odd data counts its pad byte against the limit, and the pad follows the moved data.
    w = WriteWav(dir, {8000, 1, 8}, pcm.substr(0, 1001), -1, {1001, false});
    EXPECT_EQ(w.file.substr(0, 4), "RF64");
    EXPECT_EQ(w.file.size(), 80u + 1002);
    EXPECT_EQ(Le64(w.file, 20), w.file.size() - 8);
    EXPECT_EQ(w.file.back(), '\0');
    OutputFile file;
    ASSERT_TRUE(file.Open(dir.File("odd.wav"), nullptr));
    WavFileWriter writer(1001);
    ASSERT_TRUE(writer.Open({file.Fd(), file.WritePath(), "odd.wav", true}, {8000, 1, 8}, -1));
    ASSERT_TRUE(writer.Write(reinterpret_cast<const std::uint8_t *>(pcm.data()), 1001));
    ASSERT_TRUE(writer.Close());
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(ReadFile(dir.File("odd.wav")), w.file);
}

TEST(WavWriter, OutputThatCannotBeCreated) {
    TempDir dir;
    jointest::MessageLog log;
    WriteFile(dir.File("in.pcm"), "abcd");
    EXPECT_FALSE(
        WriteWavOutput(dir.File("in.pcm"), {44100, 2, 16}, dir.File("no/such/out.wav"), nullptr));
    EXPECT_EQ(log.shown, std::vector<std::string>{"Error: Cannot creat the output file.\n" +
                                                  dir.File("no/such/out.wav") +
                                                  "\nNo such file or directory"});
}

TEST(WavWriter, OddDataIsFollowedByAPadByte) {
    TempDir dir;
    Written w = WriteWav(dir, {11025, 1, 8}, "abc");
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.file.size(), 48u);
    EXPECT_EQ(GetLE32(w.file, 4), 40u);
    EXPECT_EQ(GetLE32(w.file, 40), 3u);
    EXPECT_EQ(w.file.substr(44), std::string("abc\0", 4));
    EXPECT_NEAR(ProbeDuration(dir.File("out.wav")) * 11025, 3.0, 0.01);
}

// An output that cannot seek gets its sizes before the data: exact when known, else the largest.
TEST(WavWriter, OutputThatCannotSeek) {
    TempDir dir;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    for (std::int64_t expected : {std::int64_t(5), std::int64_t(-1)}) {
        WavFileWriter writer;
        ASSERT_TRUE(writer.Open({fds[1], "", "pipe", false}, {8000, 1, 8}, expected));
        ASSERT_TRUE(writer.Write(reinterpret_cast<const std::uint8_t *>("hello"), 5));
        ASSERT_TRUE(writer.Close());
        char buf[64];
        ASSERT_EQ(read(fds[0], buf, sizeof buf), 50);
        const std::string file(buf, 50);
        EXPECT_EQ(GetLE32(file, 4), expected < 0 ? 0xFFFFFFFFu : 42u);
        EXPECT_EQ(GetLE32(file, 40), expected < 0 ? 0xFFFFFFFFu : 5u);
        EXPECT_EQ(file.substr(44), std::string("hello\0", 6));
    }
    close(fds[0]);
    close(fds[1]);
}

} // namespace
