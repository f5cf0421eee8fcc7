// Joins that keep the MP3 inputs' frames: outside the seams the output holds the inputs' own
// frames and decodes as they do, the bridges sound as good as the inputs around them, and no
// input, however odd, gives a broken output.
#include "CliFormatsSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using clitest::Contains;
using fmttest::JsonField;
using testutil::Quote;
using testutil::TempDir;

using Pcm = std::vector<std::int16_t>; // interleaved

std::uint8_t Byte(const std::string &s, std::size_t at) {
    return std::uint8_t(s[at]);
}

// One MPEG-1/2/2.5 layer III frame, read here on its own terms, not the program's.
struct Frame {
    std::string bytes;
    int samples = 1152, sideInfo = 0;
    bool crc = false, mpeg1 = true;
    std::size_t AreaFrom() const { return 4 + (crc ? 2 : 0) + std::size_t(sideInfo); }
    int MainDataBegin() const {
        const std::size_t at = AreaFrom() - std::size_t(sideInfo);
        return mpeg1 ? Byte(bytes, at) << 1 | Byte(bytes, at + 1) >> 7 : Byte(bytes, at);
    }
    bool CrcValid() const {
        if (!crc)
            return true;
        unsigned sum = 0xFFFF;
        const auto feed = [&](std::uint8_t b) {
            for (int i = 7; i >= 0; --i) {
                const bool bit = ((sum >> 15) ^ (b >> i)) & 1;
                sum = (sum << 1 & 0xFFFF) ^ (bit ? 0x8005 : 0);
            }
        };
        feed(Byte(bytes, 2));
        feed(Byte(bytes, 3));
        for (int i = 0; i < sideInfo; ++i)
            feed(Byte(bytes, 6 + std::size_t(i)));
        return sum == unsigned(Byte(bytes, 4) << 8 | Byte(bytes, 5));
    }
};

bool ReadFrame(const std::string &file, std::size_t at, Frame &f) {
    if (at + 4 > file.size() || Byte(file, at) != 0xFF || (Byte(file, at + 1) & 0xE6) != 0xE2)
        return false;
    const int version = Byte(file, at + 1) >> 3 & 3, index = Byte(file, at + 2) >> 4,
              rateIndex = Byte(file, at + 2) >> 2 & 3;
    if (version == 1 || index == 0 || index == 15 || rateIndex == 3)
        return false;
    static const int kbps1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kbps2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int rates[] = {44100, 48000, 32000};
    f.mpeg1 = version == 3;
    const int rate = rates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const bool mono = Byte(file, at + 3) >> 6 == 3;
    f.samples = f.mpeg1 ? 1152 : 576;
    f.crc = !(Byte(file, at + 1) & 1);
    f.sideInfo = f.mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const std::size_t length =
        std::size_t((f.mpeg1 ? 144000 * kbps1[index] : 72000 * kbps2[index]) / rate +
                    (Byte(file, at + 2) >> 1 & 1));
    if (at + length > file.size())
        return false;
    f.bytes = file.substr(at, length);
    return true;
}

// Where an ID3v2 tag at the start of file ends.
std::size_t AfterId3(const std::string &file) {
    if (file.size() < 10 || file.compare(0, 3, "ID3") != 0)
        return 0;
    std::size_t size = 0;
    for (std::size_t i = 6; i < 10; ++i)
        size = size << 7 | (Byte(file, i) & 0x7F);
    return 10 + size + (Byte(file, 5) & 0x10 ? 10 : 0);
}

// A file's audio frames in a row: after an ID3v2 tag, without the Xing/Info frame.
std::vector<Frame> AudioFrames(const std::string &file) {
    std::vector<Frame> frames;
    Frame f;
    for (std::size_t at = AfterId3(file); ReadFrame(file, at, f); at += f.bytes.size())
        frames.push_back(f);
    if (!frames.empty()) {
        const std::string head = frames[0].bytes.substr(0, frames[0].AreaFrom() + 4);
        if (Contains(head, "Xing") || Contains(head, "Info"))
            frames.erase(frames.begin());
    }
    return frames;
}

// The encoder delay in the LAME part of a file's Info frame.
int EncoderDelay(const std::string &file) {
    const std::size_t at = std::min(file.find("Xing"), file.find("Info"));
    return at + 143 > file.size() ? 0 : Byte(file, at + 141) << 4 | Byte(file, at + 142) >> 4;
}

