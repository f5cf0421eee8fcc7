#include "JoinTestSupport.h"
#include "WavBytes.h"
#include "audio/Decoding.h"
#include "join/OutputFile.h"
#include "join/OutputStage.h"
#include "join/WavWriter.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <map>
#include <unistd.h>

using namespace tandrel;
using namespace testutil;
using namespace jointest;

namespace {

// What a command prints, its errors included.
std::string Output(const std::string &command) {
    return Run(command).output;
}

std::uint64_t GetLE64(const std::string &bytes, std::size_t at) {
    return GetLE32(bytes, at) | std::uint64_t(GetLE32(bytes, at + 4)) << 32;
}

// A wave file taken apart: its data, and what the chunks after the data say.
struct WavParts {
    std::string data;
    std::uint64_t riffSize = 0;                 // from ds64 in an RF64 file
    std::size_t afterData = 0;                  // where the data chunk ends, its pad byte included
    std::vector<std::string> trailing;          // ids of the chunks after the data
    std::map<std::string, std::string> info;    // INFO id -> text
    std::vector<std::uint32_t> cueFrames;       // in the order of their ids 1..N
    std::map<std::uint32_t, std::string> label; // cue id -> text
};

// The NUL-terminated text of a chunk body from at on.
std::string Text(const std::string &body, std::size_t at) {
    EXPECT_EQ(body.back(), '\0');
    return body.substr(at, body.find('\0', at) - at);
}

void ReadList(const std::string &body, WavParts &parts) {
    for (std::size_t at = 4; at + 8 <= body.size();) {
        const std::string id = body.substr(at, 4);
        const std::uint32_t size = GetLE32(body, at + 4);
        const std::string sub = body.substr(at + 8, size);
        if (body.compare(0, 4, "INFO") == 0)
            parts.info[id] = Text(sub, 0);
        else if (id == "labl")
            parts.label[GetLE32(sub, 0)] = Text(sub, 4);
        at += 8 + size + (size & 1);
        EXPECT_LE(at, body.size()) << id;
    }
}

void ReadCues(const std::string &body, WavParts &parts) {
    ASSERT_EQ(body.size(), 4 + 24 * GetLE32(body, 0));
    for (std::size_t at = 4; at < body.size(); at += 24) {
        EXPECT_EQ(GetLE32(body, at), parts.cueFrames.size() + 1);
        EXPECT_EQ(body.substr(at + 8, 4), "data");
        EXPECT_EQ(GetLE64(body, at + 12), 0u); // chunk start, block start
        EXPECT_EQ(GetLE32(body, at + 20), GetLE32(body, at + 4));
        parts.cueFrames.push_back(GetLE32(body, at + 4));
    }
}

WavParts Parse(const std::string &file) {
    WavParts parts;
    const bool rf64 = file.compare(0, 4, "RF64") == 0;
    parts.riffSize = rf64 ? GetLE64(file, 20) : GetLE32(file, 4);
    std::size_t at = 12;
    bool data = false;
    while (at + 8 <= file.size()) {
        const std::string id = file.substr(at, 4);
        const std::uint64_t size = id == "data" && rf64 ? GetLE64(file, 28) : GetLE32(file, at + 4);
        const std::string body = file.substr(at + 8, size);
        at += 8 + size + (size & 1);
        if (id == "data") {
            parts.data = body;
            parts.afterData = at;
            data = true;
        } else if (data) {
            parts.trailing.push_back(id == "LIST" ? id + "/" + body.substr(0, 4) : id);
            if (id == "LIST")
                ReadList(body, parts);
            else if (id == "cue ")
                ReadCues(body, parts);
        }
    }
    EXPECT_EQ(at, file.size());
    EXPECT_EQ(parts.riffSize, file.size() - 8);
    return parts;
}

std::string Pcm(std::size_t bytes) {
    std::string pcm(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i)
        pcm[i] = char(i * 13 + i / 251);
    return pcm;
}

OutputMetadata Tagged() {
    OutputMetadata m;
    m.tags = {{"title", "Título ü"}, {"artist", "Ёжик"}, {"albumartist", "none in INFO"},
              {"album", "日本語"},   {"date", "2024"},   {"genre", "Rock"},
              {"comment", "odd"}};
    return m;
}

const std::map<std::string, std::string> kInfo = {{"INAM", "Título ü"}, {"IART", "Ёжик"},
                                                  {"IPRD", "日本語"},   {"ICRD", "2024"},
                                                  {"IGNR", "Rock"},     {"ICMT", "odd"}};

const std::vector<Chapter> kChapters = {
    {0, 100, "Intr"}, {100, 251, "Ёжик в тумане"}, {251, 400, "日本語"}, {399, 400, ""}};

// Writes pcm as a seekable file through the writer, chapters set as the one-pass join does.
std::string Streamed(const TempDir &dir, const PcmFormat &f, const std::string &pcm,
                     const OutputMetadata &m, std::uint64_t limit = kClassicWavDataLimit,
                     bool placed = true) {
    OutputFile file;
    EXPECT_TRUE(file.Open(dir.File("s.wav"), nullptr));
    WavFileWriter writer(limit);
    writer.SetMetadata(m);
    EXPECT_TRUE(writer.Open({file.Fd(), file.WritePath(), "s.wav", true}, f, -1));
    EXPECT_TRUE(writer.Write(reinterpret_cast<const std::uint8_t *>(pcm.data()), pcm.size()));
    if (placed && m.writeChapters && !m.chaptersFinal)
        writer.SetChapters(kChapters);
    EXPECT_TRUE(writer.Close());
    EXPECT_TRUE(file.Commit());
    return ReadFile(dir.File("s.wav"));
}

// Writes pcm from a file whose size is known at Open, as the window's join does.
std::string TwoPass(const TempDir &dir, const PcmFormat &f, const std::string &pcm,
                    const OutputMetadata &m, std::uint64_t limit) {
    WriteFile(dir.File("in.pcm"), pcm);
    const int fd = open(dir.File("in.pcm").c_str(), O_RDONLY | O_CLOEXEC);
    WavFileWriter writer(limit);
    writer.SetMetadata(m);
    EXPECT_EQ(WriteOutput(fd, pcm.size(), "in.pcm", writer, f, dir.File("t.wav"), nullptr, false),
              StageResult::Done);
    close(fd);
    return ReadFile(dir.File("t.wav"));
}

TEST(WavMetadata, TagsAndCuesFollowTheUnchangedDataInClassicAndRf64Files) {
    TempDir dir;
    const PcmFormat stereo{44100, 2, 16};
    const std::string pcm = Pcm(400 * 4);
    OutputMetadata m = Tagged();
    m.writeChapters = true;
    m.chapters = {{0, 0, "Intr"}, {0, 0, "Ёжик в тумане"}, {0, 0, "日本語"}, {0, 0, ""}};
    const std::string file = Streamed(dir, stereo, pcm, m);
    const WavParts parts = Parse(file);
    EXPECT_EQ(parts.data, pcm);
    EXPECT_EQ(parts.afterData, 44 + pcm.size());
    EXPECT_EQ(parts.trailing, (std::vector<std::string>{"LIST/INFO", "cue ", "LIST/adtl"}));
    EXPECT_EQ(parts.info, kInfo);
    EXPECT_EQ(parts.cueFrames, (std::vector<std::uint32_t>{0, 100, 251, 399}));
    EXPECT_EQ(parts.label, (std::map<std::uint32_t, std::string>{
                               {1, "Intr"}, {2, "Ёжик в тумане"}, {3, "日本語"}, {4, ""}}));
    const std::string probed =
        Output("ffprobe -v error -show_entries format_tags=title,artist -of default=nw=1 " +
               Quote(dir.File("s.wav")));
    EXPECT_EQ(probed, "TAG:title=Título ü\nTAG:artist=Ёжик\n");
    EXPECT_EQ(Output("sox --i -s " + Quote(dir.File("s.wav"))), "400\n");
    // The program's own reader: the same audio, the tags read back through TagLib.
    Track t;
    ASSERT_EQ(ProbeFile(dir.File("s.wav"), t), Refusal::None);
    EXPECT_EQ(t.exactBytes, std::int64_t(pcm.size()));
    EXPECT_EQ(t.tags.front(), (std::pair<std::string, std::string>{"title", "Título ü"}));
    // A join stopped before it placed the inputs knows no chapters but foreseen ones.
    EXPECT_EQ(Parse(Streamed(dir, stereo, pcm, m, kClassicWavDataLimit, false)).trailing,
              std::vector<std::string>{"LIST/INFO"});

    // Chapters known before the data, and only they; none past the data written.
    m.chapters = kChapters;
    m.chaptersFinal = true;
    EXPECT_EQ(Streamed(dir, stereo, pcm, m), file);
    EXPECT_EQ(Parse(Streamed(dir, stereo, pcm.substr(0, 300 * 4), m)).cueFrames,
              (std::vector<std::uint32_t>{0, 100, 251}));
    // Data that fits the classic limit alone but not with the chunks after it becomes RF64,
    // whether moved at Close or chosen at Open.
    const std::uint64_t limit = pcm.size() + 10;
    const std::string rf64 = Streamed(dir, stereo, pcm, m, limit);
    EXPECT_EQ(rf64.substr(0, 4), "RF64");
    EXPECT_EQ(TwoPass(dir, stereo, pcm, m, limit), rf64);
    const WavParts big = Parse(rf64);
    EXPECT_EQ(big.data, pcm);
    EXPECT_EQ(big.info, kInfo);
    EXPECT_EQ(big.cueFrames, parts.cueFrames);
    EXPECT_EQ(big.label, parts.label);
    EXPECT_EQ(ProbeStreamField(dir.File("t.wav"), "duration_ts"), "400");
    EXPECT_EQ(Output("ffprobe -v error -show_entries format_tags=album -of csv=p=0 " +
                     Quote(dir.File("t.wav"))),
              "日本語\n");

    // Odd data: the pad byte, then the chunks at even offsets.
    const std::string odd = Pcm(301);
    const WavParts mono = Parse(Streamed(dir, {8000, 1, 8}, odd, m));
    EXPECT_EQ(mono.data, odd);
    EXPECT_EQ(mono.afterData, 44 + 302u);
    EXPECT_EQ(mono.cueFrames, (std::vector<std::uint32_t>{0, 100, 251}));
    EXPECT_EQ(Output("sox --i -s " + Quote(dir.File("s.wav"))), "301\n");
    EXPECT_EQ(Parse(Streamed(dir, {8000, 1, 8}, odd, m, 305)).cueFrames, mono.cueFrames);
    // Without metadata, no byte changes.
    EXPECT_EQ(Streamed(dir, {8000, 1, 8}, odd, {}), wavbytes::PcmWav(1, 8000, 8, "", odd));
}

// A pipe: the header's RIFF size counts what follows only when it is known before the data;
// with the length unknown nothing follows the data, which a reader would take for samples.
TEST(WavMetadata, PipeGetsTheChunksOnlyWhenTheHeaderCountedThem) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string pcm = Pcm(401 * 4);
    OutputMetadata m = Tagged();
    m.writeChapters = true;
    m.chapters = kChapters;
    struct Case {
        std::uint64_t limit;
        std::int64_t expected;
        std::size_t written;
    };
    // 1610 bytes hold the data alone, not with the chunks after it. Data short of the size
    // the header gave (a stopped join) or of unknown size is followed by nothing.
    for (const Case c : {Case{kClassicWavDataLimit, 1604, 1604}, Case{1610, 1604, 1604},
                         Case{kClassicWavDataLimit, -1, 1604}, Case{1610, 1604, 800}}) {
        m.chaptersFinal = c.expected >= 0;
        WavFileWriter writer(c.limit);
        writer.SetMetadata(m);
        ASSERT_TRUE(writer.Open({fds[1], "", "pipe", false}, {44100, 2, 16}, c.expected));
        ASSERT_TRUE(writer.Write(reinterpret_cast<const std::uint8_t *>(pcm.data()), c.written));
        writer.SetChapters({{0, 401, "late"}});
        ASSERT_TRUE(writer.Close());
        std::string file(8192, '\0');
        file.resize(std::size_t(read(fds[0], file.data(), file.size())));
        if (c.expected < 0 || c.written < pcm.size()) {
            EXPECT_EQ(file.size(), (c.limit == 1610 ? 80 : 44) + c.written);
            continue;
        }
        EXPECT_EQ(file.substr(0, 4), c.limit == 1610 ? "RF64" : "RIFF");
        const WavParts parts = Parse(file);
        EXPECT_EQ(parts.data, pcm);
        EXPECT_EQ(parts.info, kInfo);
        EXPECT_EQ(parts.cueFrames, (std::vector<std::uint32_t>{0, 100, 251, 399}));
    }
    close(fds[0]);
    close(fds[1]);
}

