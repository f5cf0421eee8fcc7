// Damaged and oddly made inputs, made here from ordinary ones: what the listing says of each
// and what its join writes must agree, and nothing may crash.
#include "CliTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <random>
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

// The four bytes of an ID3v2.4 size, seven bits to a byte.
std::string Syncsafe(std::uint32_t n) {
    return {char(n >> 21 & 0x7F), char(n >> 14 & 0x7F), char(n >> 7 & 0x7F), char(n & 0x7F)};
}

// An ID3v2.4 frame or tag; size, when given, is what its header claims instead of the truth.
std::string Id3Frame(const std::string &id, const std::string &body, std::int64_t size = -1) {
    return id + Syncsafe(std::uint32_t(size < 0 ? body.size() : size)) + std::string(2, '\0') +
           body;
}
std::string Id3Tag(const std::string &frames, std::int64_t size = -1) {
    return std::string("ID3\x04\0\0", 6) +
           Syncsafe(std::uint32_t(size < 0 ? frames.size() : size)) + frames;
}

// The body of a PNG front cover of bytes bytes, as an APIC frame and as a FLAC PICTURE block.
std::string Png(std::size_t bytes) {
    return "\x89PNG" + std::string(bytes - 4, '\0');
}
std::string Apic(std::size_t bytes) {
    return std::string("\0image/png\0\x03\0", 13) + Png(bytes);
}
std::string FlacPicture(std::size_t blockBytes) {
    std::string b;
    const auto be32 = [&](std::uint32_t v) {
        b.append(4, '\0');
        PutBE32(b, b.size() - 4, v);
    };
    be32(3);
    be32(9);
    b += "image/png";
    for (std::uint32_t v : {0, 16, 16, 24, 0}) // description, width, height, depth, colours
        be32(v);
    const std::size_t picture = blockBytes - b.size() - 4;
    be32(std::uint32_t(picture));
    return b + Png(picture);
}

// A FLAC file with PICTURE blocks of these sizes after its STREAMINFO.
std::string WithPictures(const std::string &flac, const std::vector<std::size_t> &blocks) {
    const std::size_t end = 8 + 34; // "fLaC", STREAMINFO's header and body
    const bool infoLast = std::uint8_t(flac[4]) & 0x80;
    std::string out = flac.substr(0, end);
    out[4] = char(flac[4] & 0x7F);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const bool last = infoLast && i + 1 == blocks.size();
        out += char(6 | (last ? 0x80 : 0));
        out += {char(blocks[i] >> 16), char(blocks[i] >> 8), char(blocks[i])};
        out += FlacPicture(blocks[i]);
    }
    return out + flac.substr(end);
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

