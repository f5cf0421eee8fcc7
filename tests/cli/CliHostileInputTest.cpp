// Damaged and oddly made inputs, made here from ordinary ones: what the listing says of each
// and what its join writes must agree, and nothing may crash.
#include "CliTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace testutil;
using namespace clitest;

namespace {

// An MP3 of a tone made by sox and lame.
std::string LameTone(const TempDir &dir, const std::string &name, double seconds,
                     const std::string &lame = "-b 128") {
    const std::string path = dir.File(name);
    const auto r = Run("sox -V1 -n -r 44100 -c 2 -b 16 -t wav - synth " + std::to_string(seconds) +
                       " sine 440 | lame --quiet " + lame + " - " + Quote(path));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return path;
}

// Where the Xing/Info header's tag word and its LAME tag begin in an MP3 made by lame.
struct LameTag {
    std::size_t xing = std::string::npos;
    std::size_t lame = std::string::npos;
};

LameTag FindTags(const std::string &bytes) {
    LameTag t;
    t.xing = bytes.find("Info");
    if (t.xing == std::string::npos)
        t.xing = bytes.find("Xing");
    t.lame = bytes.find("LAME", t.xing);
    return t;
}

void PutBE32(std::string &bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + std::size_t(i)] = char(v >> (24 - 8 * i));
}

// The LAME tag's 12-bit encoder delay and padding.
void SetGapless(std::string &bytes, const LameTag &t, int delay, int padding) {
    bytes[t.lame + 21] = char(delay >> 4);
    bytes[t.lame + 22] = char(((delay & 15) << 4) | (padding >> 8));
    bytes[t.lame + 23] = char(padding & 255);
}

// One input's listing and its join alone into a WAV file.
struct Outcome {
    CliResult list, join;
    std::string frames; // the listing's duration_frames
    std::string exact;  // the listing's duration_exact
    std::uint64_t written = 0;
};

Outcome ListAndJoin(const TempDir &dir, const std::string &input) {
    Outcome o;
    o.list = RunCli(dir.Path(), {"--list", "--json", input});
    const std::string json = dir.File("list.json");
    WriteFile(json, o.list.out);
    o.frames = Python(json, "print(d['inputs'][0].get('duration_frames'), end='')");
    o.exact = Python(json, "print(d['inputs'][0].get('duration_exact'), end='')");
    const std::string out = dir.File("out.wav");
    o.join = RunCli(dir.Path(), {"-q", "--force", "-o", out, input});
    if (Exists(out))
        o.written = (FileSize(out) - 44) / 4;
    return o;
}

} // namespace

// Frame counts, delays and paddings that the frames cannot hold: the header is distrusted, the
// join neither crashes nor writes a length the listing did not give.
TEST(CliHostileInput, Mp3GaplessValuesThatDoNotFitTheFrames) {
    TempDir dir;
    const struct {
        const char *name;
        double seconds;
        int frames, delay, padding; // -1: as lame wrote it
    } cases[] = {{"frames1.mp3", 0.18, 1, -1, -1},    {"frames2.mp3", 0.18, 2, -1, -1},
                 {"delay.mp3", 0.05, -1, 4095, -1},   {"padding.mp3", 0.05, -1, -1, 4095},
                 {"both.mp3", 0.05, -1, 4095, 4095},  {"long1.mp3", 2.0, 1, -1, -1},
                 {"longpad.mp3", 2.0, -1, 4095, 4095}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = ReadFile(LameTone(dir, c.name, c.seconds));
        const LameTag t = FindTags(bytes);
        ASSERT_NE(t.lame, std::string::npos);
        if (c.frames >= 0)
            PutBE32(bytes, t.xing + 8, std::uint32_t(c.frames));
        const int delay =
            (std::uint8_t(bytes[t.lame + 21]) << 4) | (std::uint8_t(bytes[t.lame + 22]) >> 4);
        const int padding =
            ((std::uint8_t(bytes[t.lame + 22]) & 15) << 8) | std::uint8_t(bytes[t.lame + 23]);
        SetGapless(bytes, t, c.delay >= 0 ? c.delay : delay, c.padding >= 0 ? c.padding : padding);
        WriteFile(dir.File(c.name), bytes);

        const Outcome o = ListAndJoin(dir, dir.File(c.name));
        EXPECT_EQ(o.list.exitCode, 0) << o.list.err;
        EXPECT_EQ(o.join.exitCode, 0) << o.join.err;
        EXPECT_EQ(o.frames, std::to_string(o.written));
        EXPECT_GT(o.written, 0u);
    }
}