void Make(const std::string &command) {
    const CommandResult r = Run(command);
    ASSERT_EQ(r.exitCode, 0) << command << "\n" << r.output;
}

// tandrel-join's one-pass join and the window's two-pass join write the same tagged file;
// its audio is the plain join's, and reading it back as an input gives that audio again.
TEST(WavMetadata, JoinWritesTheChaptersWhereTheInputsStart) {
    InitDecoding();
    TempDir dir, tmp;
    Make("sox -n -r 44100 -c 2 -b 16 " + Quote(dir.File("a.wav")) + " synth 0.61 sine 440");
    Make("ffmpeg -v error -f lavfi -i sine=f=660:r=22050:d=0.3 -ac 2 -metadata title='Bé ☃' " +
         Quote(dir.File("b.flac")));
    Make("sox -n -r 44100 -c 2 -b 16 " + Quote(dir.File("c.wav")) + " synth 0.2 sine 330");
    const std::string cli = Quote(BinDir() + "/tandrel-join") + " -q ";
    const std::string inputs = " a.wav b.flac c.wav";
    Make("cd " + Quote(dir.Path()) + " && " + cli + "-o plain.wav" + inputs);
    Make("cd " + Quote(dir.Path()) + " && " + cli +
         "--tags --chapters --title 'Título ü' --artist Ёжик -o tagged.wav" + inputs);
    ASSERT_TRUE(Exists(dir.File("tagged.wav")));
    const std::string plain = DataChunk(ReadFile(dir.File("plain.wav")));
    const WavParts parts = Parse(ReadFile(dir.File("tagged.wav")));
    EXPECT_EQ(parts.data, plain);
    const std::uint32_t b = 26901, c = b + 2 * 6615; // 0.61 s, then 0.3 s repeated to 44100
    EXPECT_EQ(parts.cueFrames, (std::vector<std::uint32_t>{0, b, c}));
    EXPECT_EQ(parts.label, (std::map<std::uint32_t, std::string>{{1, "a"}, {2, "Bé ☃"}, {3, "c"}}));
    EXPECT_EQ(parts.info.at("INAM"), "Título ü");
    EXPECT_EQ(
        Output("ffprobe -v error -show_entries chapter=start:format_tags=artist -of csv=p=0 " +
               Quote(dir.File("tagged.wav"))),
        "0\n26901\n40131\nЁжик\n");
    EXPECT_EQ(Output("sox --i -s " + Quote(dir.File("tagged.wav"))),
              std::to_string(plain.size() / 4) + "\n");

    JoinRequest req = WavJoin(
        tmp, {Listed(dir.File("a.wav")), Listed(dir.File("b.flac")), Listed(dir.File("c.wav"))},
        dir.File("window.wav"));
    req.inputs[0].title = "a";
    req.inputs[1].title = "Bé ☃";
    req.inputs[2].title = "c";
    req.metadata.tags = {{"artist", "Ёжик"}, {"title", "Título ü"}};
    req.metadata.writeChapters = true;
    Recorder rec;
    ASSERT_EQ(RunJoin(req, rec), JoinStatus::Ok);
    EXPECT_EQ(ReadFile(dir.File("window.wav")), ReadFile(dir.File("tagged.wav")));

    Make("cd " + Quote(dir.Path()) + " && " + cli + "-o again.wav tagged.wav");
    EXPECT_EQ(ReadFile(dir.File("again.wav")), ReadFile(dir.File("plain.wav")));
}

} // namespace
