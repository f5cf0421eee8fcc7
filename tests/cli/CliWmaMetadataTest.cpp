#include "CliTestSupport.h"
#include "tests/join/JoinTestSupport.h"

#include "audio/Decoding.h"
#include "join/EncoderSinks.h"

#include <gtest/gtest.h>

using namespace testutil;
using namespace clitest;
using namespace tandrel;

namespace {

// WMA output: the tags as attributes, the chapters as markers when known before the header.
class WmaMetadata : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitDecoding(); }
    static void TearDownTestSuite() { EndDecoding(); }

    // Inputs of 44137, 30011 and 22050 frames at 44100 Hz, and one of 11025 at 22050 Hz.
    void SetUp() override {
        const char *names[] = {"Ünïcode 1.wav", "two.wav", "drei.wav"};
        for (int i = 0; i < 3; ++i)
            exact_.push_back(WavFile(dir_, names[i], kFrames[i] * 4, char(0x11 * (i + 1))));
        low_ = WavFile(dir_, "low.wav", 11025 * 4, 0x22, 2, 22050);
    }

    static constexpr std::uint64_t kFrames[] = {44137, 30011, 22050};
    TempDir dir_, tmp_;
    std::vector<std::string> exact_;
    std::string low_;
};

TEST_F(WmaMetadata, CommandLineMarksChaptersKnownAhead) {
    std::vector<std::string> args = {"-q",           "--tags",   "--chapters", "--title",
                                     "Zoë – 東京 🎵", "--artist", "Björk",      "--album",
                                     "Ålbum",        "-o",       "tagged.wma"};
    args.insert(args.end(), exact_.begin(), exact_.end());
    CliResult r = RunCli(dir_.Path(), args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> plain = {"-q", "-o", "plain.wma"};
    plain.insert(plain.end(), exact_.begin(), exact_.end());
    ASSERT_EQ(RunCli(dir_.Path(), plain).exitCode, 0);

    auto tags = ProbeTags(dir_.File("tagged.wma"));
    EXPECT_EQ(tags["title"], "Zoë – 東京 🎵");
    EXPECT_EQ(tags["artist"], "Björk");
    EXPECT_EQ(tags["album"], "Ålbum");
    const auto chapters = ProbeChapters(dir_.File("tagged.wma"));
    ASSERT_EQ(chapters.size(), 3u);
    const char *titles[] = {"Ünïcode 1", "two", "drei"};
    std::uint64_t start = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(chapters[i].first, double(start) / 44100, 0.001) << i;
        EXPECT_EQ(chapters[i].second, titles[i]);
        start += kFrames[i];
    }
    // The header changes, the audio does not.
    EXPECT_EQ(Decode(dir_.File("tagged.wma"), 2), Decode(dir_.File("plain.wma"), 2));

    // An input of another rate is placed only as it is joined: tags, but no markers.
    r = RunCli(dir_.Path(),
               {"-q", "--chapters", "--title", "Mixed", "-o", "mixed.wma", low_, exact_[1]});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ProbeTags(dir_.File("mixed.wma"))["title"], "Mixed");
    EXPECT_TRUE(ProbeChapters(dir_.File("mixed.wma")).empty());
}

// The window's join places every input before its output stage: markers for any inputs.
TEST_F(WmaMetadata, WindowJoinAlwaysMarksChapters) {
    JoinRequest req = jointest::WavJoin(tmp_, {jointest::Listed(low_), jointest::Listed(exact_[1])},
                                        dir_.File("window.wma"));
    req.output.kind = OutputKind::Wma;
    req.makeEncoder = MakeEncoderSink;
    req.metadata.writeChapters = true;
    SetOutputTag(req.metadata, "title", "Window");
    jointest::Recorder progress;
    JoinSummary summary;
    ASSERT_EQ(RunJoin(req, progress, &summary), JoinStatus::Ok);
    ASSERT_EQ(summary.chapters.size(), 2u);
    EXPECT_EQ(ProbeTags(dir_.File("window.wma"))["title"], "Window");
    const auto chapters = ProbeChapters(dir_.File("window.wma"));
    ASSERT_EQ(chapters.size(), 2u);
    EXPECT_EQ(chapters[0].second, "low.wav");
    EXPECT_EQ(chapters[1].second, "two.wav");
    EXPECT_NEAR(chapters[1].first, double(summary.chapters[1].startFrame) / 44100, 0.001);
    EXPECT_NEAR(chapters[1].first, 0.5, 0.001);
}

} // namespace