Pcm Decode(const std::string &path) {
    const std::string raw = fmttest::Raw(path, "s16le");
    Pcm pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    return pcm;
}

// Music of a sort: a chord with tremolo under plucked notes with their harmonics, each channel
// its own; an impulse at every sample in clicks.
Pcm Music(int rate, int channels, double seconds, const std::vector<std::int64_t> &clicks) {
    const std::int64_t count = std::int64_t(seconds * rate);
    Pcm pcm(std::size_t(count * channels));
    const double notes[] = {196, 247, 294, 330, 392, 440, 523, 587, 659, 784};
    for (std::int64_t i = 0; i < count; ++i)
        for (int ch = 0; ch < channels; ++ch) {
            const double t = double(i) / rate, w = 2 * M_PI;
            double v = (0.6 + 0.4 * std::sin(w * (4.7 + ch) * t)) * 0.08 *
                       (std::sin(w * 110 * t) + std::sin(w * 165 * t + ch) + std::sin(w * 220 * t));
            const double step = 0.23 + 0.04 * ch;
            const int at = int(t / step);
            const double since = t - at * step, f = notes[(at * 7 + ch * 3) % 10];
            for (int h = 1; h <= 5; ++h)
                v += 0.3 / h * std::exp(-(5.0 + 3 * h) * since) * std::sin(w * f * h * since);
            pcm[std::size_t(i * channels + ch)] = std::int16_t(std::lround(v * 16000));
        }
    for (std::int64_t c : clicks)
        for (int ch = 0; ch < channels; ++ch)
            pcm[std::size_t(c * channels + ch)] = ch ? -28000 : 28000;
    return pcm;
}

void WriteWav(const std::string &path, const Pcm &pcm, std::size_t from, std::size_t to, int rate,
              int channels) {
    testutil::WavLayout wav;
    wav.channels = std::uint16_t(channels);
    wav.sampleRate = std::uint32_t(rate);
    wav.data.assign(reinterpret_cast<const char *>(pcm.data() + from * std::size_t(channels)),
                    (to - from) * std::size_t(channels) * 2);
    testutil::WriteFile(path, testutil::BuildWav(wav));
}

// Cuts source (at sample points cuts) into parts and encodes part i with lame and options[i].
std::vector<std::string> Encode(const TempDir &dir, const Pcm &source, int rate, int channels,
                                const std::vector<std::size_t> &cuts,
                                const std::vector<std::string> &options) {
    std::vector<std::string> parts;
    std::ostringstream khz;
    khz << rate / 1000.0;
    for (std::size_t i = 0; i < options.size(); ++i) {
        const std::string wav = dir.File("part.wav"),
                          mp3 = dir.File("part" + std::to_string(i) + ".mp3");
        WriteWav(wav, source, i ? cuts[i - 1] : 0,
                 i < cuts.size() ? cuts[i] : source.size() / std::size_t(channels), rate, channels);
        const auto r = testutil::Run("lame --quiet --resample " + khz.str() + " " + options[i] +
                                     " " + Quote(wav) + " " + Quote(mp3));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        parts.push_back(mp3);
    }
    return parts;
}

struct Seam {
    std::int64_t firstFrame = 0, frames = 0, shift = 0;
    int kbps = 0;
    std::string fade;
};

// The objects of the JSON document's array key, as text.
std::vector<std::string> JsonArray(const std::string &json, const std::string &key) {
    std::vector<std::string> objects;
    const std::size_t from = json.find("\"" + key + "\"");
    for (std::size_t at = json.find('{', from);
         from != std::string::npos && at < json.find(']', from); at = json.find('{', at + 1))
        objects.push_back(json.substr(at, json.find('}', at) + 1 - at));
    return objects;
}

struct Joined {
    clitest::CliResult run;
    std::int64_t samples = -1, mp3Frames = -1, copied = -1;
    std::vector<Seam> seams;
};

