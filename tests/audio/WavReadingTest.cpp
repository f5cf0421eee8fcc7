#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "TestUtil.h"
#include "WavBytes.h"
#include "audio/Probe.h"
#include "audio/Waveinf.h"
#include "join/WavWriter.h"

#include <unistd.h>

using audiotest::RecordingSink;
using testutil::TempDir;
using testutil::WriteFile;
using namespace wavbytes;

namespace {

const std::string kInvalid = "This is not a valid Wave file.";

struct Read {
    explicit Read(const std::string &bytes) {
        WriteFile(dir.File("x.wav"), bytes);
        ok = ReadWaveInfo(dir.File("x.wav"), info);
        shown = sink.shown;
    }
    TempDir dir;
    RecordingSink sink;
    bool ok = false;
    TWaveInfo info{};
    std::vector<audiotest::Shown> shown;
};

void ExpectRefused(const std::string &bytes, const std::string &text = kInvalid) {
    Read r(bytes);
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.shown.size(), 1u);
    EXPECT_EQ(r.shown[0].caption, "ERROR");
    EXPECT_EQ(r.shown[0].text, text);
}

tandrel::ProbedFile Probe(const TempDir &dir, const std::string &name, const std::string &bytes) {
    WriteFile(dir.File(name), bytes);
    tandrel::ProbedFile f;
    EXPECT_EQ(tandrel::ProbeFile(dir.File(name), f), tandrel::Refusal::None) << name;
    return f;
}

} // namespace

TEST(WavReading, OddChunksWithAndWithoutTheirPadByte) {
    const std::string data(400, 'd');
    for (bool pad : {true, false}) {
        Read r(PcmWav(2, 44100, 16, Chunk("note", "abc", pad) + Chunk("LIST", "xyzzy", pad), data));
        EXPECT_TRUE(r.ok) << pad;
        EXPECT_EQ(r.info.DataSize, 400u) << pad;
    }
    // Both places hold something like an id: the one that reads "data" wins.
    Read unpadded(PcmWav(1, 8000, 8, Chunk("note", "abc", false), std::string(0x41, 'd')));
    EXPECT_TRUE(unpadded.ok);
    EXPECT_EQ(unpadded.info.DataSize, 0x41u);
    std::string dirtyPad = PcmWav(1, 8000, 8, Chunk("note", "abc"), std::string(0x41, 'd'));
    dirtyPad[36 + 8 + 3] = 'x';
    Read padded(dirtyPad);
    EXPECT_TRUE(padded.ok);
    EXPECT_EQ(padded.info.DataSize, 0x41u);
}

TEST(WavReading, ChunksRunningPastTheEndOrTooShortAreRefused) {
    const std::string data(64, 'd');
    for (std::uint32_t size : {0xFFFFFFF0u, 0x80000000u, 1000u})
        ExpectRefused(PcmWav(2, 44100, 16, ChunkHeader("junk", size), data));
    ExpectRefused(Riff(ChunkHeader("fmt ", 0x7FFFFFF0) + FormatBody(1, 2, 44100, 16)));
    // A short "fmt " chunk followed by bytes that would pass for the rest of one.
    const std::string body = FormatBody(1, 2, 44100, 16);
    for (std::size_t size : {0, 8, 14, 15}) {
        std::string bytes =
            Riff(ChunkHeader("fmt ", std::uint32_t(size)) + body + Chunk("data", data));
        ExpectRefused(bytes);
    }
    ExpectRefused(PcmWav(2, 44100, 16, "", data).replace(0, 4, "RIFX"));
    ExpectRefused(Riff(Chunk("data", data) + Chunk("fmt ", body)));
}

