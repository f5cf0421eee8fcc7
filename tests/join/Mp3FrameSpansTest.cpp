// The frames a frame-keeping join copies are gathered into spans whose CRCs are taken over runs
// of the reader's buffer: whatever the buffer did meanwhile (refilled, moved on over junk), each
// span's CRC and each of the last frames' CRC before it are those of the file's bytes.
#include "join/Mp3FrameSpans.h"
#include "TestUtil.h"
#include "audio/Mp3Frames.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

using namespace tandrel;
using testutil::TempDir;

namespace {

std::uint16_t BitwiseCrc(const std::string &bytes, std::uint64_t from, std::uint64_t count) {
    return testutil::BitwiseCrc16(0, reinterpret_cast<const std::uint8_t *>(bytes.data()) + from,
                                  std::size_t(count));
}

struct Gathered {
    std::vector<Mp3FrameSpan> spans;
    std::vector<Mp3FramePlace> last;
    std::int64_t frames = 0;
};

Gathered Gather(const std::string &path, std::uint64_t size, std::size_t bufferBytes,
                std::size_t keep, std::uint64_t maxSpan) {
    Gathered g;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    Mp3Frames frames(fd, 0, size, bufferBytes);
    EXPECT_TRUE(frames.FindFirst(4096));
    Mp3FrameSpans spans(g.spans, frames, fd, keep, maxSpan);
    Mp3Frame f;
    while (frames.Next(f)) {
        EXPECT_TRUE(spans.Add(frames.Position() - std::uint64_t(f.bytes), std::uint64_t(f.bytes)));
        ++g.frames;
    }
    EXPECT_TRUE(spans.Finish());
    g.last = spans.Last();
    ::close(fd);
    return g;
}

void ExpectCrcsOfTheFile(const std::string &file, const std::vector<Mp3FrameSpan> &spans) {
    for (const Mp3FrameSpan &s : spans)
        EXPECT_EQ(s.crc, BitwiseCrc(file, s.offset, s.bytes)) << "span at " << s.offset;
}

} // namespace

TEST(Mp3FrameSpans, CrcsAreTheFilesWhateverTheBufferDid) {
    TempDir dir;
    const std::string made = dir.File("a.mp3");
    ASSERT_EQ(testutil::Run("sox -n -r 44100 -c 2 -b 16 " + dir.File("a.wav") +
                            " synth 8 pinknoise vol 0.3 && lame --quiet -V 2 " + dir.File("a.wav") +
                            " " + made)
                  .exitCode,
              0);
    std::string file = testutil::ReadFile(made);
    // Junk the reader skips: short, longer than some of its buffers, and at the end.
    std::mt19937 random(3);
    const auto junk = [&](std::size_t n) {
        std::string j(n, '\0');
        for (char &c : j)
            c = char(random() & 0x7F);
        return j;
    };
    file.insert(file.size() / 3, junk(300));
    for (int k = 1; k <= 5; ++k)
        file.insert(file.size() * std::size_t(k) / 6 + std::size_t(k) * 1000, junk(20000));
    file += junk(500);
    testutil::WriteFile(made, file);

    struct {
        std::size_t buffer, keep;
        std::uint64_t maxSpan;
    } cases[] = {{8192, 32, 1 << 22},
                 {16384, 1, 30000},
                 {16384, 32, 1 << 22},
                 {65536, 40, 12345},
                 {1 << 20, 32, 1 << 22}};
    std::int64_t frames = -1;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.buffer) + " " + std::to_string(c.maxSpan));
        Gathered g = Gather(made, file.size(), c.buffer, c.keep, c.maxSpan);
        ASSERT_GT(g.frames, 300);
        if (frames >= 0) {
            EXPECT_EQ(g.frames, frames);
        }
        frames = g.frames;
        std::int64_t inSpans = 0;
        for (const Mp3FrameSpan &s : g.spans) {
            EXPECT_LE(s.bytes, c.maxSpan);
            inSpans += s.frames;
        }
        EXPECT_EQ(inSpans, g.frames);
        EXPECT_GE(g.spans.size(), 3u); // split at the junk
        ExpectCrcsOfTheFile(file, g.spans);

        // The last frames, oldest first, each with the CRC of its span's bytes before it; taking
        // them off leaves spans whose CRCs are still the file's.
        ASSERT_EQ(g.last.size(), c.keep);
        for (std::size_t k = 0; k < g.last.size(); ++k) {
            const Mp3FramePlace &p = g.last[k];
            if (k > 0) {
                EXPECT_GT(p.offset, g.last[k - 1].offset);
            }
            std::uint64_t spanFrom = 0;
            for (const Mp3FrameSpan &s : g.spans)
                if (s.offset <= p.offset)
                    spanFrom = s.offset;
            EXPECT_EQ(p.crcBefore, BitwiseCrc(file, spanFrom, p.offset - spanFrom)) << k;
        }
        for (std::size_t drop : {std::size_t(1), c.keep}) {
            std::vector<Mp3FrameSpan> spans = g.spans;
            DropLastFrames(spans, std::int64_t(drop), g.last[g.last.size() - drop]);
            std::int64_t left = 0;
            for (const Mp3FrameSpan &s : spans)
                left += s.frames;
            EXPECT_EQ(left, g.frames - std::int64_t(drop));
            EXPECT_EQ(spans.back().offset + spans.back().bytes,
                      g.last[g.last.size() - drop].offset);
            ExpectCrcsOfTheFile(file, spans);
        }
    }
}
