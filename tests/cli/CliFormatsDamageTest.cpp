// Inputs that cannot be joined, damaged ones and long ones, in the formats beyond PCM WAV and
// MP3: each is refused with its reason, fails saying what it lost, or joins in little memory.
#include "CliFormatsSupport.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace testutil;
using namespace clitest;
using namespace fmttest;

namespace {

// Random bytes, the same on every run.
std::string Garbage(std::mt19937 &random, std::size_t size) {
    std::string bytes(size, '\0');
    for (char &c : bytes)
        c = char(random());
    return bytes;
}

// Files no join can take: more than 8 channels, a rate above 768 kHz, a codec no decoder
// knows, garbage under audio names and behind audio magic. Listed as refused with the reason,
// and a join of one stops before writing, naming it.
TEST(CliFormatsDamage, UnjoinableInputsAreRefusedWithTheReason) {
    TempDir dir;
    std::mt19937 random(5);
    testutil::Run("sox -n -r 8000 -c 10 -b 16 " + Quote(dir.File("ten.aiff")) +
                  " synth 0.1 sine 300");
    Ffmpeg(dir, "ten.caf", "-i " + Quote(dir.File("ten.aiff")) + " -c:a pcm_s16le");
    testutil::Run("sox -n -r 1536000 -c 1 -b 16 " + Quote(dir.File("fast.aiff")) +
                  " synth 0.01 sine 300");
    WriteFile(dir.File("fast.wav"),
              wavbytes::Riff(wavbytes::Chunk("fmt ", wavbytes::FormatBody(3, 1, 1536000, 32)) +
                             wavbytes::Chunk("data", std::string(16000, '\0'))));
    std::string caf = ReadFile(Ffmpeg(dir, "pcm.caf", Tone(8000, 0.1) + " -c:a pcm_s16le"));
    caf.replace(caf.find("lpcm"), 4, "zzzz");
    WriteFile(dir.File("zzzz.caf"), caf);
    std::string aifc =
        ReadFile(Ffmpeg(dir, "in24.aifc", Tone(8000, 0.1) + " -c:a pcm_s24be -tag:a in24"));
    aifc.replace(aifc.find("in24"), 4, "ZZZZ");
    WriteFile(dir.File("zzzz.aifc"), aifc);
    WriteFile(dir.File("tag1234.wav"),
              wavbytes::Riff(wavbytes::Chunk("fmt ", wavbytes::FormatBody(0x1234, 1, 8000, 16)) +
                             wavbytes::Chunk("data", Garbage(random, 4000))));
    for (const char *name : {"junk.flac", "junk.m4a", "junk.ogg", "junk.opus", "junk.wv"})
        WriteFile(dir.File(name), Garbage(random, 5000));
    WriteFile(dir.File("magic.flac"), "fLaC" + Garbage(random, 5000));
    WriteFile(dir.File("magic.ogg"), "OggS" + Garbage(random, 5000));
    WriteFile(dir.File("magic.m4a"), std::string("\0\0\0\x18"
                                                 "ftypM4A ",
                                                 12) +
                                         Garbage(random, 5000));
    WriteFile(dir.File("magic.aiff"), "FORM" + Garbage(random, 4) + "AIFF" + Garbage(random, 500));
    const std::pair<const char *, const char *> files[] = {
        {"ten.aiff", "8 channels"}, {"ten.caf", "8 channels"}, {"fast.aiff", "768"},
        {"fast.wav", "768"},        {"zzzz.caf", "zzzz"},      {"zzzz.aifc", "ZZZZ"},
        {"tag1234.wav", "1234"},    {"junk.flac", ""},         {"junk.m4a", ""},
        {"junk.ogg", ""},           {"junk.opus", ""},         {"junk.wv", ""},
        {"magic.flac", ""},         {"magic.ogg", ""},         {"magic.m4a", ""},
        {"magic.aiff", ""}};
    for (const auto &[name, why] : files) {
        SCOPED_TRACE(name);
        const std::string path = dir.File(name);
        const Row row = ListOne(dir, path);
        EXPECT_EQ(row.verdict, "refused");
        EXPECT_TRUE(Contains(row.reason, why)) << row.reason;
        const CliResult join = JoinWav(dir, dir.File("out.wav"), {path});
        EXPECT_EQ(join.exitCode, 1) << join.err;
        EXPECT_TRUE(Contains(join.err, path + ": ") && Contains(join.err, why)) << join.err;
        EXPECT_FALSE(Exists(dir.File("out.wav")));
    }
}

// A join of one damaged input either fails naming it and writes nothing, or holds every
// frame the listing promised: never fewer in silence. mustFail: the damage is detectable.
void ExpectNothingLostInSilence(const TempDir &dir, const std::string &path, bool mustFail) {
    const Row row = ListOne(dir, path);
    ::unlink(dir.File("out.wav").c_str());
    const CliResult join = JoinWav(dir, dir.File("out.wav"), {path});
    if (mustFail) {
        EXPECT_NE(join.exitCode, 0);
    }
    if (join.exitCode == 0 && row.exact) {
        EXPECT_EQ(WavData(dir.File("out.wav")).size(), row.frames * row.channels * 2);
    }
    if (join.exitCode != 0) {
        EXPECT_EQ(join.exitCode, 1);
        EXPECT_TRUE(Contains(join.err, path)) << join.err;
        EXPECT_FALSE(Exists(dir.File("out.wav")));
    }
}

// Files that lost their end after a tool stated their length, and files with a damaged byte
// in the middle: a join of damage a checksum shows fails, as flac's own decoder does. A cut
// Ogg states no more than it holds, so it joins what it holds.
TEST(CliFormatsDamage, DamagedFilesNeverJoinWithAudioMissing) {
    TempDir dir;
    const std::string sound = Noise(44100, 3);
    const std::string flac = ReadFile(Ffmpeg(dir, "whole.flac", sound + " -sample_fmt s16"));
    const std::string front = ReadFile(Ffmpeg(dir, "front.m4a", sound + " -movflags +faststart"));
    const std::string back = ReadFile(Ffmpeg(dir, "back.m4a", sound));
    const std::string ogg = ReadFile(Ffmpeg(dir, "whole.ogg", sound + " -c:a libvorbis"));
    const std::string opus = ReadFile(Ffmpeg(dir, "whole.opus", sound + " -c:a libopus"));

    // The stated length is kept and the join fails with what it found.
    for (const auto &[name, bytes] : {std::pair{"cut.flac", flac}, std::pair{"cut.m4a", front}}) {
        SCOPED_TRACE(name);
        const std::string path = dir.File(name);
        WriteFile(path, bytes.substr(0, bytes.size() * 6 / 10));
        const Row row = ListOne(dir, path);
        EXPECT_EQ(row.verdict, "accepted") << row.reason;
        EXPECT_TRUE(row.exact);
        EXPECT_EQ(row.frames, 3u * 44100);
        const CliResult join = JoinWav(dir, dir.File("out.wav"), {path});
        EXPECT_EQ(join.exitCode, 1);
        EXPECT_TRUE(Contains(join.err, "Can not join '" + path + "': it ended after ")) << join.err;
        EXPECT_FALSE(Exists(dir.File("out.wav")));
    }
    // An MP4 whose index was at its end has nothing left to read it by.
    WriteFile(dir.File("noindex.m4a"), back.substr(0, back.size() * 6 / 10));
    EXPECT_EQ(ListOne(dir, dir.File("noindex.m4a")).verdict, "refused");
    EXPECT_EQ(JoinWav(dir, dir.File("out.wav"), {dir.File("noindex.m4a")}).exitCode, 1);

    for (const auto &[name, bytes] : {std::pair{"cut.ogg", ogg}, std::pair{"cut.opus", opus}}) {
        SCOPED_TRACE(name);
        WriteFile(dir.File(name), bytes.substr(0, bytes.size() * 6 / 10));
        const Row row = ListOne(dir, dir.File(name));
        const CliResult join = JoinWav(dir, dir.File("out.wav"), {dir.File(name)});
        EXPECT_EQ(join.exitCode, 0) << join.err;
        EXPECT_EQ(WavData(dir.File("out.wav")).size(), row.frames * 4);
        EXPECT_GT(row.frames, 44100u) << "more than a second of the three was left";
    }
    for (const auto &[name, bytes] : {std::pair{"flip.flac", flac}, std::pair{"flip.m4a", front},
                                      std::pair{"flip.ogg", ogg}, std::pair{"flip.opus", opus}}) {
        SCOPED_TRACE(name);
        std::string flipped = bytes;
        flipped[flipped.size() / 2] ^= 0x5A;
        WriteFile(dir.File(name), flipped);
        // A FLAC frame carries a checksum of its bytes, an Ogg page too; AAC has none.
        ExpectNothingLostInSilence(dir, dir.File(name), !Contains(name, ".m4a"));
    }
}

// An Ogg file cut after it was listed, while the join is still on the input before it: the
// join fails saying how much of it was left.
TEST(CliFormatsDamage, OggCutAfterItWasListedFailsTheJoin) {
    TempDir dir, out;
    const std::string first = Synth(dir, "first.wav", "-r 44100 -c 2 -b 16", "20 whitenoise");
    for (const char *name : {"late.ogg", "late.opus"}) {
        SCOPED_TRACE(name);
        const std::string path = Ffmpeg(dir, name, Noise(44100, 3));
        const std::string err = dir.File("err.txt");
        const pid_t pid =
            Start({"-q", "--threads", "1", "--force", "-o", out.File("out.mp3"), first, path},
                  dir.File("out.txt"), err);
        ASSERT_GT(pid, 0);
        const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
        WaitUntil([&] { return WritesInto(pid, out.Path()) || Contains(ReadFile(stat), ") Z "); });
        ASSERT_EQ(::truncate(path.c_str(), off_t(FileSize(path) / 2)), 0);
        EXPECT_EQ(ExitCode(pid), 1);
        EXPECT_TRUE(Contains(ReadFile(err), "Can not join '" + path + "': it ended after "))
            << ReadFile(err);
        EXPECT_TRUE(Listing(out.Path()).empty());
    }
}

// Small files of each container with bytes changed, cut, or moved, 144 in all: every
// run ends by itself with 0 or 1, and nothing that the sanitizers could catch.
TEST(CliFormatsDamage, MutatedFilesEndCleanly) {
    TempDir dir, cases;
    const std::string sound = Noise(8000, 2, 1); // a few Ogg pages
    const std::pair<const char *, std::string> sources[] = {
        {"flac", sound + " -c:a flac"},    {"ogg", sound + " -c:a libvorbis"},
        {"opus", sound + " -c:a libopus"}, {"m4a", sound + " -c:a aac -movflags +faststart"},
        {"wv", sound + " -c:a wavpack"},   {"caf", sound + " -c:a alac"}};
    std::mt19937 random(2024);
    int made = 0;
    for (const auto &[ext, make] : sources) {
        const std::string original = ReadFile(Ffmpeg(dir, std::string("a.") + ext, make));
        ASSERT_GT(original.size(), 600u);
        for (int i = 0; i < 24; ++i, ++made) {
            std::string bytes = original;
            const std::size_t header = std::min<std::size_t>(bytes.size(), 600);
            switch (i % 4) {
            case 0: // the headers
            case 1: // anywhere
                for (unsigned n = 1 + random() % 4; n > 0; --n)
                    bytes[random() % (i % 4 ? bytes.size() : header)] = char(random());
                break;
            case 2:
                bytes.resize(random() % bytes.size());
                break;
            default: {
                const std::size_t from = random() % bytes.size(), to = random() % bytes.size();
                const std::size_t n =
                    std::min(bytes.size() - std::max(from, to), 1 + random() % 64);
                bytes.replace(to, n, bytes.substr(from, n));
            }
            }
            WriteFile(cases.File(std::to_string(made) + "." + ext), bytes);
        }
    }
    const std::string script =
        "cd " + Quote(dir.Path()) + " && for f in " + Quote(cases.Path()) + "/*; do timeout -s " +
        "KILL 20 " + Quote(Cli()) + " -q --force -o out.wav \"$f\" 2>err.txt >/dev/null; " +
        "code=$?; [ $code -le 1 ] || echo \"$f: exit $code\"; grep -l -E 'Sanitizer|runtime " +
        "error' err.txt >/dev/null && echo \"$f: $(cat err.txt)\"; done; echo ran";
    EXPECT_EQ(testutil::Run(script).output, "ran\n");
}

// Peak resident memory in KB of tandrel-join run with args, as /usr/bin/time measures it; -1
// when the run failed.
long PeakKb(const std::vector<std::string> &args, const TempDir &tmp) {
    std::string line = "/usr/bin/time -f %M -o " + Quote(tmp.File("peak")) + " " + Quote(Cli());
    for (const std::string &a : args)
        line.append(" ").append(Quote(a));
    const CommandResult r = Run(line + " 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.exitCode == 0 ? std::stol(ReadFile(tmp.File("peak"))) : -1;
}

// Two hours of FLAC and of AAC in MP4 (mono at 8000 Hz, to be quick to make): the join streams
// them, in memory that does not grow with their length.
TEST(CliFormatsMemory, TwoHourFilesJoinInBoundedMemory) {
#ifdef TANDREL_SANITIZE
    GTEST_SKIP() << "the sanitizers' shadow memory is no measure of ours";
#endif
    TempDir dir;
    const std::string hours = "-f lavfi -i sine=f=300:r=8000:d=";
    const std::string part = Ffmpeg(dir, "part.m4a", hours + "600 -c:a aac -b:a 16k");
    const std::string files[] = {
        Ffmpeg(dir, "long.flac", hours + "7200 -c:a flac -frame_size 16384"),
        Ffmpeg(dir, "long.m4a", "-stream_loop 11 -i " + Quote(part) + " -c copy")};
    for (const std::string &path : files) {
        SCOPED_TRACE(path);
        const Row row = ListOne(dir, path);
        EXPECT_TRUE(row.exact);
        EXPECT_GE(row.frames, 7200u * 8000);
        const std::string out = dir.File("out.wav");
        const long kb = PeakKb({"-q", "--force", "-o", out, path}, dir);
        EXPECT_GT(kb, 0);
        EXPECT_LT(kb, 64 * 1024);
        EXPECT_EQ(FileSize(out), 44 + row.frames * 2);
        ::unlink(out.c_str());
    }
}

} // namespace

// Streams that are not one whole stream: chained Ogg links joined end to end, a stream cut out
// of a longer one (its first granule negative), Opus in MP4 (whose length is already the
// audio's). Each gives all of its own audio and nothing else.
TEST(CliFormatsDamage, OggLinksCutsAndOpusInMp4GiveTheirOwnAudio) {
    TempDir dir;
    const std::string a = Ffmpeg(dir, "a.ogg", Noise(44100, 1.7, 1) + " -c:a libvorbis");
    const std::string b = Ffmpeg(dir, "b.ogg", Tone(44100, 0.01, 1) + " -c:a libvorbis");
    WriteFile(dir.File("chained.ogg"), ReadFile(a) + ReadFile(b));
    const std::string whole = Raw(dir.File("chained.ogg"), "s16le");
    EXPECT_FALSE(ListOne(dir, dir.File("chained.ogg")).exact);
    if (Joined(JoinWav(dir, dir.File("out.wav"), {dir.File("chained.ogg")}))) {
        EXPECT_EQ(WavData(dir.File("out.wav")).size(), whole.size());
    }

    const std::string cut = Ffmpeg(dir, "cut.ogg", "-ss 0.4 -i " + Quote(a) + " -c copy");
    const std::string full = Raw(a, "s16le");
    if (Joined(JoinWav(dir, dir.File("out.wav"), {cut}))) {
        const std::string data = WavData(dir.File("out.wav"));
        ASSERT_EQ(data.size(), std::size_t(ListOne(dir, cut).frames) * 2);
        // The kept part is the source's from 0.4 s on, not its start.
        EXPECT_TRUE(data == full.substr(17640 * 2, data.size()));
    }

    const std::string mp4 = Ffmpeg(dir, "opus.mp4", Noise(48000, 1, 2) + " -c:a libopus");
    const Row row = ListOne(dir, mp4);
    EXPECT_TRUE(row.exact);
    EXPECT_EQ(row.frames, 48000u);
    if (Joined(JoinWav(dir, dir.File("out.wav"), {mp4}))) {
        EXPECT_EQ(WavData(dir.File("out.wav")).size(), 48000u * 4);
    }
}

// A video stream or a cover picture of many pixels is never decoded to look at it.
TEST(CliFormatsMemory, PicturesBesideTheAudioAreNotDecoded) {
#ifdef TANDREL_SANITIZE
    GTEST_SKIP() << "the sanitizers' own memory would be measured";
#endif
    TempDir dir;
    const std::string png =
        Ffmpeg(dir, "big.png", "-f lavfi -i color=red:s=8000x8000 -frames:v 1 -pix_fmt rgb24");
    for (const char *name : {"cover.m4a", "cover.mkv"}) {
        SCOPED_TRACE(name);
        const std::string path = Ffmpeg(dir, name,
                                        Tone(44100, 1, 2) + " -i " + Quote(png) +
                                            " -map 0 -map 1 -c:a aac -c:v copy "
                                            "-disposition:v attached_pic");
        const auto r =
            testutil::Run("/usr/bin/time -f %M " + Quote(testutil::BinDir() + "/tandrel-join") +
                          " -q -o " + Quote(dir.File("out.wav")) + " --force " + Quote(path));
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const std::string peak =
            r.output.substr(r.output.find_last_of('\n', r.output.size() - 2) + 1);
        EXPECT_LT(std::atol(peak.c_str()), 64 * 1024) << r.output;
    }
}