Joined Join(const TempDir &dir, const std::string &out, const std::vector<std::string> &inputs,
            std::vector<std::string> args = {"--mp3-copy", "--json", "--force"}) {
    args.insert(args.end(), {"-o", out});
    args.insert(args.end(), inputs.begin(), inputs.end());
    Joined j;
    j.run = fmttest::RunTimed(dir.Path(), args, 120);
    const std::string output =
        j.run.out.substr(std::min(j.run.out.size(), j.run.out.find("\"output\"")));
    const auto number = [&](const std::string &o, const char *key) {
        const std::string v = JsonField(o, key);
        return v.empty() ? -1 : std::strtoll(v.c_str(), nullptr, 10);
    };
    j.samples = number(output, "duration_frames");
    j.mp3Frames = number(output, "mp3_frames");
    j.copied = number(output, "copied_frames");
    for (const std::string &o : JsonArray(output, "seams"))
        j.seams.push_back({number(o, "first_frame"), number(o, "frames"),
                           number(o, "shift_samples"), int(number(o, "kbps")),
                           JsonField(o, "crossfade")});
    return j;
}

// What ffmpeg, mpg123 and mp3val say against a file; empty when all is well.
std::string Complaints(const std::string &path) {
    const std::string q = Quote(path);
    return testutil::Run("ffmpeg -v error -i " + q + " -f null - 2>&1; mpg123 -t -q " + q +
                         " 2>&1 || echo mpg123 failed; ! command -v mp3val >/dev/null || mp3val " +
                         q + " | grep -E '^(WARNING|ERROR)' | grep -v 'No supported tags'")
        .output;
}

// Checks that outside the bridges the output's frames are the inputs' own: a bridge's frame
// before may carry a raised bitrate and other main data at its end in the room the input gave
// the frames after it; the frames after a bridge are the next input's from some frame on.
void CheckFramesCopied(const std::vector<Frame> &out, const std::vector<std::vector<Frame>> &in,
                       const std::vector<Seam> &seams) {
    std::int64_t from = 0, base = 0; // the input's first frame is the output's frame base
    for (std::size_t i = 0; i < in.size(); ++i) {
        SCOPED_TRACE("input " + std::to_string(i));
        const std::int64_t to = i < seams.size() ? seams[i].firstFrame : std::int64_t(out.size());
        ASSERT_TRUE(from < to && to - base <= std::int64_t(in[i].size()) && from >= base);
        std::string outArea, inArea;
        for (std::int64_t k = from; k < to; ++k) {
            const Frame &o = out[std::size_t(k)], &n = in[i][std::size_t(k - base)];
            const std::size_t head = o.AreaFrom(), crc = o.crc ? 6 : 4;
            const bool last = k == to - 1 && i < seams.size();
            ASSERT_EQ(o.bytes.substr(0, 2) + char(Byte(o.bytes, 2) & (last ? 0x0F : 0xFF)) +
                          o.bytes.substr(3, 1) + o.bytes.substr(crc, head - crc),
                      n.bytes.substr(0, 2) + char(Byte(n.bytes, 2) & (last ? 0x0F : 0xFF)) +
                          n.bytes.substr(3, 1) + n.bytes.substr(crc, head - crc))
                << "frame " << k << "'s header or side information";
            outArea += o.bytes.substr(head);
            inArea += n.bytes.substr(head);
        }
        if (i == seams.size()) {
            EXPECT_TRUE(outArea == inArea) << "the last input's frames";
            EXPECT_EQ(to - base, std::int64_t(in[i].size())) << "the last input's frames all kept";
            return;
        }
        const std::size_t room = std::size_t(in[i][std::size_t(to - base)].MainDataBegin());
        ASSERT_GE(outArea.size(), inArea.size());
        EXPECT_TRUE(outArea.compare(0, inArea.size() - room, inArea, 0, inArea.size() - room) == 0)
            << "the main data of the frames before output frame " << to;
        from = seams[i].firstFrame + seams[i].frames;
        ASSERT_LT(from, std::int64_t(out.size()));
        const auto next = std::find_if(in[i + 1].begin(), in[i + 1].end(), [&](const Frame &f) {
            return f.bytes == out[std::size_t(from)].bytes;
        });
        ASSERT_TRUE(next != in[i + 1].end())
            << "output frame " << from << " is none of input " << i + 1 << "'s";
        base = from - (next - in[i + 1].begin());
    }
}

