// The tags after an MP3 file's frames are not its audio, however they follow each other, even
// when MP3 frames are stored inside them.
#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "audio/FileAccess.h"
#include "audio/Mp3Frames.h"
#include "audio/Mp3Header.h"

#include <unistd.h>

namespace {

std::string Ape(const std::string &value, bool header) {
    std::string item;
    testutil::PutLE32(item, std::uint32_t(value.size()));
    testutil::PutLE32(item, 0);
    item += std::string("Cover\0", 6) + value;
    const auto part = [&](std::uint32_t flags) {
        std::string p = "APETAGEX";
        for (std::uint32_t v : {2000u, std::uint32_t(item.size() + 32), 1u, flags, 0u, 0u})
            testutil::PutLE32(p, v);
        return p;
    };
    return (header ? part(0xA0000000u) : "") + item + part(header ? 0x80000000u : 0);
}

std::string Lyrics3(const std::string &text) {
    const std::string body = "LYRICSBEGININD00002" + std::string("10") + "LYR" +
                             std::string(5 - std::to_string(text.size()).size(), '0') +
                             std::to_string(text.size()) + text;
    const std::string size = std::to_string(body.size());
    return body + std::string(6 - size.size(), '0') + size + "LYRICS200";
}

// An ID3v2.4 tag with a footer, its one frame holding value.
std::string Id3WithFooter(const std::string &value) {
    std::string frame = "PRIV";
    const std::uint32_t n = std::uint32_t(value.size() + 2);
    frame += {char(n >> 21 & 0x7F), char(n >> 14 & 0x7F), char(n >> 7 & 0x7F), char(n & 0x7F)};
    frame += std::string("\0\0x\0", 4) + value;
    const std::uint32_t s = std::uint32_t(frame.size());
    const std::string size = {char(s >> 21 & 0x7F), char(s >> 14 & 0x7F), char(s >> 7 & 0x7F),
                              char(s & 0x7F)};
    return std::string("ID3\x04\0\x10", 6) + size + frame + std::string("3DI\x04\0\x10", 6) + size;
}

std::string Id3v1() {
    return "TAG" + std::string("Title").append(120, '\0');
}

struct Read {
    std::uint64_t audioEnd = 0;
    std::int64_t frames = 0;
};

Read ReadAudio(const std::string &path) {
    std::uint64_t size = 0;
    const int fd = tandrel::OpenRegularFile(path, size);
    EXPECT_GE(fd, 0);
    const tandrel::Mp3Header h = tandrel::ReadMp3Header(fd, size);
    Read r{h.audioEnd, 0};
    tandrel::Mp3Frames frames(fd, h.audioStart + h.infoFrameBytes, h.audioEnd);
    EXPECT_TRUE(frames.FindFirst(1 << 16));
    tandrel::Mp3Frame f;
    while (frames.Next(f))
        ++r.frames;
    ::close(fd);
    return r;
}

} // namespace

TEST(Mp3Header, TagsAfterTheFramesAreNotAudio) {
    const std::string mp3 = testutil::ReadFile(
        audiotest::Media("tags.mp3", "lame --quiet -b 128 {in} {out}", 44100 * 2));
    const testutil::TempDir dir;
    const std::string plain = dir.File("plain.mp3");
    testutil::WriteFile(plain, mp3);
    const Read clean = ReadAudio(plain);
    ASSERT_EQ(clean.audioEnd, mp3.size());
    ASSERT_GT(clean.frames, 60);
    // Frames of the file itself, stored in the tags: as frames they would follow the audio's.
    const std::string planted = mp3.substr(mp3.size() - 3000);
    struct {
        const char *name;
        std::string after;
        bool tagsOnly; // all that follows the frames is tags
    } cases[] = {
        {"APE with a header", Ape(planted, true), true},
        {"APE without a header, ID3v1", Ape(planted, false) + Id3v1(), true},
        {"Lyrics3, ID3v1", Lyrics3(planted) + Id3v1(), true},
        {"ID3v2 with a footer", Id3WithFooter(planted), true},
        {"all of them", Id3WithFooter(planted) + Ape(planted, true) + Lyrics3("la") + Id3v1(),
         true},
        {"an APE tag bigger than the file",
         [&] {
             std::string t = Ape("x", false);
             const std::size_t size = t.size() - 32 + 12; // in the footer
             t[size + 1] = t[size + 2] = '\x7F';
             return t;
         }(),
         false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File("tagged.mp3");
        testutil::WriteFile(path, mp3 + c.after);
        const Read r = ReadAudio(path);
        if (c.tagsOnly)
            EXPECT_EQ(r.audioEnd, mp3.size());
        else
            EXPECT_EQ(r.audioEnd, mp3.size() + c.after.size());
        EXPECT_EQ(r.frames, clean.frames);
    }
}
