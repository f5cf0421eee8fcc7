// Joins that keep the frames, of inputs with bytes changed, cut or moved: every run ends by
// itself with 0 or 1, and an output that is left is whole: its frames follow each other to the
// end at one rate, its Info frame counts them, its LAME tag's CRCs are those of its bytes, and
// ffmpeg decodes it without a complaint unless it has one about the damaged input (whose
// damaged frames are copied as they are, to decode as they did).
#include "CliTestSupport.h"
#include "encoders/Mp3Bitstream.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

using namespace clitest;
using testutil::Quote;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

std::uint8_t At(const std::string &b, std::size_t i) {
    return i < b.size() ? std::uint8_t(b[i]) : 0;
}

std::uint32_t Be32(const std::string &b, std::size_t i) {
    return std::uint32_t(At(b, i)) << 24 | std::uint32_t(At(b, i + 1)) << 16 |
           std::uint32_t(At(b, i + 2)) << 8 | At(b, i + 3);
}

std::uint16_t BitwiseCrc(const std::string &b, std::size_t from, std::size_t to) {
    to = std::min(to, b.size());
    return testutil::BitwiseCrc16(0, reinterpret_cast<const std::uint8_t *>(b.data()) + from,
                                  from < to ? to - from : 0);
}

bool HeaderAt(const std::string &b, std::size_t at, mp3::FrameHeader &h) {
    return at < b.size() &&
           mp3::ParseHeader(reinterpret_cast<const std::uint8_t *>(b.data()) + at, b.size() - at,
                            h) &&
           at + h.length <= b.size();
}

// What is wrong with an output of a join that keeps frames; empty when nothing is.
std::string Flaws(const std::string &b) {
    std::size_t at = 0;
    if (b.compare(0, 3, "ID3") == 0) {
        std::size_t size = 0;
        for (std::size_t i = 6; i < 10; ++i)
            size = size << 7 | (At(b, i) & 0x7F);
        at = 10 + size + (At(b, 5) & 0x10 ? 10 : 0);
    }
    mp3::FrameHeader info;
    if (!HeaderAt(b, at, info))
        return "no frame where the audio starts";
    const std::size_t first = at, x = at + 4 + info.sideInfo;
    if (b.compare(x, 4, "Info") != 0 && b.compare(x, 4, "Xing") != 0)
        return "no Info frame";
    if (Be32(b, x + 4) != 0x0F)
        return "Info frame without frames, bytes, TOC and quality";
    std::size_t end = b.size();
    if (end >= first + 128 && b.compare(end - 128, 3, "TAG") == 0)
        end -= 128;
    std::uint32_t frames = 0;
    for (at = first + info.length; at < end; ++frames) {
        mp3::FrameHeader h;
        if (!HeaderAt(b, at, h) || at + h.length > end)
            return "no frame at byte " + std::to_string(at);
        if (h.sampleRate != info.sampleRate || h.channels != info.channels)
            return "a frame of another format at byte " + std::to_string(at);
        at += h.length;
    }
    const std::size_t lame = x + 120;
    const std::uint32_t bytes = std::uint32_t(end - first);
    if (Be32(b, x + 8) != frames || Be32(b, x + 12) != bytes || Be32(b, lame + 28) != bytes)
        return "Info frame counts " + std::to_string(Be32(b, x + 8)) + " frames and " +
               std::to_string(Be32(b, x + 12)) + " bytes for " + std::to_string(frames) + " and " +
               std::to_string(bytes);
    if ((At(b, lame + 32) << 8 | At(b, lame + 33)) != BitwiseCrc(b, first + info.length, end))
        return "wrong music CRC";
    if ((At(b, lame + 34) << 8 | At(b, lame + 35)) != BitwiseCrc(b, first, lame + 34))
        return "wrong tag CRC";
    return "";
}