// A configuration of the exactness and seam checks: a source of seconds cut at the fractions
// cuts, part i encoded with lame and lame[i].
struct Case {
    const char *name;
    int rate, channels;
    double seconds;
    std::vector<double> cuts;
    std::vector<std::string> lame;
    bool clickAtCuts = false;
};

double Energy(const std::vector<double> &e, std::int64_t from, std::int64_t to) {
    double sum = 0;
    for (std::int64_t i = std::max<std::int64_t>(0, from); i < to && i < std::int64_t(e.size());
         ++i)
        sum += e[std::size_t(i)] * e[std::size_t(i)];
    return sum;
}

void CheckCase(const Case &c) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::int64_t total = std::int64_t(c.seconds * c.rate);
    std::vector<std::size_t> cuts;
    std::vector<std::int64_t> clicks;
    for (double f : c.cuts) {
        cuts.push_back(std::size_t(double(total) * f) | 1); // an odd sample: off any grid
        if (c.clickAtCuts)
            clicks.push_back(std::int64_t(cuts.back()));
    }
    const Pcm source = Music(c.rate, c.channels, c.seconds, clicks);
    const std::vector<std::string> parts = Encode(dir, source, c.rate, c.channels, cuts, c.lame);
    const Joined j = Join(dir, dir.File("out.mp3"), parts);
    ASSERT_EQ(j.run.exitCode, 0) << j.run.err;
    ASSERT_EQ(j.seams.size(), cuts.size()) << j.run.out;
    EXPECT_EQ(Complaints(dir.File("out.mp3")), "");

    // The frames.
    const std::string file = testutil::ReadFile(dir.File("out.mp3"));
    const std::vector<Frame> out = AudioFrames(file);
    std::vector<std::vector<Frame>> in;
    for (const std::string &p : parts)
        in.push_back(AudioFrames(testutil::ReadFile(p)));
    EXPECT_EQ(std::int64_t(out.size()), j.mp3Frames);
    std::int64_t bridged = 0;
    for (const Seam &s : j.seams) {
        const int n = out.empty() ? 1152 : out[0].samples;
        EXPECT_TRUE(s.fade == (s.shift ? "end of first" : "none") ||
                    (s.shift && s.fade == "start of second"))
            << s.fade;
        EXPECT_LE(std::abs(s.shift), n / 2);
        EXPECT_EQ(s.kbps, n == 1152 ? 320 : 160);
        bridged += s.frames;
    }
    EXPECT_EQ(j.copied, std::int64_t(out.size()) - bridged);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](const Frame &f) { return f.CrcValid(); }));
    CheckFramesCopied(out, in, j.seams);
    if (::testing::Test::HasFatalFailure())
        return;

    // The decode, against the inputs' own and the source, at the output's alignment: input i's
    // audio starts at source[cut] + offset[i], each seam's move crossfaded over a frame.
    const int ch = c.channels, n = out[0].samples;
    const std::int64_t skip = EncoderDelay(testutil::ReadFile(parts[0])) + 529;
    const Pcm decoded = Decode(dir.File("out.mp3"));
    ASSERT_EQ(std::int64_t(decoded.size()), j.samples * ch);
    Pcm own; // the inputs' own decodes, one after the other
    std::vector<std::int64_t> starts{0}, offsets{0}, fadeFrom, fadeTo;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const Pcm p = Decode(parts[i]);
        own.insert(own.end(), p.begin(), p.end());
        ASSERT_EQ(std::int64_t(own.size()), std::int64_t(i < cuts.size() ? cuts[i] : total) * ch)
            << "input " << i << "'s decode";
        if (i == cuts.size())
            break;
        const std::int64_t s = std::int64_t(cuts[i]) + offsets[i], d = j.seams[i].shift;
        const bool end = j.seams[i].fade == "end of first";
        fadeFrom.push_back(!d ? s : end ? std::min(s, s + d) - n : std::max(s, s + d));
        fadeTo.push_back(fadeFrom.back() + (d ? n : 0));
        offsets.push_back(offsets[i] + d);
    }
    ASSERT_EQ(std::int64_t(decoded.size()), (total + offsets.back()) * ch);
    // What the output should be at sample t of channel k made of signal (the source or the
    // inputs' own decodes).
    const auto expected = [&](const Pcm &signal, std::int64_t t, int k) {
        const auto at = [&](std::size_t i) {
            const std::int64_t p = t - offsets[i];
            return p < 0 || p >= total ? 0.0 : double(signal[std::size_t(p * ch + k)]);
        };
        std::size_t i = 0;
        while (i < fadeTo.size() && t >= fadeTo[i])
            ++i;
        if (i == fadeTo.size() || t < fadeFrom[i])
            return at(i);
        const double w = 0.5 - 0.5 * std::cos(M_PI * (double(t - fadeFrom[i]) + 0.5) / n);
        return (1 - w) * at(i) + w * at(i + 1);
    };
    // The inputs' own coding error there, as heard at each of the two alignments in a fade
    // (mixed, two independent errors would partly cancel and flatter the inputs).
    const auto ownErrorAt = [&](std::int64_t t, int k) {
        const auto err = [&](std::size_t i) {
            const std::int64_t p = t - offsets[i];
            const std::size_t x = std::size_t(p * ch + k);
            return p < 0 || p >= total ? 0.0 : double(own[x]) - double(source[x]);
        };
        std::size_t i = 0;
        while (i < fadeTo.size() && t >= fadeTo[i])
            ++i;
        if (i == fadeTo.size() || t < fadeFrom[i])
            return std::abs(err(i));
        const double w = 0.5 - 0.5 * std::cos(M_PI * (double(t - fadeFrom[i]) + 0.5) / n);
        return std::sqrt((1 - w) * err(i) * err(i) + w * err(i + 1) * err(i + 1));
    };
    std::vector<double> error(decoded.size()), ownError(decoded.size()), wanted(decoded.size());
    std::int64_t differ = 0, firstDiffer = -1;
    std::vector<std::pair<std::int64_t, std::int64_t>> bridges; // in decoded samples
    for (const Seam &s : j.seams)
        bridges.push_back(
            {(s.firstFrame - 1) * n - skip, (s.firstFrame + s.frames + 2) * n - skip + 1152});
    for (std::int64_t t = 0; t < j.samples; ++t) {
        const bool inBridge = std::any_of(bridges.begin(), bridges.end(), [&](const auto &b) {
            return t >= b.first && t < b.second;
        });
        for (int k = 0; k < ch; ++k) {
            const std::size_t x = std::size_t(t * ch + k);
            const double want = expected(source, t, k), mine = expected(own, t, k);
            error[x] = decoded[x] - want;
            wanted[x] = want;
            ownError[x] = ownErrorAt(t, k);
            if (!inBridge && std::lround(mine) != decoded[x] && differ++ == 0)
                firstDiffer = t;
        }
    }
    EXPECT_EQ(differ, 0)
        << "samples outside the bridges unlike the inputs' own decode, the first at "
        << firstDiffer;
    // Every bridge frame no worse than 2.5 times the inputs' own coding error there; no frame
    // near a bridge with an error far above both the inputs' own there and around it.
    const double floor = 1.0 * n * ch;
    for (const Seam &s : j.seams)
        for (std::int64_t k = s.firstFrame - 1; k < s.firstFrame + s.frames + 2; ++k) {
            const std::int64_t from = (k * n - skip) * ch, to = from + n * ch;
            const double mine = Energy(error, from, to), theirs = Energy(ownError, from, to);
            if (k >= s.firstFrame && k < s.firstFrame + s.frames) {
                // Where even the bridge's error stays 40 dB under the frame's own signal, it is
                // masked whatever the inputs' own encodes did there (near-lossless frames at the
                // 160 kbps ceiling of MPEG-2 rates).
                const double masked = 1e-4 * Energy(wanted, from, to);
                EXPECT_LE(mine, std::max(2.5 * theirs + floor, masked)) << "bridge frame " << k;
            }
            std::vector<double> around;
            for (std::int64_t m = k - 10; m < k + 10; ++m)
                around.push_back(Energy(ownError, (m * n - skip) * ch, (m * n - skip + n) * ch));
            std::nth_element(around.begin(), around.begin() + 10, around.end());
            EXPECT_LE(mine, 4 * std::max(theirs, around[10]) + floor) << "a click in frame " << k;
        }
}

