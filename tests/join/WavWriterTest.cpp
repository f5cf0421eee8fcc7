#include "join/WavWriter.h"
#include "TestUtil.h"
#include "WavBytes.h"
#include "join/OutputFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace tandrel;
using namespace testutil;
using namespace wavbytes;

namespace {

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

// An RF64 file as the join writes it, put together chunk by chunk.
std::string Rf64(const PcmFormat &f, const std::string &pcm) {
    auto le64 = [](std::uint64_t v) {
        std::string out;
        PutLE32(out, std::uint32_t(v));
        PutLE32(out, std::uint32_t(v >> 32));
        return out;
    };
    const std::string ds64 = le64(80 - 8 + pcm.size() + pcm.size() % 2) + le64(pcm.size()) +
                             le64(pcm.size() / (f.channels * f.bits / 8)) + std::string(4, '\0');
    const std::string fmt = Chunk("fmt ", FormatBody(1, f.channels, f.sampleRate, f.bits));
    std::string file = Riff(Chunk("ds64", ds64) + fmt + Chunk("data", pcm));
    return file.replace(0, 8, "RF64\xFF\xFF\xFF\xFF").replace(76, 4, "\xFF\xFF\xFF\xFF");
}

// Streams pcm in blocks of 700 bytes to a new file whose size is unknown ahead; Close's result.
bool Stream(const TempDir &dir, const std::string &name, const PcmFormat &format,
            const std::string &pcm, std::uint64_t limit, bool stop = false) {
    OutputFile file;
    EXPECT_TRUE(file.Open(dir.File(name), nullptr));
    WavFileWriter writer(limit);
    writer.SetStopCheck([stop] { return stop; });
    EXPECT_TRUE(writer.Open({file.Fd(), file.WritePath(), name, true}, format, -1));
    for (std::size_t at = 0; at < pcm.size(); at += 700)
        EXPECT_TRUE(writer.Write(reinterpret_cast<const std::uint8_t *>(pcm.data()) + at,
                                 std::min<std::size_t>(700, pcm.size() - at)));
    const bool closed = writer.Close();
    // A stop while the data is moved is heard, and leaves a file only fit to discard.
    EXPECT_EQ(writer.Interrupted(), stop);
    return closed && file.Commit();
}

TEST(WavWriter, CanonicalHeaderFromTheFormatAndTheData) {
    TempDir dir;
    std::string pcm(1000000, '\0');
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = char(i * 7);
    Written w = WriteWav(dir, {44100, 2, 16}, pcm);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.file, PcmWav(2, 44100, 16, "", pcm));
    // The kernel copies the PCM file in ranges of kRangeBytes, progress after each.
    EXPECT_EQ(w.progress, std::vector<int>{100});

    EXPECT_EQ(WriteWav(dir, {48000, 6, 24}, std::string(18, 'x')).file,
              PcmWav(6, 48000, 24, "", std::string(18, 'x')));
    // Odd data is followed by a pad byte.
    EXPECT_EQ(WriteWav(dir, {11025, 1, 8}, "abc").file, PcmWav(1, 11025, 8, "", "abc"));
    EXPECT_NEAR(ProbeDuration(dir.File("out.wav")) * 11025, 3.0, 0.01);
    w = WriteWav(dir, {44100, 2, 16}, "");
    EXPECT_EQ(w.file, PcmWav(2, 44100, 16, "", ""));
    EXPECT_TRUE(w.progress.empty());
    // A stop after the first range.
    w = WriteWav(dir, {44100, 2, 16}, std::string(9000000, 'q'), 1);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.file, PcmWav(2, 44100, 16, "", std::string(kRangeBytes, 'q')));
    EXPECT_EQ(w.progress, std::vector<int>{93});
}

TEST(WavWriter, LargeDataBecomesRf64WhetherKnownAheadOrNot) {
    TempDir dir;
    std::string pcm(5000, '\0');
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = char(i % 251);
    Written w = WriteWav(dir, {48000, 2, 16}, pcm, -1, {1000, false});
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.file, Rf64({48000, 2, 16}, pcm));
    EXPECT_EQ(ProbeStreamField(dir.File("out.wav"), "sample_rate"), "48000");
    // Streaming, the size is only known at the end: the data is moved behind the ds64 chunk.
    EXPECT_FALSE(Stream(dir, "stopped.wav", {48000, 2, 16}, pcm, 1000, true));
    ASSERT_TRUE(Stream(dir, "s.wav", {48000, 2, 16}, pcm, 1000));
    EXPECT_EQ(ReadFile(dir.File("s.wav")), w.file);

    EXPECT_EQ(WriteWav(dir, {48000, 2, 16}, pcm.substr(0, 1000), -1, {1000, false}).file,
              PcmWav(2, 48000, 16, "", pcm.substr(0, 1000)));
    // Odd data counts its pad byte against the limit, and the pad follows the moved data.
    w = WriteWav(dir, {8000, 1, 8}, pcm.substr(0, 1001), -1, {1001, false});
    EXPECT_EQ(w.file, Rf64({8000, 1, 8}, pcm.substr(0, 1001)));
    ASSERT_TRUE(Stream(dir, "odd.wav", {8000, 1, 8}, pcm.substr(0, 1001), 1001));
    EXPECT_EQ(ReadFile(dir.File("odd.wav")), w.file);
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