// An ID3v2 tag whose size was written as a plain number: the audio after it is found, so the
// listing, the gapless trim and the join agree with the untagged file.
TEST(CliHostileInput, Id3TagSizeWrittenAsAPlainNumber) {
    TempDir dir;
    const std::string plain = LameTone(dir, "plain.mp3", 2.0);
    const std::string tagged =
        LameTone(dir, "tagged.mp3", 2.0, "-b 128 --id3v2-only --tt " + std::string(300, 'T'));
    std::string bytes = ReadFile(tagged);
    ASSERT_EQ(bytes.compare(0, 3, "ID3"), 0);
    const std::uint32_t body = (std::uint32_t(bytes[6]) << 21) | (std::uint32_t(bytes[7]) << 14) |
                               (std::uint32_t(bytes[8]) << 7) | std::uint32_t(bytes[9]);
    ASSERT_GE(body, 128u); // otherwise both readings agree
    PutBE32(bytes, 6, body);
    WriteFile(tagged, bytes);

    const Outcome whole = ListAndJoin(dir, plain);
    const Outcome o = ListAndJoin(dir, tagged);
    EXPECT_EQ(o.join.exitCode, 0) << o.join.err;
    EXPECT_EQ(o.frames, whole.frames);
    EXPECT_EQ(o.exact, "True");
    EXPECT_EQ(o.written, whole.written);
    EXPECT_EQ(whole.frames, std::to_string(2 * 44100));
}

// Bytes around the frames that are no audio: stray bytes or a cut frame after the last one,
// padding between the tag and the first frame. The listing, exact, and the join agree with
// the clean file.
TEST(CliHostileInput, Mp3StrayBytesAroundTheFramesChangeNothing) {
    TempDir dir;
    const std::string clean = ReadFile(LameTone(dir, "clean.mp3", 1.3));
    const std::size_t info = 417; // the Info frame at 128 kbps, 44100 Hz
    std::string tag = "TIT2" + std::string("\0\0\0\x06\0\0", 6) + "\0hello";
    const std::string header = std::string("ID3\x03\0\0\0\0\0", 9) + char(tag.size());
    const std::pair<const char *, std::string> files[] = {
        {"tail.mp3", clean + clean.substr(info, 200)},
        {"header.mp3", clean + clean.substr(info, 4)},
        {"gap.mp3", header + tag + std::string(16, '\0') + clean}};
    const Outcome whole = ListAndJoin(dir, dir.File("clean.mp3"));
    ASSERT_EQ(whole.exact, "True");
    for (const auto &[name, bytes] : files) {
        SCOPED_TRACE(name);
        WriteFile(dir.File(name), bytes);
        const Outcome o = ListAndJoin(dir, dir.File(name));
        EXPECT_EQ(o.join.exitCode, 0) << o.join.err;
        EXPECT_EQ(o.frames, whole.frames);
        EXPECT_EQ(o.exact, "True");
        EXPECT_EQ(o.written, whole.written);
    }
}

// A download cut short before it was added: listed with what its whole frames hold, not as
// exact, and joined. A cut at a frame's end and one inside a frame.
TEST(CliHostileInput, Mp3CutShortBeforeItWasAddedJoinsWhatItHolds) {
    TempDir dir;
    const std::string bytes = ReadFile(LameTone(dir, "whole.mp3", 2.0));
    const std::size_t frame = 417; // 128 kbps at 44100 Hz, one more byte when padded
    std::size_t boundary = 0;
    while (boundary < bytes.size() / 2)
        boundary += frame + ((std::uint8_t(bytes[boundary + 2]) >> 1) & 1);
    ASSERT_EQ(std::uint8_t(bytes[boundary]), 0xFF);
    // Also a cut inside the second audio frame: one whole frame is there to join.
    const std::pair<const char *, std::size_t> cuts[] = {
        {"boundary.mp3", boundary}, {"inside.mp3", boundary + 200}, {"second.mp3", 3 * frame}};
    for (const auto &[name, size] : cuts) {
        SCOPED_TRACE(name);
        WriteFile(dir.File(name), bytes.substr(0, size));
        const Outcome o = ListAndJoin(dir, dir.File(name));
        EXPECT_EQ(o.join.exitCode, 0) << o.join.err;
        EXPECT_EQ(o.exact, "False");
        EXPECT_EQ(o.frames, std::to_string(o.written));
        EXPECT_GT(o.written + 3 * 1152, size / (frame + 1) * 1152);
        EXPECT_LT(o.written, size / frame * 1152);
    }
}

// A WAV file with no sample frames is refused, in the listing and in a join.
TEST(CliHostileInput, WavWithoutAudioIsRefused) {
    TempDir dir;
    WavLayout empty;
    WriteFile(dir.File("empty.wav"), BuildWav(empty));
    empty.data = "\x01\x02\x03"; // less than one frame
    WriteFile(dir.File("crumb.wav"), BuildWav(empty));
    for (const char *name : {"empty.wav", "crumb.wav"}) {
        SCOPED_TRACE(name);
        const CliResult list = RunCli(dir.Path(), {"--list", dir.File(name)});
        EXPECT_TRUE(Contains(list.err, "it holds no audio")) << list.err;
        const CliResult join = RunCli(dir.Path(), {"-q", "-o", dir.File("out.wav"), name});
        EXPECT_NE(join.exitCode, 0);
        EXPECT_TRUE(Contains(join.err, "it holds no audio")) << join.err;
        EXPECT_FALSE(Exists(dir.File("out.wav")));
    }
}
