#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "TestUtil.h"
#include "WavBytes.h"
#include "audio/Probe.h"
#include "audio/Waveinf.h"
#include "join/WavWriter.h"

#include <unistd.h>

using audiotest::RecordingSink;
using testutil::BuildWav;
using testutil::TempDir;
using testutil::WavLayout;
using testutil::WriteFile;
using namespace wavbytes;

namespace {

const std::string kInvalid = "This is not a valid Wave file.";
const std::string kWide = "Can not support 24bit or 32bit Wave file.";

struct Outcome {
    bool ok = false;
    TWaveInfo info{};
    std::vector<audiotest::Shown> shown;
};

Outcome ReadPath(const std::string &path) {
    RecordingSink sink;
    Outcome o;
    o.ok = ReadWaveInfo(path, o.info);
    o.shown = sink.shown;
    return o;
}

Outcome Read(const std::string &bytes) {
    TempDir dir;
    WriteFile(dir.File("x.wav"), bytes);
    return ReadPath(dir.File("x.wav"));
}

// Refused with exactly one message; "ERROR" is the caption of the header messages.
void ExpectRefused(const Outcome &o, const std::string &text = kInvalid,
                   const std::string &caption = "ERROR") {
    EXPECT_FALSE(o.ok) << text;
    ASSERT_EQ(o.shown.size(), 1u) << text;
    EXPECT_EQ(o.shown[0].caption, caption);
    EXPECT_EQ(o.shown[0].text, text);
    EXPECT_EQ(o.shown[0].icon, tandrel::MsgIcon::None);
}

tandrel::Track Probe(const TempDir &dir, const std::string &name, const std::string &bytes) {
    WriteFile(dir.File(name), bytes);
    tandrel::Track f;
    EXPECT_EQ(tandrel::ProbeFile(dir.File(name), f), tandrel::Refusal::None) << name;
    return f;
}

} // namespace

TEST(WavReading, AcceptedHeadersAndWhatTheyHold) {
    WavLayout canonical;
    canonical.data = std::string(1764000, '\0');
    Outcome o = Read(BuildWav(canonical));
    ASSERT_TRUE(o.ok);
    EXPECT_TRUE(o.shown.empty());
    EXPECT_EQ(o.info.Channels, 2);
    EXPECT_EQ(o.info.SampleRate, 44100);
    EXPECT_EQ(o.info.BitsPerSample, 16);
    EXPECT_EQ(o.info.DataSize, 1764000u);
    EXPECT_EQ(o.info.Seconds, 10u);
    canonical.data.pop_back();
    EXPECT_EQ(Read(BuildWav(canonical)).info.Seconds, 9u);

    WavLayout fmt18;
    fmt18.formatSize = 18;
    fmt18.data = "abcd";
    o = Read(BuildWav(fmt18));
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.info.DataSize, 4u);

    o = Read(PcmWav(1, 48000, 24, "", std::string(3 * 48000, '\0')));
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.info.BitsPerSample, 24);
    EXPECT_EQ(o.info.Seconds, 1u);

    for (std::uint32_t rate : {1000u, 768000u})
        EXPECT_TRUE(Read(PcmWav(2, rate, 16, "", std::string(4000, 'd'))).ok) << rate;

    // Thousands of empty chunks before the data are walked quickly.
    WavLayout many;
    many.data = std::string(64, '\0');
    many.extraChunks.assign(20000, {"junk", ""});
    o = Read(BuildWav(many));
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.info.DataSize, 64u);
}

// ffmpeg puts a LIST chunk before the data; sox's files are joined in the CLI tests.
TEST(WavReading, FileMadeByFfmpeg) {
    TempDir dir;
    const std::string ff = dir.File("ff.wav");
    ASSERT_EQ(testutil::Run("ffmpeg -v error -f lavfi -i sine=d=2.5:r=48000 -ac 2 " + ff).exitCode,
              0);
    Outcome o = ReadPath(ff);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.info.SampleRate, 48000);
    EXPECT_EQ(o.info.DataSize, 48000u * 4 * 5 / 2);
}

TEST(WavReading, OddChunksWithAndWithoutTheirPadByte) {
    // Both places hold something like an id: the one that reads "data" wins.
    Outcome unpadded =
        Read(PcmWav(1, 8000, 8, Chunk("note", "abc", false), std::string(0x41, 'd')));
    EXPECT_TRUE(unpadded.ok);
    EXPECT_EQ(unpadded.info.DataSize, 0x41u);
    std::string dirtyPad = PcmWav(1, 8000, 8, Chunk("note", "abc"), std::string(0x41, 'd'));
    dirtyPad[36 + 8 + 3] = 'x';
    Outcome padded = Read(dirtyPad);
    EXPECT_TRUE(padded.ok);
    EXPECT_EQ(padded.info.DataSize, 0x41u);
}

