// WAV data that needs no conversion is copied by the kernel (copy_file_range) where the files
// allow it, else read and written: either way the same bytes, the same messages.
#include "JoinTestSupport.h"
#include "common/FileIo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tandrel;
using namespace testutil;
using namespace jointest;

namespace {

const PcmFormat kCd{44100, 2, 16};

// Bytes unlike their neighbours, so that a piece out of place shows.
std::string Pattern(std::size_t n, int seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = char((i * 131 + std::size_t(seed)) % 251);
    return s;
}

std::string Wav(const std::string &path, const std::string &data,
                std::vector<std::pair<std::string, std::string>> chunks = {}) {
    WavLayout w;
    w.data = data;
    w.extraChunks = std::move(chunks);
    WriteFile(path, BuildWav(w));
    return path;
}

// A folder on another file system than TempDir's (so the kernel refuses to copy across), or
// empty.
std::string OtherFileSystem() {
    char name[] = "/dev/shm/tandrel-test-XXXXXX";
    return mkdtemp(name) ? name : "";
}

TEST(KernelCopy, RangesArriveWholeAfterWhatIsBufferedInAnyOutputWrittenOutEarly) {
    TempDir dir;
    const std::string src = Pattern(100000, 1);
    WriteFile(dir.File("src"), src);
    const int in = open(dir.File("src").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(in, 0);
    const std::string expected = "hdr" + src.substr(7, 90001) + "end" + src.substr(99990);
    // The buffer's size sets the steps: each copy the kernel makes is a short part of the range.
    auto copy = [&](int fd) {
        BufferedWriter w(4096);
        w.Attach(fd);
        w.WriteBackEvery(1); // the kernel asked to write out after every step: no change
        EXPECT_TRUE(w.Write("hdr", 3));
        const CopyResult r = w.CopyFrom(in, 7, 90001);
        EXPECT_EQ(r.bytes, 90001u);
        EXPECT_TRUE(w.Write("end", 3));
        // A source that ends before the range does gives what it holds, and no error.
        const CopyResult end = w.CopyFrom(in, 99990, 100);
        EXPECT_EQ(end.bytes, 10u);
        EXPECT_EQ(r.readError + end.readError, 0);
        EXPECT_EQ(w.Written(), expected.size());
        EXPECT_TRUE(w.Close());
    };
    const std::string other = OtherFileSystem();
    std::vector<std::string> files = {dir.File("same.out")};
    if (!other.empty())
        files.push_back(other + "/other.out");
    for (const std::string &path : files) {
        copy(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        EXPECT_EQ(ReadFile(path), expected) << path;
        unlink(path.c_str());
    }
    if (!other.empty())
        rmdir(other.c_str());
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    copy(fds[1]);
    std::string piped(expected.size() + 1, '\0');
    EXPECT_EQ(read(fds[0], piped.data(), piped.size()), ssize_t(expected.size()));
    EXPECT_EQ(piped.substr(0, expected.size()), expected);
    close(fds[0]);
    // A source that cannot be read: its error, nothing written.
    const int writeOnly = open(dir.File("src").c_str(), O_WRONLY | O_CLOEXEC);
    BufferedWriter w;
    w.Attach(open(dir.File("bad.out").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    const CopyResult bad = w.CopyFrom(writeOnly, 0, 1000);
    EXPECT_EQ(bad.bytes, 0u);
    EXPECT_EQ(bad.readError, EBADF);
    EXPECT_TRUE(w.Close());
    close(writeOnly);
    close(in);
}

// The same join copied by the kernel and read and written: by the command line in one pass and
// by the window's second pass, into the inputs' file system and into another.
TEST(KernelCopy, JoinsCopiedAndReadGiveTheSameFile) {
    TempDir dir, tmp;
    const std::string a = Pattern(300001, 2), b = Pattern(20000, 3), c = Pattern(9000000, 4);
    // Chunks before and after the data; a's last incomplete frame is dropped.
    const std::vector<JoinInput> inputs = {{Wav(dir.File("a.wav"), a, {{"LIST", "before"}}), kCd},
                                           {Wav(dir.File("b.wav"), b), kCd},
                                           {Wav(dir.File("c.wav"), c), kCd}};
    WriteFile(dir.File("c.wav"), ReadFile(dir.File("c.wav")) + "LIST\4\0\0\0afte");
    const std::string data = a.substr(0, 300000) + b + c;
    const std::string other = OtherFileSystem();
    std::vector<std::string> outputs;
    for (bool direct : {true, false}) {
        for (const std::string &folder : {dir.Path(), other}) {
            if (folder.empty())
                continue;
            const std::string out = folder + (direct ? "/direct.wav" : "/window.wav");
            JoinRequest req = WavJoin(tmp, inputs, out);
            req.direct = direct;
            req.metadata.tags = {{"title", "Joined"}, {"artist", "Someone"}};
            MessageLog log;
            Recorder rec;
            ASSERT_EQ(RunJoin(req, rec), JoinStatus::Ok) << out;
            EXPECT_TRUE(log.shown.empty());
            const std::string file = ReadFile(out);
            unlink(out.c_str());
            EXPECT_EQ(DataChunk(file), data) << out;
            EXPECT_EQ(GetLE32(file, 4), file.size() - 8) << out;
            EXPECT_NE(file.find("Someone", 44 + data.size()), std::string::npos) << out;
            // Progress still moves within an input copied in ranges.
            const auto &bar = direct ? rec.bar1 : rec.bar2;
            EXPECT_GT(std::count_if(bar.begin(), bar.end(), [](int p) { return p > 0 && p < 100; }),
                      0)
                << out;
            outputs.push_back(file);
        }
    }
    if (!other.empty())
        rmdir(other.c_str());
    for (const std::string &file : outputs)
        EXPECT_TRUE(file == outputs[0]);
}

// A disk that fills up while the kernel copies: the message and the outcome of a write that
// fails, whether the copy stopped short or failed outright.
TEST(KernelCopy, FullDiskMidCopyIsTheUsualFailure) {
    TempDir dir, tmp;
    const std::string small = dir.File("small");
    SmallDisk disk(small, "size=1m");
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    for (bool direct : {true, false}) {
        // Inputs and the window's temporary file on the small disk too; the output cannot fit.
        const std::size_t bytes = direct ? 300000 : 200000;
        const std::vector<JoinInput> inputs = {{Wav(small + "/a.wav", Pattern(bytes, 5)), kCd},
                                               {Wav(small + "/b.wav", Pattern(bytes, 6)), kCd}};
        for (const std::string old : {"", "OLD"}) {
            const std::string out = small + "/out.wav";
            if (!old.empty())
                WriteFile(out, old);
            JoinRequest req = WavJoin(tmp, inputs, out);
            req.direct = direct;
            req.tempPcmPath = small + "/AudioTemp.pcm";
            MessageLog log;
            Recorder rec;
            EXPECT_EQ(RunJoin(req, rec), JoinStatus::Failed);
            EXPECT_EQ(log.shown, std::vector<std::string>{"Error: Cannot creat the output file.\n" +
                                                          out + "\nNo space left on device"});
            EXPECT_EQ(Exists(out) ? ReadFile(out) : "", old);
            EXPECT_EQ(Listing(small).size(), old.empty() ? 2u : 3u);
            unlink(out.c_str());
        }
    }
}

} // namespace
