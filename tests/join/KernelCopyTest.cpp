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

TEST(KernelCopy, RangesArriveWholeAfterWhatIsBufferedInAnyOutput) {
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

} // namespace
