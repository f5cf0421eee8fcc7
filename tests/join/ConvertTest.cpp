#include "join/Convert.h"
#include "JoinTestSupport.h"

#include <gtest/gtest.h>
#include <random>

using namespace tandrel;
using jointest::Samples16;
using jointest::StringSink;

namespace {

std::string Convert(const PcmFormat &in, const PcmFormat &out, const std::string &bytes) {
    PcmConverter c;
    EXPECT_TRUE(c.PrepareConversion(in, out));
    StringSink sink;
    EXPECT_TRUE(
        c.ConvertBlock(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size(), sink));
    c.EndInput();
    return sink.bytes;
}

TEST(Convert, OneSecondGivesTheSinglePrecisionFrameCounts) {
    struct Case {
        int from, to;
        std::size_t frames;
    } cases[] = {{8000, 44100, 44099},
                 {44100, 48000, 47999},
                 {22050, 48000, 47999},
                 {32000, 44100, 44100},
                 {16000, 44100, 44100}};
    for (const Case &c : cases) {
        const std::string second(std::size_t(c.from) * 2, '\x01');
        const std::string out = Convert({c.from, 1, 16}, {c.to, 1, 16}, second);
        EXPECT_EQ(out.size() / 2, c.frames) << c.from << " -> " << c.to;
    }
}

TEST(Convert, FramesAreRepeatedWidenedAndCopied) {
    // Ratios of one and three repeat whole frames.
    EXPECT_EQ(Convert({22050, 1, 16}, {44100, 2, 16}, Samples16({5, -7})),
              Samples16({5, 5, 5, 5, -7, -7, -7, -7}));
    EXPECT_EQ(Convert({11025, 2, 8}, {44100, 2, 8}, "ab"), "abababab");
    EXPECT_EQ(Convert({8000, 2, 8}, {8000, 2, 16}, std::string("\x00\x80\xff\x01", 4)),
              Samples16({-32767, 0, 32511, -32511}));
    EXPECT_EQ(Convert({8000, 1, 8}, {8000, 2, 8}, "xyz"), "xxyyzz");
    EXPECT_EQ(Convert({8000, 1, 16}, {8000, 2, 16}, Samples16({1, -2})), Samples16({1, 1, -2, -2}));
    const std::string odd = "\x10\x20\x30\x40\x50\x60";
    EXPECT_EQ(Convert({96000, 6, 8}, {96000, 6, 8}, odd), odd);
}

TEST(Convert, BlockBoundariesNeverChangeTheOutput) {
    std::mt19937 random(7);
    std::string input(20001, '\0');
    for (char &c : input)
        c = char(random());
    const PcmFormat cases[][2] = {{{8000, 1, 8}, {44100, 2, 16}},
                                  {{22050, 2, 16}, {48000, 2, 24}},
                                  {{44100, 2, 16}, {44100, 2, 16}}};
    for (const auto &formats : cases) {
        const std::string whole = Convert(formats[0], formats[1], input);
        PcmConverter c;
        ASSERT_TRUE(c.PrepareConversion(formats[0], formats[1]));
        StringSink sink;
        for (std::size_t at = 0; at < input.size();) {
            const std::size_t n = std::min<std::size_t>(random() % 700, input.size() - at);
            ASSERT_TRUE(
                c.ConvertBlock(reinterpret_cast<const std::uint8_t *>(input.data()) + at, n, sink));
            at += n;
        }
        EXPECT_EQ(sink.bytes, whole);
    }
}

// Frames whole in a block go through a pair's loop many at a time; a frame that straddles
// blocks goes through it alone, after waiting for its last bytes. Fed a byte at a time, every
// frame takes that second way.
TEST(Convert, EveryPairOfFormatsGivesTheSameBytesWholeAsByteByByte) {
    std::mt19937 random(11);
    std::string input(6000, '\0');
    for (char &c : input)
        c = char(random());
    int pairs = 0;
    for (const int inBits : {8, 16, 24, 32})
        for (const int outBits : {8, 16, 24, 32})
            for (const int inChannels : {1, 2})
                for (const int outChannels : {1, 2})
                    for (const int outRate :
                         {8000, 8000 * 147 / 80, 44100, 8000 * 65 - 1, 8000 * 70}) {
                        const PcmFormat in{8000, inChannels, inBits};
                        const PcmFormat out{outRate, outChannels, outBits};
                        if (in == out || CheckConversion(in, out) != ConversionCheck::Ok)
                            continue;
                        ++pairs;
                        PcmConverter c;
                        ASSERT_TRUE(c.PrepareConversion(in, out));
                        StringSink sink;
                        for (const char &byte : input)
                            ASSERT_TRUE(c.ConvertBlock(
                                reinterpret_cast<const std::uint8_t *>(&byte), 1, sink));
                        EXPECT_EQ(Convert(in, out, input), sink.bytes)
                            << inBits << "/" << inChannels << " -> " << outBits << "/"
                            << outChannels << " at " << outRate;
                    }
    EXPECT_EQ(pairs, 150 - 8); // eight of them only copy
}

TEST(Convert, PartialLastFrameIsDroppedAndTheNextInputStartsAligned) {
    PcmConverter c;
    StringSink sink;
    ASSERT_TRUE(c.PrepareConversion({44100, 2, 16}, {44100, 2, 16}));
    ASSERT_TRUE(c.ConvertBlock(reinterpret_cast<const std::uint8_t *>("ABCDE"), 5, sink));
    c.EndInput();
    ASSERT_TRUE(c.PrepareConversion({44100, 2, 16}, {44100, 2, 16}));
    ASSERT_TRUE(c.ConvertBlock(reinterpret_cast<const std::uint8_t *>("wxyz"), 4, sink));
    EXPECT_EQ(sink.bytes, "ABCDwxyz");
}

TEST(Convert, WiderSamplesGoUpByShiftingAndDownWithRounding) {
    std::string s24 = Convert({44100, 1, 16}, {44100, 1, 24}, Samples16({1, -1}));
    EXPECT_EQ(s24, std::string("\x00\x01\x00\x00\xff\xff", 6));
    EXPECT_EQ(Convert({44100, 1, 8}, {44100, 1, 24}, "\xff"), std::string("\x00\xff\x7e", 3));
    EXPECT_EQ(Convert({44100, 1, 24}, {44100, 2, 32}, std::string("\x01\x02\x83", 3)),
              std::string("\x00\x01\x02\x83\x00\x01\x02\x83", 8));

    const std::uint8_t in24[] = {0x7f, 0x00, 0x00, 0x80, 0x00, 0x00, 0xff, 0xff,
                                 0x7f, 0x80, 0xff, 0xff, 0x00, 0x00, 0x80};
    std::int16_t out[5];
    ASSERT_EQ(ConvertSamplesTo16(in24, sizeof in24, 24, out), 5u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 1);      // 0x80 rounds up
    EXPECT_EQ(out[2], 32767);  // clamped at the top
    EXPECT_EQ(out[3], 0);      // -128 rounds to 0
    EXPECT_EQ(out[4], -32768); // the bottom fits
    const std::uint8_t in32[] = {0x00, 0x80, 0x34, 0x12};
    ASSERT_EQ(ConvertSamplesTo16(in32, 4, 32, out), 1u);
    EXPECT_EQ(out[0], 0x1235);
}

TEST(Convert, RefusesWhatItCannotServeAndNeverSpins) {
    EXPECT_EQ(CheckConversion({44100, 4, 16}, {48000, 4, 16}), ConversionCheck::TooManyChannels);
    EXPECT_EQ(CheckConversion({44100, 1, 16}, {44100, 6, 16}), ConversionCheck::TooManyChannels);
    EXPECT_EQ(CheckConversion({44100, 4, 16}, {44100, 4, 16}), ConversionCheck::Ok);
    EXPECT_EQ(CheckConversion({44100, 1, 12}, {44100, 2, 16}), ConversionCheck::UnsupportedBits);
    EXPECT_EQ(CheckConversion({44100, 1, 16}, {44100, 1, 8}), ConversionCheck::UnsupportedBits);
    EXPECT_EQ(CheckConversion({48000, 1, 16}, {44100, 1, 16}), ConversionCheck::UnsupportedRate);
    EXPECT_EQ(CheckConversion({1, 1, 16}, {2000000000, 1, 16}), ConversionCheck::UnsupportedRate);
    EXPECT_EQ(CheckConversion({44100, 2, 16}, {44100, 1, 16}), ConversionCheck::FewerChannels);
    EXPECT_FALSE(PcmConverter().PrepareConversion({44100, 4, 16}, {48000, 4, 16}));
    // A stated rate of 0 copies each frame once.
    EXPECT_EQ(Convert({0, 1, 8}, {44100, 1, 16}, "\x80\x80"), Samples16({0, 0}));
}

} // namespace
