// Inputs beyond PCM WAV and MP3, made here with ffmpeg: the listing names their container,
// codec and depth, and a join holds exactly the samples ffmpeg decodes from them.
#include "CliFormatsSupport.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>

using namespace testutil;
using namespace clitest;
using namespace fmttest;

namespace {

struct Source {
    const char *name;
    std::string make; // ffmpeg's arguments before the output's name
    const char *raw;  // the sample format the join's data must equal ffmpeg's decode in
    int bits;
    const char *container, *codec;
    // FFmpeg's CAF writer states whole ALAC packets, so CAF lengths are estimates.
    bool exact = true;
};

// Every lossless and PCM source keeps its depth (float becomes 32-bit integers), is exact, and
// joins alone to the very samples ffmpeg decodes.
TEST(CliFormats, LosslessSourcesJoinBitExactAtTheirOwnDepth) {
    TempDir dir;
    const std::string cd = Noise(44100, 0.4), hi = Noise(96000, 0.3), dat = Noise(48000, 0.4);
    const Source sources[] = {
        {"s16.flac", cd + " -sample_fmt s16", "s16le", 16, "FLAC", "flac"},
        {"s24.flac", hi + " -sample_fmt s32 -bits_per_raw_sample 24", "s24le", 24, "FLAC", "flac"},
        {"alac.m4a", dat + " -c:a alac -sample_fmt s32p", "s24le", 24, "MP4", "alac"},
        {"s16.aiff", cd, "s16le", 16, "AIFF", "pcm_s16be"},
        {"s24.aifc", cd + " -c:a pcm_s24be -tag:a in24", "s24le", 24, "AIFF", "pcm_s24be"},
        {"sowt.aifc", cd + " -c:a pcm_s16le -f aiff", "s16le", 16, "AIFF", "pcm_s16le"},
        {"f32.aifc", cd + " -c:a pcm_f32be", "s32le", 32, "AIFF", "pcm_f32be"},
        {"f32.wav", cd + " -c:a pcm_f32le", "s32le", 32, "WAV", "pcm_f32le"},
        {"f64.wav", cd + " -c:a pcm_f64le", "s32le", 32, "WAV", "pcm_f64le"},
        {"s16.wv", cd + " -c:a wavpack -sample_fmt s16p", "s16le", 16, "WavPack", "wavpack"},
        {"s32.wv", cd + " -c:a wavpack -sample_fmt s32p", "s32le", 32, "WavPack", "wavpack"},
        {"flt.wv", cd + " -c:a wavpack -sample_fmt fltp", "s32le", 32, "WavPack", "wavpack"},
        {"s24.caf", dat + " -c:a pcm_s24le", "s24le", 24, "CAF", "pcm_s24le", false},
        {"alac.caf", dat + " -c:a alac -sample_fmt s16p", "s16le", 16, "CAF", "alac", false}};
    for (const Source &s : sources) {
        SCOPED_TRACE(s.name);
        const std::string path = Ffmpeg(dir, s.name, s.make);
        const std::string expected = Raw(path, s.raw);
        const Row row = ListOne(dir, path);
        EXPECT_EQ(row.verdict, "accepted") << row.reason;
        EXPECT_EQ(row.container, s.container);
        EXPECT_EQ(row.codec, s.codec);
        EXPECT_EQ(row.bits, s.bits);
        EXPECT_EQ(row.exact, s.exact);
        EXPECT_EQ(row.channels, 2);
        if (s.exact) {
            EXPECT_EQ(row.frames, expected.size() / std::size_t(2 * s.bits / 8));
        }
        const CliResult join = JoinWav(dir, dir.File("out.wav"), {path});
        if (!Joined(join))
            continue;
        EXPECT_EQ(WavBits(dir.File("out.wav")), s.bits);
        const std::string data = WavData(dir.File("out.wav"));
        EXPECT_TRUE(data == expected) << Difference(data, expected);
    }
}

// A float sample x becomes the 32-bit integer nearest x * 2^31 (halves to even), clipped to
// the integers' range.
std::int32_t Rounded(double x) {
    if (std::isnan(x))
        return 0;
    const double v = std::nearbyint(x * 2147483648.0);
    return v >= double(INT_MAX) ? INT_MAX : v <= double(INT_MIN) ? INT_MIN : std::int32_t(v);
}

// The samples of values as floats of bits (32 or 64), and the 32-bit integers they become.
std::pair<std::string, std::string> FloatSamples(const std::vector<double> &values, int bits) {
    std::string samples, expected;
    for (const double v : values) {
        const float f = float(v);
        if (bits == 32)
            samples.append(reinterpret_cast<const char *>(&f), 4);
        else
            samples.append(reinterpret_cast<const char *>(&v), 8);
        const std::int32_t r = bits == 32 ? Rounded(f) : Rounded(v);
        expected.append(reinterpret_cast<const char *>(&r), 4);
    }
    return {samples, expected};
}

// Float samples beyond full scale, halfway between integers, tiny, infinite and not numbers:
// rounded and clipped, whichever header the file has (plain as Audacity writes it, extensible,
// 64-bit).
TEST(CliFormats, FloatSamplesAreRoundedAndClippedTo32Bits) {
    TempDir dir;
    const double step = 1.0 / 2147483648.0; // one step of a 32-bit sample
    std::vector<double> values{0.0,        1.0,         -1.0, 1.5,   -3.0,        0.5 * step,
                               1.5 * step, -2.5 * step, 1e30, -1e30, 0.999999999, -0.999999999};
    std::mt19937 random(11);
    std::uniform_real_distribution<double> wide(-1.6, 1.6), tiny(-1e-6, 1e-6);
    for (int i = 0; i < 3000; ++i)
        values.push_back(i % 3 ? wide(random) : tiny(random));
    // Not numbers become silence, infinities full scale.
    for (const double odd : {std::nan(""), -std::nan(""), HUGE_VAL, -HUGE_VAL})
        values.push_back(odd);
    for (const int bits : {32, 64}) {
        const auto [samples, expected] = FloatSamples(values, bits);
        std::string fact, peak(4, '\1');
        PutLE32(fact, std::uint32_t(values.size() / 2));
        peak += std::string(20, '\0');
        std::string plain = wavbytes::FormatBody(3, 2, 44100, std::uint16_t(bits));
        PutLE16(plain, 0);
        // A file of the twelve values above alone: a few samples may take another way through
        // the conversion than thousands do.
        const std::size_t few = 12 * std::size_t(bits) / 8;
        const struct {
            const char *name;
            std::string bytes;
            std::size_t frames;
        } files[] = {
            {"plain.wav",
             wavbytes::Riff(wavbytes::Chunk("fmt ", plain) + wavbytes::Chunk("fact", fact) +
                            wavbytes::Chunk("PEAK", peak) + wavbytes::Chunk("data", samples)),
             values.size() / 2},
            {"extensible.wav",
             wavbytes::Riff(wavbytes::Chunk("fmt ", wavbytes::ExtensibleBody(
                                                        2, 44100, std::uint16_t(bits), 3)) +
                            wavbytes::Chunk("data", samples)),
             values.size() / 2},
            {"few.wav",
             wavbytes::Riff(wavbytes::Chunk("fmt ", plain) +
                            wavbytes::Chunk("data", samples.substr(0, few))),
             6}};
        for (const auto &[name, bytes, frames] : files) {
            SCOPED_TRACE(std::string(name) + ", " + std::to_string(bits) + " bits");
            WriteFile(dir.File(name), bytes);
            const Row row = ListOne(dir, dir.File(name));
            EXPECT_EQ(row.verdict, "accepted") << row.reason;
            EXPECT_EQ(row.codec, bits == 32 ? "pcm_f32le" : "pcm_f64le");
            EXPECT_EQ(row.bits, 32);
            EXPECT_EQ(row.frames, frames);
            const CliResult join = JoinWav(dir, dir.File("out.wav"), {dir.File(name)});
            if (!Joined(join))
                continue;
            const std::string data = WavData(dir.File("out.wav"));
            EXPECT_TRUE(data == expected.substr(0, frames * 8))
                << Difference(data, expected.substr(0, frames * 8));
        }
    }
}

// 24-bit FLAC then 16-bit WAV: a 24-bit join, the FLAC's samples as they are and the WAV's
// moved up by 8 bits.
TEST(CliFormats, DeeperSourceRaisesTheJoinAndKeepsEverySample) {
    TempDir dir;
    const std::string flac =
        Ffmpeg(dir, "deep.flac", Noise(48000, 0.3) + " -sample_fmt s32 -bits_per_raw_sample 24");
    const std::string wav = Ffmpeg(dir, "cd.wav", Tone(48000, 0.2) + " -c:a pcm_s16le");
    std::string expected = Raw(flac, "s24le");
    const std::string shallow = WavData(wav);
    for (std::size_t i = 0; i + 1 < shallow.size(); i += 2)
        expected += std::string(1, '\0') + shallow.substr(i, 2);
    const CliResult join = JoinWav(dir, dir.File("out.wav"), {flac, wav});
    ASSERT_EQ(join.exitCode, 0) << join.err;
    EXPECT_EQ(WavBits(dir.File("out.wav")), 24);
    const std::string data = WavData(dir.File("out.wav"));
    EXPECT_TRUE(data == expected) << Difference(data, expected);
}

// Every kind of input at one rate, joined into each output format: the WAV join is as long as
// the lengths the listing states added up, and every output decodes.
TEST(CliFormats, MixedListJoinsIntoEveryOutput) {
    TempDir dir;
    std::vector<std::string> inputs{Ffmpeg(dir, "a.flac", Tone(48000, 0.61) + " -sample_fmt s16"),
                                    Ffmpeg(dir, "b.ogg", Tone(48000, 1.3) + " -c:a libvorbis"),
                                    Ffmpeg(dir, "c.opus", Tone(48000, 0.73) + " -c:a libopus"),
                                    Ffmpeg(dir, "d.m4a", Tone(48000, 0.44) + " -c:a aac"),
                                    Ffmpeg(dir, "e.mp3", Tone(48000, 0.58) + " -c:a libmp3lame"),
                                    Ffmpeg(dir, "f.wav", Tone(48000, 0.35) + " -c:a pcm_s16le")};
    std::uint64_t frames = 0;
    for (const Row &row : List(dir, inputs)) {
        EXPECT_EQ(row.verdict, "accepted") << row.reason;
        EXPECT_TRUE(row.exact) << row.codec;
        EXPECT_EQ(row.rate, 48000);
        frames += row.frames;
    }
    CliResult join = JoinWav(dir, dir.File("exact.wav"), inputs);
    ASSERT_EQ(join.exitCode, 0) << join.err;
    EXPECT_EQ(WavData(dir.File("exact.wav")).size(), frames * 4);

    inputs.push_back(Ffmpeg(dir, "g.wma", Tone(48000, 0.5) + " -c:a wmav2"));
    const double seconds = double(frames) / 48000 + 0.5;
    for (const char *name : {"all.wav", "all.mp3", "all.wma"}) {
        SCOPED_TRACE(name);
        join = JoinWav(dir, dir.File(name), inputs);
        if (!Joined(join))
            continue;
        const std::string q = Quote(dir.File(name));
        EXPECT_EQ(testutil::Run("ffmpeg -v error -i " + q + " -f null - 2>&1").output, "");
        EXPECT_NEAR(ProbeDuration(dir.File(name)), seconds, 0.15);
    }
}

// Lossy sources in containers that state their length decode to exactly that many frames, the
// samples ffmpeg decodes as far as it goes: for AAC it keeps the end padding, and a Vorbis file
// of one audio page it ends 128 frames early, where libvorbis gives all the stated frames.
TEST(CliFormats, LossySourcesHoldExactlyTheirStatedLength) {
    TempDir dir;
    const struct {
        const char *name, *encoder, *codec;
    } sources[] = {
        {"v.ogg", "libvorbis", "vorbis"}, {"o.opus", "libopus", "opus"}, {"a.m4a", "aac", "aac"}};
    for (const auto &[name, encoder, codec] : sources) {
        for (const double seconds : {1.237, 0.52}) {
            SCOPED_TRACE(std::string(name) + ", " + std::to_string(seconds) + " s");
            const std::string path = Ffmpeg(dir, name, Noise(48000, seconds) + " -c:a " + encoder);
            const Row row = ListOne(dir, path);
            EXPECT_EQ(row.codec, codec);
            EXPECT_EQ(row.bits, 16);
            EXPECT_TRUE(row.exact);
            const std::uint64_t stated = std::uint64_t(std::lround(seconds * 48000));
            EXPECT_EQ(row.frames, stated);
            const CliResult join = JoinWav(dir, dir.File("out.wav"), {path});
            if (!Joined(join))
                continue;
            const std::string data = WavData(dir.File("out.wav"));
            const std::string decoded = Raw(path, "s16le");
            EXPECT_EQ(data.size(), stated * 4);
            const std::size_t common = std::min(data.size(), decoded.size());
            EXPECT_GT(common, stated * 4 - 1024);
            EXPECT_TRUE(data.compare(0, common, decoded, 0, common) == 0)
                << Difference(data, decoded);
        }
    }
}

// The listing goes by what a file holds: its container and codec whatever it is called, the
// audio of a film, the first of two audio streams; bare streams are estimates. Each joins to
// the samples ffmpeg decodes, as many as the listing states when it is exact.
TEST(CliFormats, ListingNamesWhatTheFileHolds) {
    TempDir dir;
    const std::string tone = Tone(22050, 0.5, 1);
    Ffmpeg(dir, "flac.mp3", tone + " -c:a flac -f flac");
    Ffmpeg(dir, "film.mp4",
           "-f lavfi -i testsrc=size=64x48:rate=5:d=0.5 " + tone + " -c:v mpeg4 -c:a aac");
    Ffmpeg(dir, "two.mkv",
           "-f lavfi -i sine=r=22050:d=0.5 -f lavfi -i sine=r=48000:d=0.3 -map 0 -map 1 "
           "-ac:a:1 2 -c:a:0 flac -c:a:1 libvorbis");
    const struct {
        const char *name;
        std::string make; // empty: made above
        const char *container, *codec;
        int exact; // -1: either
    } files[] = {{"alaw.wav", tone + " -c:a pcm_alaw", "WAV", "pcm_alaw", 1},
                 {"mulaw.wav", tone + " -c:a pcm_mulaw", "WAV", "pcm_mulaw", 1},
                 {"ima.wav", tone + " -c:a adpcm_ima_wav", "WAV", "adpcm_ima_wav", -1},
                 {"flac.mp3", "", "FLAC", "flac", 1},
                 {"film.mp4", "", "MP4", "aac", 1},
                 {"two.mkv", "", "", "flac", -1},
                 {"bare.aac", tone + " -c:a aac -f adts", "", "aac", 0},
                 {"layer2.mp2", tone + " -c:a mp2", "MPEG", "mp2", 0}};
    for (const auto &f : files) {
        SCOPED_TRACE(f.name);
        const std::string path = f.make.empty() ? dir.File(f.name) : Ffmpeg(dir, f.name, f.make);
        const Row row = ListOne(dir, path);
        EXPECT_EQ(row.verdict, "accepted") << row.reason;
        if (*f.container) {
            EXPECT_EQ(row.container, f.container);
        }
        EXPECT_EQ(row.codec, f.codec);
        EXPECT_EQ(row.bits, 16);
        EXPECT_EQ(row.rate, 22050);
        EXPECT_EQ(row.channels, 1);
        if (f.exact >= 0) {
            EXPECT_EQ(row.exact, f.exact == 1);
        }
        const CliResult join = JoinWav(dir, dir.File("out.wav"), {path});
        if (!Joined(join))
            continue;
        const std::string data = WavData(dir.File("out.wav"));
        const std::string decoded = Raw(path, "s16le");
        if (row.exact) {
            EXPECT_EQ(data.size(), row.frames * 2);
        }
        EXPECT_GT(data.size(), 0u);
        EXPECT_TRUE(data == decoded.substr(0, data.size())) << Difference(data, decoded);
    }
}

} // namespace