// bytes with a few of them changed, cut, or a run of them copied elsewhere, by kind.
std::string Mutated(std::string bytes, int kind, std::mt19937 &random) {
    const auto anywhere = [&] { return std::size_t(random() % bytes.size()); };
    // Somewhere in the first frame, the side information, or a header, as kind asks.
    const auto frameByte = [&](std::size_t from, std::size_t to) {
        std::size_t at = anywhere();
        while (at > 0 && !(At(bytes, at) == 0xFF && (At(bytes, at + 1) & 0xE0) == 0xE0))
            --at;
        return at + from + random() % (to - from);
    };
    switch (kind) {
    case 0: // headers
    case 1: // side information
        for (unsigned n = 1 + random() % 3; n > 0; --n) {
            const std::size_t at = kind == 0 ? frameByte(1, 4) : frameByte(4, 36);
            if (at < bytes.size())
                bytes[at] = char(random());
        }
        break;
    case 2: // anywhere
        for (unsigned n = 1 + random() % 4; n > 0; --n)
            bytes[anywhere()] = char(random());
        break;
    case 3:
        bytes.resize(anywhere());
        break;
    case 4: { // a run copied over another
        const std::size_t from = anywhere(), to = anywhere();
        const std::size_t n = std::min(bytes.size() - std::max(from, to), 1 + random() % 2000);
        bytes.replace(to, n, bytes.substr(from, n));
        break;
    }
    default: // the Info frame and its LAME tag
        for (unsigned n = 1 + random() % 3; n > 0; --n)
            bytes[random() % std::min<std::size_t>(bytes.size(), 220)] = char(random());
    }
    return bytes;
}

} // namespace

TEST(CliMp3CopyFuzz, MutatedInputsGiveAWholeOutputOrNone) {
    TempDir dir;
    const auto made =
        testutil::Run("cd " + Quote(dir.Path()) +
                      " && sox -n -r 44100 -c 2 -b 16 s.wav synth 5 pinknoise vol 0.3 2>&1"
                      " && lame --quiet -b 128 s.wav 0.mp3 && lame --quiet -V 2 -p s.wav 1.mp3"
                      " && lame --quiet -b 192 s.wav 2.mp3");
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const std::string originals[] = {ReadFile(dir.File("0.mp3")), ReadFile(dir.File("1.mp3")),
                                     ReadFile(dir.File("2.mp3"))};
    std::mt19937 random(25);
    int joined = 0;
    for (int i = 0; i < 72; ++i) {
        const int input = (i / 6) % 3, kind = i % 6;
        SCOPED_TRACE("case " + std::to_string(i) + ": input " + std::to_string(input) + ", kind " +
                     std::to_string(kind));
        std::string inputs, damaged;
        for (int k = 0; k < 3; ++k) {
            const std::string name = dir.File("in" + std::to_string(k) + ".mp3");
            WriteFile(name, k == input ? Mutated(originals[k], kind, random) : originals[k]);
            inputs += " " + Quote(name);
            if (k == input)
                damaged = name;
        }
        const std::string out = dir.File("out.mp3");
        const auto run =
            testutil::Run("cd " + Quote(dir.Path()) + " && timeout -s KILL 20 " + Quote(Cli()) +
                          " -q --force --mp3-copy -o " + Quote(out) + inputs + " 2>&1 >/dev/null");
        ASSERT_LE(run.exitCode, 1) << run.output;
        EXPECT_FALSE(Contains(run.output, "Sanitizer") || Contains(run.output, "runtime error"))
            << run.output;
        if (run.exitCode == 1) {
            EXPECT_FALSE(testutil::Exists(out));
            continue;
        }
        ++joined;
        EXPECT_EQ(Flaws(ReadFile(out)), "");
        const auto complaints = [](const std::string &path) {
            return testutil::Run("ffmpeg -v error -i " + Quote(path) + " -f null - 2>&1").output;
        };
        const std::string said = complaints(out);
        EXPECT_TRUE(said.empty() || !complaints(damaged).empty()) << said;
        ::unlink(out.c_str());
    }
    EXPECT_GT(joined, 36); // most damage is skipped as a decoder would
}