// Frames that cannot be decoded in the middle of a file whose header states its length: the
// side information of three overwritten, or one cut to its header. Each is given as silence of
// its length, so the join writes what the listing gave and the audio around keeps its place.
TEST(CliHostileInput, Mp3FramesThatDoNotDecodeAreGivenAsSilence) {
    TempDir dir;
    const std::string clean = ReadFile(LameTone(dir, "clean.mp3", 13));
    const Outcome whole = ListAndJoin(dir, dir.File("clean.mp3"));
    const std::string pcm = ReadFile(dir.File("out.wav"));
    const std::vector<std::size_t> at = Mp3FrameStarts(clean);
    ASSERT_GT(at.size(), 400u);
    const std::size_t mid = at.size() / 2;
    std::string side = clean;
    std::mt19937 random(7);
    for (std::size_t k : {mid, mid + 1, mid + 5})
        for (std::size_t i = at[k] + 4; i < at[k] + 36; ++i)
            side[i] = char(random());
    const std::string cut = clean.substr(0, at[mid] + 4) + clean.substr(at[mid + 1]);
    for (const auto &[name, bytes] : {std::pair{"side.mp3", side}, std::pair{"cut.mp3", cut}}) {
        SCOPED_TRACE(name);
        WriteFile(dir.File(name), bytes);
        const Outcome o = ListAndJoin(dir, dir.File(name));
        EXPECT_EQ(o.exact, "True");
        EXPECT_EQ(o.frames, whole.frames);
        EXPECT_EQ(o.join.exitCode, 0) << o.join.err;
        EXPECT_EQ(std::to_string(o.written), o.frames);
        const std::string got = ReadFile(dir.File("out.wav"));
        const std::size_t second = 44100 * 4;
        EXPECT_TRUE(got.substr(0, 5 * second) == pcm.substr(0, 5 * second));
        EXPECT_TRUE(got.substr(got.size() - second) == pcm.substr(pcm.size() - second));
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

// Tag areas made to cost time or memory: a 40 MB cover; a tag and a cover claiming 40 MB that
// the file does not hold; 100,000 tiny text frames; frame sizes that lie; a FLAC picture of
// the largest size a block holds, and 36 MB of pictures in blocks below that. Each is listed in
// under 2 s and 64 MB as the audio it holds (its tags may go unread), and joins.
TEST(CliHostileInput, TagAreasMadeToCostAreListedCheaply) {
    TempDir dir;
    const std::string mp3 = ReadFile(LameTone(dir, "tone.mp3", 1.0));
    const std::string flac = ReadFile(Synth(dir, "tone.flac", "-r 44100 -c 2 -b 16", "1 sine 440"));
    std::string many;
    for (int i = 0; i < 100000; ++i)
        many += i % 2 ? Id3Frame("TIT2", "\x03x")
                      : Id3Frame("TXXX", std::string("\x03"
                                                     "a\0b",
                                                     4));
    const std::string lying = Id3Frame("TIT2", "\x03ok") + Id3Frame("TPE1", "\x03zz", 0x0FFFFFFF) +
                              std::string("TALB\xFF\xFF\xFF\xFF\0\0\x03y", 13) +
                              Id3Frame("TCON", "") + std::string(64, '\0');
    const std::int64_t claim = 40 << 20;
    const std::pair<const char *, std::string> cases[] = {
        {"cover.mp3", Id3Tag(Id3Frame("APIC", Apic(40 << 20))) + mp3},
        {"claimed.mp3", Id3Tag(Id3Frame("APIC", Apic(1000), claim), claim) + mp3},
        {"framed.mp3", Id3Tag(Id3Frame("APIC", Apic(1000), claim)) + mp3},
        {"frames.mp3", Id3Tag(many) + mp3},
        {"lying.mp3", Id3Tag(lying) + mp3},
        {"picture.flac", WithPictures(flac, {0xFFFFFF})},
        {"pictures.flac", WithPictures(flac, std::vector<std::size_t>(6, 6 << 20))}};
    for (const auto &[name, bytes] : cases) {
        SCOPED_TRACE(name);
        const std::string input = dir.File(name), json = dir.File("list.json");
        WriteFile(input, bytes);
        const auto start = std::chrono::steady_clock::now();
        const CommandResult list = testutil::Run(
            "(/usr/bin/time -f %M -o " + Quote(dir.File("peak")) + " " + Quote(Cli()) +
            " --list --json " + Quote(input) + " >" + Quote(json) + ")");
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(list.exitCode, 0) << list.output;
#ifdef TANDREL_SANITIZE // slower, and its shadow memory is no measure of ours
        EXPECT_LT(took.count(), 6.0);
#else
        EXPECT_LT(took.count(), 2.0);
        EXPECT_LT(std::atol(ReadFile(dir.File("peak")).c_str()), 64 * 1024);
#endif
        EXPECT_EQ(Python(json, "print(d['inputs'][0].get('duration_frames'), end='')"), "44100");
        const CliResult join = RunCli(dir.Path(), {"-q", "--force", "-o", "out.wav", name});
        EXPECT_EQ(join.exitCode, 0) << join.err;
        EXPECT_EQ(FileSize(dir.File("out.wav")), 44 + 44100 * 4);
        ::unlink(input.c_str());
    }
}