TEST(WavReading, RefusedHeadersShowOneMessageEach) {
    const std::string data(64, 'd');
    const std::string pcm = PcmWav(2, 44100, 16, "", data);
    WavLayout f;
    f.data = data;
    f.formatTag = 3;
    f.bits = 32;
    ExpectRefused(Read(BuildWav(f)));
    f.formatTag = 1;
    f.bits = 12;
    ExpectRefused(Read(BuildWav(f)), "Not PCM formats!", "Borvik Tandrel");
    ExpectRefused(Read(Riff(Chunk("fmt ", ExtensibleBody(2, 44100, 32, 3)) + Chunk("data", data))),
                  kWide);
    // Without its GUID an extensible header says nothing of what it holds.
    ExpectRefused(Read(Riff(Chunk("fmt ", ExtensibleBody(2, 44100, 16, 1).substr(0, 18)) +
                            Chunk("data", data))),
                  kWide);

    ExpectRefused(Read(std::string(pcm).replace(12, 4, "junk")));
    ExpectRefused(Read(std::string(pcm).replace(0, 4, "RIFX")));
    ExpectRefused(Read(pcm.substr(0, 36)));
    ExpectRefused(Read(std::string("RIFF\0\0\0\0WAVEfmt ", 16)));
    ExpectRefused(Read(Riff(Chunk("data", data) + Chunk("fmt ", FormatBody(1, 2, 44100, 16)))));
    // Chunks running past the end, and "fmt " chunks too short for what follows them.
    for (std::uint32_t size : {0xFFFFFFF0u, 0x80000000u, 1000u})
        ExpectRefused(Read(PcmWav(2, 44100, 16, ChunkHeader("junk", size), data)));
    ExpectRefused(Read(Riff(ChunkHeader("fmt ", 0x7FFFFFF0) + FormatBody(1, 2, 44100, 16))));
    for (std::uint32_t size : {0u, 8u, 14u, 15u})
        ExpectRefused(Read(
            Riff(ChunkHeader("fmt ", size) + FormatBody(1, 2, 44100, 16) + Chunk("data", data))));
    // Nothing to divide by, and rates outside the audible range.
    ExpectRefused(Read(PcmWav(0, 44100, 16, "", data)));
    for (std::uint32_t rate : {0u, 1u, 999u, 768001u, 100000000u, 0xFFFFFFFFu})
        ExpectRefused(Read(PcmWav(2, rate, 16, "", data)));
}

TEST(WavReading, HugeSparseFilesShowTheirTrueSizeAndTime) {
    TempDir dir;
    WavLayout riff;
    riff.declaredDataSize = 3000000000LL;
    const std::string big = dir.File("big.wav");
    WriteFile(big, BuildWav(riff));
    ASSERT_EQ(truncate(big.c_str(), 44 + 3000000000LL), 0); // sparse: no blocks written
    Outcome o = ReadPath(big);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.info.DataSize, 3000000000u);
    EXPECT_EQ(o.info.Seconds, 17006u);
    tandrel::Track f;
    ASSERT_EQ(tandrel::ProbeFile(big, f), tandrel::Refusal::None);
    auto row = tandrel::BuildRow(big, f, "Bits", "Mono", "Stereo");
    EXPECT_EQ(row.subItems[3], "2861.0 MB");
    EXPECT_EQ(row.subItems[4], "4:43:26");
    EXPECT_EQ(row.subItems[9], "17006");

    // RF64 as the join writes it; over 4 GiB the row counts in 64 bits.
    const tandrel::PcmFormat cd{44100, 2, 16};
    const auto header = tandrel::MakeRf64Header(cd, 4000);
    const std::string small = std::string(header.begin(), header.end()) + std::string(4000, 'd');
    EXPECT_EQ(Probe(dir, "small.wav", small).exactBytes, 4000);
    ExpectRefused(Read(std::string(small).replace(12, 4, "JUNK")));

    const std::uint64_t bytes = 5000000000ull;
    const auto rf64 = tandrel::MakeRf64Header(cd, bytes);
    WriteFile(big, std::string(rf64.begin(), rf64.end()));
    ASSERT_EQ(truncate(big.c_str(), off_t(tandrel::kRf64HeaderBytes + bytes)), 0);
    ASSERT_EQ(tandrel::ProbeFile(big, f), tandrel::Refusal::None);
    EXPECT_EQ(f.exactBytes, std::int64_t(bytes));
    EXPECT_EQ(f.seconds, bytes / 176400);
    EXPECT_EQ(tandrel::SizeText(f.sizeKB), "4768.3 MB");
    o = ReadPath(big);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.info.DataSize, 0xFFFFFFFFu);
    EXPECT_EQ(o.info.FileSize, 0xFFFFFFFFu);
    EXPECT_EQ(o.info.Seconds, bytes / 176400);
}

TEST(WavReading, RowsShowWhatTheFileHoldsNotWhatItsHeaderClaims) {
    TempDir dir;
    const std::string half(22050 * 4, 'd');
    for (std::uint32_t claim : {100000000u, 0xFFFFFFFFu}) {
        std::string bytes = PcmWav(2, 44100, 16, "", half);
        bytes.replace(40, 4, ChunkHeader("", claim));
        Outcome o = Read(bytes);
        ASSERT_TRUE(o.ok);
        EXPECT_EQ(o.info.DataSize, half.size());
        EXPECT_EQ(o.info.FileSize, half.size() + 44);
        EXPECT_EQ(o.info.Seconds, 0u);
        const tandrel::Track f = Probe(dir, "claim.wav", bytes);
        EXPECT_EQ(f.exactBytes, std::int64_t(half.size()));
        const auto row = tandrel::BuildRow(dir.File("claim.wav"), f, "Bits", "Mono", "Stereo");
        EXPECT_EQ(row.subItems[3], "86 KB");
        EXPECT_EQ(row.subItems[4], "00:00");
    }
    EXPECT_EQ(Probe(dir, "exact.wav", PcmWav(1, 8000, 8, "", std::string(999, 'd'))).exactBytes,
              999);
}