TEST(CliMp3Copy, CopiedFramesDecodeAsTheInputsAndSeamsAsWell) {
    const std::vector<Case> cases = {
        {"44100 Hz stereo, CBR and VBR",
         44100,
         2,
         20,
         {0.27, 0.51, 0.78},
         {"-b 128", "-b 320", "-V 2", "-b 64"}},
        {"22050 Hz stereo with CRC",
         22050,
         2,
         20,
         {0.34, 0.67},
         {"-b 64 -p", "-V 2 -p", "-b 56 -p"}},
        {"24000 Hz mono", 24000, 1, 20, {0.3, 0.65}, {"-V 7", "-b 64", "-V 2"}},
        {"44100 Hz mono with CRC", 44100, 1, 14, {0.45}, {"-b 96 -p", "-b 160 -p"}},
        {"48000 Hz, a click at each cut",
         48000,
         2,
         16,
         {0.37, 0.71},
         {"-b 192", "-b 128", "-V 4"},
         true},
    };
    for (const Case &c : cases)
        CheckCase(c);
}

// Parts of one piece of music cut at odd samples, encoded by lame with options (the first
// element is the part's file name, the rest lame's options); seconds each.
std::vector<std::string> Pieces(const TempDir &dir, int rate, int channels, double seconds,
                                const std::vector<std::string> &options) {
    const std::int64_t each = std::int64_t(seconds * rate) | 1;
    const Pcm source = Music(rate, channels, seconds * double(options.size()) + 0.1, {});
    std::vector<std::size_t> cuts;
    for (std::size_t i = 1; i <= options.size(); ++i)
        cuts.push_back(std::size_t(each) * i);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < options.size(); ++i) {
        WriteWav(dir.File("piece.wav"), source, cuts[i] - std::size_t(each), cuts[i], rate,
                 channels);
        const std::string name = options[i].substr(0, options[i].find(' '));
        std::ostringstream khz;
        khz << rate / 1000.0;
        const auto r = testutil::Run("lame --quiet --resample " + khz.str() + " " +
                                     options[i].substr(name.size()) + " " +
                                     Quote(dir.File("piece.wav")) + " " + Quote(dir.File(name)));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        names.push_back(name);
    }
    return names;
}

