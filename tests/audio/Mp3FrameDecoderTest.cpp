#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "audio/Decoder.h"
#include "audio/FileAccess.h"
#include "audio/Mp3FrameDecoder.h"
#include "audio/Mp3Frames.h"

#include <cmath>
#include <cstring>
#include <unistd.h>

using audiotest::Media;

namespace {

struct Case {
    std::string path;
    int channels;
};

// The file's audio frames.
std::vector<std::vector<std::uint8_t>> ReadFrames(const std::string &path) {
    std::uint64_t size = 0;
    const int fd = tandrel::OpenRegularFile(path, size);
    EXPECT_GE(fd, 0) << path;
    const tandrel::Mp3Header h = tandrel::ReadMp3Header(fd, size);
    tandrel::Mp3Frames frames(fd, h.audioStart + h.infoFrameBytes, h.audioEnd);
    EXPECT_TRUE(frames.FindFirst(1 << 20));
    std::vector<std::vector<std::uint8_t>> all;
    tandrel::Mp3Frame f;
    while (const std::uint8_t *data = frames.Next(f))
        all.emplace_back(data, data + f.bytes);
    ::close(fd);
    return all;
}

// The file's frames decoded one by one by the frame decoder, from frame `from` on; emphasis:
// the header's emphasis bits are set to this first.
std::vector<float> DecodeFrames(const std::string &path, int channels, int from,
                                int emphasis = -1) {
    tandrel::Mp3FrameDecoder decoder;
    std::vector<float> out;
    const auto frames = ReadFrames(path);
    for (std::size_t k = std::size_t(from); k < frames.size(); ++k) {
        std::vector<std::uint8_t> frame = frames[k];
        tandrel::Mp3Frame f;
        tandrel::ParseMp3Frame(
            std::uint32_t(frame[0]) << 24 | frame[1] << 16 | frame[2] << 8 | frame[3], f);
        if (k == std::size_t(from)) {
            EXPECT_TRUE(decoder.Open(channels, f.samples));
        }
        if (emphasis >= 0)
            frame[3] = std::uint8_t((frame[3] & ~3) | emphasis);
        decoder.Decode(frame.data(), frame.size(), out);
    }
    return out;
}

// The file's own gapless decoding, as floats, and the decoded samples it skips at the start.
std::vector<float> DecodeWhole(const std::string &path, std::int64_t &skip) {
    auto d = tandrel::Decoder::Open(path, tandrel::InputReader::Mp3);
    EXPECT_TRUE(d) << path;
    std::vector<float> out;
    if (!d)
        return out;
    skip = d->Mp3DelaySamples();
    std::vector<std::uint8_t> buf(1 << 16);
    while (d->HasData()) {
        const std::size_t n = d->Read(buf.data(), buf.size());
        for (std::size_t i = 0; i + 1 < n; i += 2) {
            std::int16_t v;
            std::memcpy(&v, &buf[i], 2);
            out.push_back(v / 32768.0f);
        }
    }
    return out;
}

// Signal against difference, in dB, of b (from b's sample `offset`) against a.
double SnrDb(const std::vector<float> &a, const std::vector<float> &b, std::ptrdiff_t offset,
             std::ptrdiff_t from) {
    double signal = 0, error = 0;
    for (std::ptrdiff_t i = std::max(from, -offset);
         i < std::ptrdiff_t(a.size()) && i + offset < std::ptrdiff_t(b.size()); ++i) {
        signal += double(a[std::size_t(i)]) * a[std::size_t(i)];
        const double e = double(a[std::size_t(i)]) - b[std::size_t(i + offset)];
        error += e * e;
    }
    return 10 * std::log10(signal / std::max(error, 1e-20));
}

} // namespace

// Each frame decodes where the file's own decoding puts it, from the first frame on and from
// a frame in the middle once the bit reservoir has filled, at every MPEG version and mode.
TEST(Mp3FrameDecoder, FramesDecodeAtTheirPlacesInTheFilesOwnDecoding) {
    audiotest::EnsureDecodingReady();
    const std::vector<Case> cases = {
        {Media("fd-cbr-crc.mp3", "lame --quiet -b 128 -p {in} {out}", 88200), 2},
        {Media("fd-vbr.mp3", "lame --quiet -V 2 {in} {out}", 88200), 2},
        {Media("fd-mpeg2-mono.mp3", "lame --quiet -b 32 {in} {out}", 44100, 22050, 1), 1},
        {Media("fd-mpeg25.mp3", "lame --quiet -b 8 {in} {out}", 16000, 8000, 1), 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        std::int64_t skip = 0;
        const std::vector<float> whole = DecodeWhole(c.path, skip);
        ASSERT_GT(whole.size(), 1000u);
        const std::ptrdiff_t ch = c.channels;
        const std::vector<float> frames = DecodeFrames(c.path, c.channels, 0);
        EXPECT_GT(SnrDb(whole, frames, skip * ch, 0), 60);
        // From frame 20 on: its first samples lack the reservoir and the filters' past.
        const int from = 20;
        const std::vector<float> later = DecodeFrames(c.path, c.channels, from);
        const std::ptrdiff_t frameSamples =
            std::ptrdiff_t(frames.size() - later.size()) / ch / from;
        const std::ptrdiff_t settled = (from + 6) * frameSamples - skip;
        EXPECT_GT(SnrDb(whole, later, (skip - from * frameSamples) * ch, settled * ch), 60);
        // Sixteen samples off is far from it.
        EXPECT_LT(SnrDb(whole, frames, (skip + 16) * ch, 0), 20);
    }
}

// Emphasis is only a note to the player: frames that state any, even the reserved value that
// players pass over, decode as the same frames without it.
TEST(Mp3FrameDecoder, EmphasisBitsChangeNothing) {
    const std::string file = Media("fd-vbr.mp3", "lame --quiet -V 2 {in} {out}", 88200);
    const std::vector<float> plain = DecodeFrames(file, 2, 0);
    ASSERT_GT(plain.size(), 10000u);
    for (int emphasis : {1, 2, 3}) {
        SCOPED_TRACE(emphasis);
        EXPECT_TRUE(DecodeFrames(file, 2, 0, emphasis) == plain);
    }
}

// A frame of another rate (a stream cut into this one) decodes as silence, and the frames after
// it as in the file's own decoding once their bit reservoir has filled again.
TEST(Mp3FrameDecoder, AForeignFrameSilencesOnlyItself) {
    const std::string file = Media("fd-vbr.mp3", "lame --quiet -V 2 {in} {out}", 88200);
    const std::string other = Media("fd-48k.mp3", "lame --quiet -b 128 {in} {out}", 96000, 48000);
    const std::vector<float> plain = DecodeFrames(file, 2, 0);
    const auto frames = ReadFrames(file), foreign = ReadFrames(other);
    ASSERT_GT(frames.size(), 60u);
    ASSERT_GT(foreign.size(), 20u);
    tandrel::Mp3FrameDecoder decoder;
    ASSERT_TRUE(decoder.Open(2, 1152));
    std::vector<float> out;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const std::vector<std::uint8_t> &f = k == 30 ? foreign[10] : frames[k];
        decoder.Decode(f.data(), f.size(), out);
    }
    ASSERT_EQ(out.size(), plain.size());
    const std::ptrdiff_t settled = 36 * 1152 * 2;
    EXPECT_GT(SnrDb(plain, out, 0, settled), 60);
}
