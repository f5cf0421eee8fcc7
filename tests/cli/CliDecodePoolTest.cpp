// Compressed inputs decoded ahead on the pool's workers: whatever the thread count, the join
// gives the bytes, the messages and the exit code of decoding one input after the other.
#include "CliFormatsSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <random>
#include <string>
#include <vector>

using namespace testutil;
using namespace clitest;
using namespace fmttest;

namespace {

// Samples in a bit over two of an MP3 file's pieces at any rate (512 frames of 576 below
// 32 kHz, 256 of 1152 from there on).
constexpr double kPieceSamples = 294912 * 2.2;

// Joins inputs into out with --threads threads (empty: the default).
CliResult JoinThreads(const TempDir &dir, const std::string &out,
                      const std::vector<std::string> &inputs, const std::string &threads) {
    std::vector<std::string> args{"-q", "--force", "-o", out};
    if (!threads.empty())
        args.insert(args.end(), {"--threads", threads});
    args.insert(args.end(), inputs.begin(), inputs.end());
    return RunTimed(dir.Path(), args);
}

// The join of inputs with one thread, and the same from the pool with 2, 3 and the default.
// Into MP3, whose encoder works otherwise with one thread, the serial join's PCM is encoded
// with the pool's thread count to compare.
void ExpectSameJoins(const TempDir &dir, const std::vector<std::string> &inputs, bool mp3 = false) {
    const std::string wav = dir.File("serial.wav"), out = dir.File(mp3 ? "out.mp3" : "out.wav");
    ::unlink(wav.c_str());
    const CliResult serial = JoinThreads(dir, wav, inputs, "1");
    for (const std::string threads : {"2", "3", ""}) {
        SCOPED_TRACE("--threads " + threads);
        ::unlink(out.c_str());
        if (mp3) {
            EXPECT_EQ(JoinThreads(dir, out, {wav}, threads).exitCode, 0);
        }
        const std::string bytes = ReadFile(out);
        ::unlink(out.c_str());
        const CliResult pooled = JoinThreads(dir, out, inputs, threads);
        EXPECT_EQ(pooled.exitCode, serial.exitCode);
        EXPECT_EQ(pooled.err, serial.err);
        const std::string expected = mp3 ? bytes : ReadFile(wav), again = ReadFile(out);
        EXPECT_TRUE(again == expected) << Difference(expected, again);
    }
}

std::string Mp3(const TempDir &dir, int rate, int channels, const std::string &rateControl) {
    const std::string name = "r" + std::to_string(rate) + "c" + std::to_string(channels) +
                             rateControl.substr(rateControl.find(' ') + 1) + ".mp3";
    return Ffmpeg(dir, name,
                  Noise(rate, kPieceSamples / rate, channels) + " -c:a libmp3lame " + rateControl);
}

// MP3 files of every rate family, CBR (8 kbps at 8 kHz, where the bit reservoir spans many
// frames) and VBR, each cut into pieces; a long one in many pieces.
TEST(CliDecodePool, Mp3PiecesJoinAsTheWholeFilesDo) {
    TempDir dir;
    const std::pair<int, const char *> cbr[] = {{8000, "8k"},   {16000, "24k"},  {22050, "32k"},
                                                {32000, "64k"}, {44100, "128k"}, {48000, "160k"}};
    for (const auto &[rate, kbps] : cbr) {
        SCOPED_TRACE(rate);
        const int channels = rate == 8000 ? 1 : 2;
        ExpectSameJoins(dir, {Mp3(dir, rate, channels, "-b:a " + std::string(kbps)),
                              Mp3(dir, rate, channels, "-q:a 6")});
    }
    ExpectSameJoins(dir, {Ffmpeg(dir, "long.mp3", Noise(44100, 50) + " -c:a libmp3lame -b:a 96k")});
}

// Frames of another channel count or rate in the middle, where the first piece would end, and
// no header frame to tell: the pool gives what one thread does.
TEST(CliDecodePool, FilesWhoseFramesChangeFormatJoinAsTheWholeFilesDo) {
    TempDir dir;
    const std::string bare = " -c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0";
    const std::string head = ReadFile(Ffmpeg(dir, "head.mp3", Noise(44100, 6) + bare));
    const std::pair<const char *, std::string> middles[] = {{"mono.mp3", Noise(44100, 1, 1)},
                                                            {"rate.mp3", Noise(48000, 1.5)}};
    for (const auto &[name, source] : middles) {
        SCOPED_TRACE(name);
        const std::string middle = ReadFile(Ffmpeg(dir, "m" + std::string(name), source + bare));
        WriteFile(dir.File(name), head + middle + head);
        ExpectSameJoins(dir, {dir.File(name)});
    }
}

// Other formats are decoded whole, the next ones while the join takes the current one; a mixed
// list, WAV files among them, joined into WAV and into MP3.
TEST(CliDecodePool, OtherFormatsAndMixedListsJoinAsBefore) {
    TempDir dir;
    const std::pair<const char *, const char *> formats[] = {{"wma", "-c:a wmav2 -b:a 128k"},
                                                             {"flac", "-c:a flac"},
                                                             {"ogg", "-c:a libvorbis"},
                                                             {"opus", "-c:a libopus"},
                                                             {"m4a", "-c:a aac"}};
    std::vector<std::string> mixed;
    for (const auto &[ext, codec] : formats) {
        SCOPED_TRACE(ext);
        const int rate = std::string(ext) == "opus" ? 48000 : 44100;
        std::vector<std::string> files;
        for (const char *name : {"a.", "b."})
            files.push_back(Ffmpeg(dir, name + std::string(ext), Noise(rate, 3) + " " + codec));
        ExpectSameJoins(dir, files);
        if (rate == 44100)
            mixed.push_back(files[0]);
    }
    mixed.insert(mixed.begin() + 1, Mp3(dir, 44100, 2, "-b:a 128k"));
    mixed.insert(mixed.begin() + 3, Ffmpeg(dir, "w.wav", Noise(44100, 2)));
    mixed.push_back(Mp3(dir, 44100, 2, "-q:a 2"));
    ExpectSameJoins(dir, mixed);
    ExpectSameJoins(dir, mixed, true);
}

// Junk amid the frames, bytes overwritten inside them, a file cut short, and one that cannot
// be opened: the same audio, the same message when the join reaches it.
TEST(CliDecodePool, DamagedInputsGiveTheSameAudioAndMessages) {
    TempDir dir;
    const std::string good = Mp3(dir, 44100, 2, "-b:a 128k");
    const std::string bytes = ReadFile(good);
    const std::size_t third = bytes.size() / 3;
    WriteFile(dir.File("junk.mp3"),
              bytes.substr(0, third) + std::string(3000, '\x5a') + bytes.substr(third));
    std::string hurt = bytes;
    for (std::size_t at = third; at + 40 < hurt.size(); at += 47123)
        hurt.replace(at, 40, std::string(40, '\xff'));
    WriteFile(dir.File("hurt.mp3"), hurt);
    WriteFile(dir.File("cut.mp3"), bytes.substr(0, bytes.size() * 2 / 3 + 101));
    // Side information overwritten in frames before and at the start of the second piece.
    std::string side = bytes;
    const std::vector<std::size_t> at = Mp3FrameStarts(bytes);
    ASSERT_GT(at.size(), 300u);
    std::mt19937 random(7);
    for (std::size_t k : {250, 254, 256, 257})
        for (std::size_t i = at[k + 1] + 4; i < at[k + 1] + 36; ++i)
            side[i] = char(random());
    WriteFile(dir.File("side.mp3"), side);
    WriteFile(dir.File("noise.mp3"), std::string(5000, '\x33'));
    const std::string flac = Ffmpeg(dir, "a.flac", Noise(44100, 1) + " -c:a flac");
    for (const char *name : {"junk.mp3", "hurt.mp3", "cut.mp3", "side.mp3", "noise.mp3"}) {
        SCOPED_TRACE(name);
        ExpectSameJoins(dir, {flac, good, dir.File(name), flac});
    }
}

// A stop asked for mid-join is answered at once, workers decoding ahead or not.
TEST(CliDecodePool, InterruptIsAnsweredWhileWorkersDecodeAhead) {
    TempDir dir;
    const std::string mp3 = Ffmpeg(dir, "a.mp3", Tone(44100, 60) + " -c:a libmp3lame -b:a 128k");
    const std::string err = dir.File("err.txt");
    std::vector<std::string> args{"--force", "-o", dir.File("out.wav")};
    args.insert(args.end(), 30, mp3);
    const pid_t pid = Start(args, dir.File("out.txt"), err);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitUntil([&] { return WritesInto(pid, dir.Path()); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto asked = std::chrono::steady_clock::now();
    kill(pid, SIGINT);
    EXPECT_EQ(ExitCode(pid), 130) << ReadFile(err);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
    EXPECT_FALSE(Exists(dir.File("out.wav")));
}

// Ten minutes of MP3 in a few hundred pieces: only a few of them are held at once.
TEST(CliFormatsMemory, LongMp3DecodesInPiecesInBoundedMemory) {
#ifdef TANDREL_SANITIZE
    GTEST_SKIP() << "the sanitizers' shadow memory is no measure of ours";
#endif
    TempDir dir;
    const std::string minute =
        Ffmpeg(dir, "m.mp3", Noise(44100, 60) + " -c:a libmp3lame -b:a 128k");
    const std::string part = ReadFile(minute);
    std::string whole;
    for (int i = 0; i < 10; ++i)
        whole += part;
    WriteFile(dir.File("long.mp3"), whole);
    const std::string line = "/usr/bin/time -f %M -o " + Quote(dir.File("peak")) + " " +
                             Quote(Cli()) + " -q --force --threads 3 -f wav -o - " +
                             Quote(dir.File("long.mp3")) + " | wc -c";
    const CommandResult r = testutil::Run(line);
    EXPECT_GT(std::stoull(r.output), 600ull * 44100 * 4);
    EXPECT_LT(std::stol(ReadFile(dir.File("peak"))), 64 * 1024);
}

} // namespace