TEST(CliMp3Copy, ListTellsWhetherFramesCanBeKeptAndAJoinFallsBackWhenNot) {
    TempDir dir;
    Pieces(dir, 44100, 2, 5, {"a.mp3 -b 128", "b.mp3 -V 2"});
    Pieces(dir, 44100, 2, 0.5, {"short.mp3 -b 128"});
    Pieces(dir, 22050, 2, 5, {"slow.mp3 -b 64"});
    Pieces(dir, 44100, 1, 5, {"mono.mp3 -b 64"});
    fmttest::Ffmpeg(dir, "a.wav", "-i " + Quote(dir.File("a.mp3")));
    struct {
        std::vector<std::string> inputs;
        const char *named; // in the reason; "" when allowed
    } cases[] = {{{"a.mp3", "b.mp3", "a.mp3"}, ""},
                 {{"a.mp3", "slow.mp3"}, "22050"},
                 {{"a.mp3", "a.wav"}, "a.wav"},
                 {{"a.mp3", "mono.mp3"}, "mono.mp3"},
                 {{"a.mp3", "short.mp3"}, "short.mp3"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.inputs[1]);
        std::vector<std::string> list{"--list"};
        list.insert(list.end(), c.inputs.begin(), c.inputs.end());
        const std::string text = fmttest::RunTimed(dir.Path(), list).out;
        list.push_back("--json");
        const std::string json = fmttest::RunTimed(dir.Path(), list).out;
        const std::string copy = json.substr(std::min(json.size(), json.find("\"mp3_copy\"")));
        const std::string why = JsonField(copy, "why");
        if (!*c.named) {
            EXPECT_TRUE(Contains(text, "\nmp3-copy\tyes\n")) << text;
            EXPECT_EQ(JsonField(copy, "allowed"), "true") << json;
            continue;
        }
        EXPECT_EQ(JsonField(copy, "allowed"), "false") << json;
        EXPECT_TRUE(Contains(why, c.named)) << why;
        EXPECT_TRUE(Contains(text, "\nmp3-copy\tno\t" + why + "\n")) << text;
        const Joined j = Join(dir, "out.mp3", c.inputs);
        EXPECT_EQ(j.run.exitCode, 0) << j.run.err;
        EXPECT_TRUE(Contains(j.run.err, why)) << j.run.err;
        EXPECT_TRUE(Contains(j.run.out, "\"frames_kept\": false")) << j.run.out;
        EXPECT_EQ(std::int64_t(Decode(dir.File("out.mp3")).size()), j.samples * 2);
    }
    const auto wav = fmttest::RunTimed(dir.Path(), {"--mp3-copy", "-o", "x.wav", "a.mp3", "b.mp3"});
    EXPECT_EQ(wav.exitCode, 2) << wav.err;
    EXPECT_FALSE(testutil::Exists(dir.File("x.wav")));
}

