#include "CliTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace testutil;
using namespace clitest;

namespace {

// MP3 on every core: a file decodes to exactly the joined frames (the Info frame tells the
// delay and padding) and has the serial encode's frame count; a pipe gets the same audio frames,
// with the Info frame when the WAV inputs tell the length ahead, and without when they cannot.
TEST(CliMp3, OnEveryCoreIsGaplessOnPipesWhenTheLengthIsKnownAhead) {
    TempDir in, out;
    const std::string a = Synth(in, "a.wav", "-r 44100 -c 2 -b 16", "23.3 pinknoise vol 0.3");
    const std::string b = Synth(in, "b.wav", "-r 44100 -c 2 -b 16", "21.7 sine 440");
    const std::string cli = Quote(Cli());
    const std::string inputs = std::string(" ").append(Quote(a)).append(" ").append(Quote(b));
    const auto shell = [&](const std::string &line) {
        return testutil::Run("cd " + Quote(out.Path()) + " && " + line).exitCode;
    };
    ASSERT_EQ(shell(cli + " -q --threads 2 -o par.mp3" + inputs), 0);
    ASSERT_EQ(shell(cli + " -q --threads 1 -o ser.mp3" + inputs), 0);
    ASSERT_EQ(shell(cli + " -q --threads 2 -f mp3 -o -" + inputs + " | cat >piped.mp3"), 0);
    // A repeated rate is counted only as it goes: no length ahead.
    const std::string c = Synth(in, "c.wav", "-r 22050 -c 2 -b 16", "1 sine 440");
    ASSERT_EQ(shell(cli + " -q -f mp3 -o - " + Quote(c) + inputs + " | cat >unknown.mp3"), 0);
    const auto par = ParseMp3(ReadFile(out.File("par.mp3")));
    const auto ser = ParseMp3(ReadFile(out.File("ser.mp3")));
    const auto piped = ParseMp3(ReadFile(out.File("piped.mp3")));
    ASSERT_TRUE(par.parsed && par.info && ser.parsed && ser.info && piped.parsed && piped.info);
    EXPECT_TRUE(piped.audio == par.audio);
    EXPECT_FALSE(ParseMp3(ReadFile(out.File("unknown.mp3"))).info);
    EXPECT_FALSE(par.audio == ser.audio) << "not spliced";
    EXPECT_EQ(par.infoFrames, ser.infoFrames);
    const std::size_t joined = std::size_t(std::lround(23.3 * 44100) + std::lround(21.7 * 44100));
    for (const std::string name : {"par", "ser", "piped"})
        EXPECT_EQ(Decode(out.File(name + ".mp3"), 2).size() / 2, joined) << name;
}

} // namespace
