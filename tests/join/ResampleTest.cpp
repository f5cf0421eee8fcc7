#include "JoinTestSupport.h"
#include "join/Convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace tandrel;
using namespace testutil;
using namespace jointest;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Interleaved 16-bit PCM: a sine of hz at amplitude (of full scale) in every channel.
std::string Sine16(int rate, int channels, std::size_t frames, double hz, double amplitude) {
    std::vector<int> values;
    for (std::size_t i = 0; i < frames; ++i) {
        const int v = int(std::lround(amplitude * 32767.0 * std::sin(2 * kPi * hz * i / rate)));
        for (int c = 0; c < channels; ++c)
            values.push_back(v);
    }
    return Samples16(values);
}

// One input through the converter in blocks of blockBytes, ended as the join ends it.
std::string Through(const PcmFormat &in, const PcmFormat &out, const std::string &bytes,
                    Resampling resampling, std::size_t blockBytes = 20480) {
    PcmConverter c;
    EXPECT_TRUE(c.PrepareConversion(in, out, resampling));
    StringSink sink;
    const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.data());
    for (std::size_t at = 0; at < bytes.size(); at += blockBytes)
        EXPECT_TRUE(c.ConvertBlock(p + at, std::min(blockBytes, bytes.size() - at), sink));
    EXPECT_TRUE(c.FinishInput(sink));
    return sink.bytes;
}

std::vector<double> Channel16(const std::string &bytes, int channels, int channel) {
    std::vector<double> x;
    for (std::size_t at = 2 * std::size_t(channel); at + 1 < bytes.size(); at += 2 * channels)
        x.push_back(double(std::int16_t(std::uint8_t(bytes[at]) | (bytes[at + 1] << 8))));
    return x;
}

// Energy outside lo..hi Hz against the energy inside, in dB: a naive DFT over 8192 samples
// from the middle of x under a 7-term Blackman-Harris window (side lobes below -180 dB).
double OutOfBandDb(const std::vector<double> &x, int rate, double lo, double hi) {
    const std::size_t n = 8192;
    EXPECT_GE(x.size(), n);
    const std::size_t start = (x.size() - n) / 2;
    static const double a[] = {0.27105140069342,  -0.43329793923448, 0.21812299954311,
                               -0.06592544638803, 0.01081174209837,  -0.00077658482522,
                               0.00001388721735};
    std::vector<double> w(n), cosTable(n), sinTable(n);
    for (std::size_t i = 0; i < n; ++i) {
        double v = 0;
        for (int k = 0; k < 7; ++k)
            v += a[k] * std::cos(2 * kPi * k * double(i) / n);
        w[i] = v * x[start + i];
        cosTable[i] = std::cos(2 * kPi * double(i) / n);
        sinTable[i] = std::sin(2 * kPi * double(i) / n);
    }
    double inside = 0, outside = 0;
    for (std::size_t k = 0; k <= n / 2; ++k) {
        double re = 0, im = 0;
        for (std::size_t i = 0, idx = 0; i < n; ++i, idx = (idx + k) % n) {
            re += w[i] * cosTable[idx];
            im -= w[i] * sinTable[idx];
        }
        const double hz = double(k) * rate / n;
        (hz >= lo && hz <= hi ? inside : outside) += re * re + im * im;
    }
    return 10 * std::log10(outside / inside);
}

// A 44100 Hz sine joined after a 48000 Hz file: the converted part of the output.
std::string JoinedSine(Resampling resampling, int channels) {
    TempDir dir, tmp;
    WavLayout sine;
    sine.channels = std::uint16_t(channels);
    sine.data = Sine16(44100, channels, 2 * 44100, 1000.0, 0.5);
    WriteFile(dir.File("sine.wav"), BuildWav(sine));
    JoinRequest req = WavJoin(tmp,
                              {{dir.File("sine.wav"), {44100, channels, 16}},
                               {WavFile(dir, "b.wav", 4800 * 4, '\x05', 2, 48000), {48000, 2, 16}}},
                              dir.File("out.wav"));
    req.resampling = resampling;
    Recorder rec;
    EXPECT_EQ(RunJoin(req, rec), JoinStatus::Ok);
    const std::string data = DataChunk(ReadFile(dir.File("out.wav")));
    // The second file's bytes follow the converted sine as they were.
    const std::size_t tail = 4800 * 4;
    EXPECT_GT(data.size(), tail);
    EXPECT_TRUE(data.substr(data.size() - tail) == std::string(tail, '\x05'));
    return data.substr(0, data.size() - tail);
}