// Keeping frames decodes nothing but the seams, which the MP3 library does: the join is made
// even where FFmpeg has no MP3 decoder. Bridges made on two threads while the inputs are
// scanned ahead, and the writing on a thread of its own, give the same output as one thread.
TEST(CliMp3Copy, TheSameOutputWithoutFfmpegAndWithOneThread) {
    TempDir dir;
    Pieces(dir, 44100, 2, 3, {"a.mp3 -b 128", "b.mp3 -V 2", "c.mp3 -b 96", "d.mp3 -V 6"});
    const std::string cli =
        Quote(clitest::Cli()) + " -q --mp3-copy a.mp3 b.mp3 c.mp3 d.mp3 b.mp3 a.mp3 c.mp3 -o ";
    const auto r = testutil::Run("cd " + Quote(dir.Path()) + " && " + cli + "two.mp3 && " +
                                 "TANDREL_FAIL_AUDIO_INIT=1 " + cli + "without.mp3 && " + cli +
                                 "one.mp3 --threads 1");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string two = testutil::ReadFile(dir.File("two.mp3"));
    EXPECT_GT(AudioFrames(two).size(), 700u);
    EXPECT_TRUE(two == testutil::ReadFile(dir.File("without.mp3")));
    EXPECT_TRUE(two == testutil::ReadFile(dir.File("one.mp3")));
}

// An input whose frames change rate part-way (two files joined by cat) cannot keep its
// frames: the join is re-encoded at one rate and says why.
TEST(CliMp3Copy, AnInputThatChangesRateIsReencoded) {
    TempDir dir;
    Pieces(dir, 44100, 2, 3, {"a.mp3 -b 128 -t", "b.mp3 -b 128"});
    Pieces(dir, 48000, 2, 3, {"c.mp3 -b 128 -t"});
    testutil::WriteFile(dir.File("ac.mp3"), testutil::ReadFile(dir.File("a.mp3")) +
                                                testutil::ReadFile(dir.File("c.mp3")));
    const Joined j = Join(dir, "out.mp3", {"b.mp3", "ac.mp3"});
    EXPECT_EQ(j.run.exitCode, 0) << j.run.err;
    EXPECT_TRUE(Contains(j.run.out, "\"frames_kept\": false")) << j.run.out;
    EXPECT_TRUE(Contains(j.run.err, "ac.mp3")) << j.run.err;
    std::set<int> rates; // version and rate bits of every frame's header
    for (const Frame &f : AudioFrames(testutil::ReadFile(dir.File("out.mp3"))))
        rates.insert((Byte(f.bytes, 1) & 0x18) | (Byte(f.bytes, 2) & 0x0C) << 8);
    EXPECT_EQ(rates.size(), 1u);
}

TEST(CliMp3Copy, APipeGetsTheFileOutputsBytes) {
    TempDir dir;
    Pieces(dir, 44100, 2, 4.5, {"a.mp3 -V 4", "b.mp3 -b 160", "c.mp3 -V 0"});
    const std::string args = " -q --mp3-copy a.mp3 b.mp3 c.mp3 --title Joined --chapters";
    const auto r = testutil::Run("cd " + Quote(dir.Path()) + " && " + Quote(clitest::Cli()) + args +
                                 " -o file.mp3 && " + Quote(clitest::Cli()) + args +
                                 " -o - --format mp3 | cat > piped.mp3");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string file = testutil::ReadFile(dir.File("file.mp3"));
    EXPECT_GT(AudioFrames(file).size(), 400u);
    EXPECT_TRUE(file == testutil::ReadFile(dir.File("piped.mp3")))
        << fmttest::Difference(file, testutil::ReadFile(dir.File("piped.mp3")));
}

