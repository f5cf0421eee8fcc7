#include "CliTestSupport.h"
#include "encoders/Mp3Bitstream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

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
    const auto infoLength = [](const std::string &file) -> std::size_t {
        mp3::FrameHeader h;
        const auto *p = reinterpret_cast<const std::uint8_t *>(file.data());
        if (!mp3::ParseHeader(p, file.size(), h) || file.compare(4 + h.sideInfo, 4, "Info") != 0)
            return 0;
        return h.length;
    };
    const std::string par = ReadFile(out.File("par.mp3"));
    const std::string ser = ReadFile(out.File("ser.mp3"));
    const std::string piped = ReadFile(out.File("piped.mp3"));
    ASSERT_GT(infoLength(par), 0u);
    ASSERT_GT(infoLength(ser), 0u);
    ASSERT_GT(infoLength(piped), 0u);
    EXPECT_TRUE(piped.substr(infoLength(piped)) == par.substr(infoLength(par)));
    EXPECT_EQ(infoLength(ReadFile(out.File("unknown.mp3"))), 0u);
    EXPECT_FALSE(par.substr(infoLength(par)) == ser.substr(infoLength(ser))) << "not spliced";
    // The frame counts in the Info frames.
    EXPECT_EQ(par.substr(4 + 32 + 8, 4), ser.substr(4 + 32 + 8, 4));
    const std::size_t joined = std::size_t(std::lround(23.3 * 44100) + std::lround(21.7 * 44100));
    for (const std::string name : {"par", "ser", "piped"}) {
        ASSERT_EQ(shell("ffmpeg -v error -i " + name + ".mp3 -f s16le " + name + ".raw"), 0);
        EXPECT_EQ(ReadFile(out.File(name + ".raw")).size() / 4, joined) << name;
    }
}

} // namespace