TEST(WavReading, ExtensibleFilesOfPcmAreReadAsPcm) {
    const std::string data(44100 * 4, 'd');
    Read stereo(Riff(Chunk("fmt ", ExtensibleBody(2, 44100, 16, 1)) + Chunk("data", data)));
    ASSERT_TRUE(stereo.ok);
    EXPECT_TRUE(stereo.shown.empty());
    EXPECT_EQ(stereo.info.Channels, 2);
    EXPECT_EQ(stereo.info.BitsPerSample, 16);
    EXPECT_EQ(stereo.info.DataSize, data.size());
    EXPECT_EQ(stereo.info.Seconds, 1u);
    ExpectRefused(Riff(Chunk("fmt ", ExtensibleBody(2, 44100, 32, 3)) + Chunk("data", data)),
                  "Can not support 24bit or 32bit Wave file.");
    // Without its GUID an extensible header says nothing of what it holds.
    ExpectRefused(
        Riff(Chunk("fmt ", ExtensibleBody(2, 44100, 16, 1).substr(0, 18)) + Chunk("data", data)),
        "Can not support 24bit or 32bit Wave file.");
}

TEST(WavReading, Rf64FilesAsTheJoinWritesThem) {
    TempDir dir;
    const tandrel::PcmFormat cd{44100, 2, 16};
    const auto header = tandrel::MakeRf64Header(cd, 4000);
    const std::string small = std::string(header.begin(), header.end()) + std::string(4000, 'd');
    Read r(small);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.info.SampleRate, 44100);
    EXPECT_EQ(r.info.DataSize, 4000u);
    EXPECT_EQ(Probe(dir, "small.wav", small).exactBytes, 4000);

    std::string noDs64 = small;
    noDs64.replace(12, 4, "JUNK");
    ExpectRefused(noDs64);

    // Over 4 GiB, sparse: the row counts in 64 bits.
    const std::uint64_t bytes = 5000000000ull;
    const auto big = tandrel::MakeRf64Header(cd, bytes);
    const std::string path = dir.File("big.wav");
    WriteFile(path, std::string(big.begin(), big.end()));
    ASSERT_EQ(truncate(path.c_str(), off_t(tandrel::kRf64HeaderBytes + bytes)), 0);
    tandrel::ProbedFile f;
    ASSERT_EQ(tandrel::ProbeFile(path, f), tandrel::Refusal::None);
    EXPECT_EQ(f.exactBytes, std::int64_t(bytes));
    EXPECT_EQ(f.seconds, bytes / 176400);
    EXPECT_EQ(tandrel::SizeText(f.sizeKB), "4768.3 MB");
    TWaveInfo info{};
    ASSERT_TRUE(ReadWaveInfo(path, info));
    EXPECT_EQ(info.DataSize, 0xFFFFFFFFu);
    EXPECT_EQ(info.FileSize, 0xFFFFFFFFu);
    EXPECT_EQ(info.Seconds, bytes / 176400);
}

TEST(WavReading, RowsShowWhatTheFileHoldsNotWhatItsHeaderClaims) {
    TempDir dir;
    const std::string half(22050 * 4, 'd');
    for (std::uint32_t claim : {100000000u, 0xFFFFFFFFu}) {
        std::string bytes = PcmWav(2, 44100, 16, "", half);
        bytes.replace(40, 4, ChunkHeader("", claim));
        Read r(bytes);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.info.DataSize, half.size());
        EXPECT_EQ(r.info.FileSize, half.size() + 44);
        EXPECT_EQ(r.info.Seconds, 0u);
        const tandrel::ProbedFile f = Probe(dir, "claim.wav", bytes);
        EXPECT_EQ(f.exactBytes, std::int64_t(half.size()));
        const auto row = tandrel::BuildRow(dir.File("claim.wav"), f, "Bits", "Mono", "Stereo");
        EXPECT_EQ(row.subItems[3], "86 KB");
        EXPECT_EQ(row.subItems[4], "00:00");
    }
    EXPECT_EQ(Probe(dir, "exact.wav", PcmWav(1, 8000, 8, "", std::string(999, 'd'))).exactBytes,
              999);
}

TEST(WavReading, SampleRatesOutsideTheAudibleRangeAreRefused) {
    const std::string data(4000, 'd');
    for (std::uint32_t rate : {1u, 999u, 768001u, 100000000u})
        ExpectRefused(PcmWav(2, rate, 16, "", data));
    for (std::uint32_t rate : {1000u, 768000u})
        EXPECT_TRUE(Read(PcmWav(2, rate, 16, "", data)).ok) << rate;
}