// An ID3v2 tag with a title ahead of the audio, an APE tag and an ID3v1 tag after it.
std::string Tagged(const std::string &mp3) {
    const std::string title("TIT2\0\0\0\x06\0\0\0Title", 16);
    std::string tags("ID3\x03\0\0\0\0\0", 9);
    tags += char(title.size() + 20);
    tags += title + std::string(20, '\0') + mp3;
    std::string item;
    testutil::PutLE32(item, 5);
    testutil::PutLE32(item, 0);
    item += std::string("Title\0Piece", 11);
    std::string footer = "APETAGEX";
    for (std::uint32_t v : {2000u, std::uint32_t(item.size() + 32), 1u, 0u, 0u, 0u})
        testutil::PutLE32(footer, v);
    return tags + item + footer + "TAG" + std::string("Title").append(120, '\0');
}

TEST(CliMp3Copy, OddInputsGiveAGoodOutputOrNone) {
    TempDir dir;
    const std::vector<std::string> pieces =
        Pieces(dir, 44100, 2, 4.5, {"a.mp3 -b 128", "b.mp3 -V 2", "c.mp3 -b 192"});
    const std::string middle = testutil::ReadFile(dir.File("b.mp3"));
    const auto frameAt = [](const std::string &file, std::size_t k) {
        std::size_t at = AfterId3(file);
        Frame f;
        for (; k > 0 && ReadFrame(file, at, f); --k)
            at += f.bytes.size();
        return at;
    };
    const auto xing = [&](std::uint32_t frames) {
        std::string b = middle;
        const std::size_t at = std::min(b.find("Xing"), b.find("Info")) + 8;
        for (int i = 0; i < 4; ++i)
            b[at + std::size_t(i)] = char(frames >> (24 - 8 * i));
        return b;
    };
    std::mt19937 random(7);
    std::string junk(317, '\0');
    for (char &c : junk)
        c = char(random());
    junk.replace(100, 3, "\xFF\xFB\x90");
    const std::size_t frames = AudioFrames(middle).size();
    struct {
        const char *name;
        std::string bytes;
        std::size_t input = 1;
        bool joins = false; // a refusal would be a fault: the join must come out
    } cases[] = {
        {"a damaged frame", std::string(middle).replace(frameAt(middle, 90) + 40, 60, junk, 0, 60)},
        {"a damaged header",
         std::string(middle).replace(frameAt(middle, 70), 4, "\xFF\xF3\xF0\x00", 4)},
        {"junk between frames", std::string(middle).insert(frameAt(middle, 120), junk)},
        {"junk near the end", std::string(middle).insert(frameAt(middle, frames - 3), junk)},
        {"cut inside a frame", middle.substr(0, frameAt(middle, 150) + 77)},
        {"the last cut inside a frame",
         [&] {
             const std::string c = testutil::ReadFile(dir.File("c.mp3"));
             return c.substr(0, frameAt(c, 120) + 200);
         }(),
         2},
        {"too few frames in the Xing frame", xing(std::uint32_t(frames / 2)), 1, true},
        {"too many frames in the Xing frame", xing(std::uint32_t(frames * 3))},
        // Two files joined by cat: the first one's Xing frame counts its own frames only.
        {"a Xing frame that counts 40 frames less", xing(std::uint32_t(frames - 40)), 1, true},
        {"ID3v2, APE and ID3v1 tags", Tagged(middle)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> inputs = pieces;
        inputs[c.input] = dir.File("odd.mp3");
        testutil::WriteFile(inputs[c.input], c.bytes);
        const std::string out = dir.File(std::string(c.name) + ".mp3");
        const Joined j = Join(dir, out, inputs, {"--mp3-copy", "--json"});
        ASSERT_TRUE(j.run.exitCode == 0 || (j.run.exitCode == 1 && !c.joins))
            << j.run.exitCode << j.run.err;
        if (j.run.exitCode == 1) {
            EXPECT_NE(j.run.err, "");
            EXPECT_FALSE(testutil::Exists(out));
            continue;
        }
        EXPECT_EQ(testutil::Run("ffmpeg -v error -i " + Quote(out) + " -f null -").output, "");
        EXPECT_EQ(std::int64_t(Decode(out).size()), j.samples * 2);
    }
}

} // namespace