TEST(Resample, HqKeepsASineCleanWhereRepeatingDoesNot) {
    for (int channels : {1, 2}) {
        const std::string hq = JoinedSine(Resampling::Hq, channels);
        EXPECT_EQ(hq.size(), 96000u * 4) << "two seconds at 48000 Hz";
        const std::vector<double> left = Channel16(hq, 2, 0);
        EXPECT_EQ(left, Channel16(hq, 2, 1)) << "mono is duplicated, stereo stays alike";
        EXPECT_LT(OutOfBandDb(left, 48000, 950, 1050), -80.0) << channels;
        const std::string repeat = JoinedSine(Resampling::Repeat, channels);
        EXPECT_GT(OutOfBandDb(Channel16(repeat, 2, 0), 48000, 950, 1050), -40.0) << channels;
    }
}

TEST(Resample, HqInputsLastTheirRoundedDuration) {
    struct Case {
        int from, to;
        std::size_t frames, expected;
    } cases[] = {{8000, 44100, 8000, 44100},   {8000, 44100, 12345, 68052},
                 {22050, 48000, 22050, 48000}, {22050, 48000, 12345, 26873},
                 {44100, 48000, 44100, 48000}, {44100, 48000, 12345, 13437},
                 {44100, 48000, 1, 1},         {22050, 48000, 3, 7}};
    for (const Case &c : cases) {
        EXPECT_EQ(HqFrameCount(c.frames, c.from, c.to), c.expected) << c.from << " " << c.frames;
        const std::string in = Sine16(c.from, 1, c.frames, 440.0, 0.25);
        const std::string out = Through({c.from, 1, 16}, {c.to, 2, 16}, in, Resampling::Hq);
        EXPECT_EQ(out.size(), c.expected * 4) << c.from << " -> " << c.to << ", " << c.frames;
    }
    EXPECT_EQ(HqFrameCount(std::uint64_t(1) << 40, 44100, 384000),
              std::uint64_t(9573978799682)); // no overflow on long inputs
}

TEST(Resample, HqTailIsTheSignalNotPadding) {
    // A steady level: the flushed end of the input carries it, not silence.
    const std::string in = Samples16(std::vector<int>(3000, 10000));
    const std::vector<double> out =
        Channel16(Through({22050, 1, 16}, {48000, 1, 16}, in, Resampling::Hq), 1, 0);
    ASSERT_EQ(out.size(), 6531u);
    for (std::size_t i = 300; i + 300 < out.size(); ++i)
        ASSERT_NEAR(out[i], 10000.0, 10.0) << i;
    EXPECT_GT(out.back(), 2000.0);
}

// 768 output frames for every input frame come in many calls of the resampler: none of its
// output is lost or doubled between them, and the flushed end is the wave too.
TEST(Resample, HqSteepRiseKeepsTheWaveWhole) {
    const std::string in = Sine16(1000, 1, 1200, 50.0, 0.5);
    for (const int to : {768000, 767999}) {
        const std::vector<double> out =
            Channel16(Through({1000, 1, 16}, {to, 1, 16}, in, Resampling::Hq), 1, 0);
        ASSERT_EQ(out.size(), HqFrameCount(1200, 1000, to));
        // The filter rings for about 60 input frames at either end; silence would be far off.
        const std::size_t edge = 64 * 768;
        for (std::size_t i = 0; i < out.size(); ++i) {
            const double error = std::abs(out[i] - 0.5 * 32767 * std::sin(2 * kPi * 50 * i / to));
            const bool atEdge = i < edge || i + edge >= out.size();
            ASSERT_LT(error, atEdge ? 1000.0 : 3.0) << to << " Hz, frame " << i;
        }
    }
}

TEST(Resample, HqSplitsAndSameRateInputsChangeNothing) {
    const std::string sine = Sine16(22050, 2, 5000, 700.0, 0.9);
    const PcmFormat in{22050, 2, 16}, out{44100, 2, 24};
    EXPECT_TRUE(Through(in, out, sine, Resampling::Hq, 7) ==
                Through(in, out, sine, Resampling::Hq));
    // Inputs already at the target rate take the same path as before, bits and channels too.
    std::string bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += char(i * 37);
    EXPECT_TRUE(Through({44100, 1, 8}, {44100, 2, 16}, bytes, Resampling::Hq) ==
                Through({44100, 1, 8}, {44100, 2, 16}, bytes, Resampling::Repeat));
    // Eight bits resampled are centred on 128 and stay 8 bits.
    const std::string centre(2000, '\x80');
    EXPECT_TRUE(Through({11025, 1, 8}, {22050, 1, 8}, centre, Resampling::Hq) ==
                std::string(4000, '\x80'));
}

} // namespace
