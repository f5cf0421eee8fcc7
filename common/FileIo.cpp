#include "common/FileIo.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace tandrel {

namespace {

constexpr std::uint64_t kKernelCopyStep = 4 << 20;

std::atomic<bool> g_writesInterrupted{false};

bool IsStream(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 &&
           (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISCHR(st.st_mode));
}

// Waits until fd takes at least PIPE_BUF bytes without blocking, looking at the stop meanwhile.
bool WaitForRoom(int fd) {
    for (;;) {
        if (WritesInterrupted()) {
            errno = ECANCELED;
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, 20);
        if (r > 0)
            return true; // an error or hang-up shows in the write itself
        if (r < 0 && errno != EINTR)
            return false;
    }
}

// One write of at most count bytes; on a stream only as much as the room poll() vouches for.
ssize_t WriteSome(int fd, bool stream, const std::uint8_t *data, std::size_t count) {
    if (!stream)
        return ::write(fd, data, count);
    if (!WaitForRoom(fd))
        return -1;
    return ::write(fd, data, std::min<std::size_t>(count, PIPE_BUF));
}

bool WriteAllTo(int fd, bool stream, const std::uint8_t *data, std::size_t count, int &error) {
    while (count > 0) {
        const ssize_t n = WriteSome(fd, stream, data, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            return false;
        }
        data += n;
        count -= std::size_t(n);
    }
    return true;
}

} // namespace

void InterruptWrites(bool on) {
    g_writesInterrupted = on;
}

bool WritesInterrupted() {
    return g_writesInterrupted;
}

std::string SystemError(int err) {
    return std::strerror(err);
}

int CreateUniqueFile(const std::string &dir, const std::string &prefix, const std::string &suffix,
                     mode_t mode, std::string &path) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = dir + "/" + prefix;
        for (int i = 0; i < 6; ++i)
            name += kChars[random() % (sizeof kChars - 1)];
        name += suffix;
        const int fd =
            ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            path = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

int CreateUnnamedFile(const std::string &folder, mode_t mode, const std::string &prefix,
                      const std::string &suffix, std::string &named) {
    named.clear();
    if (::access("/proc/self/fd", X_OK) == 0) {
        const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
        if (fd >= 0 ||
            (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS))
            return fd;
    }
    return CreateUniqueFile(folder, prefix, suffix, 0600, named);
}

bool SameFile(const std::string &a, const std::string &b) {
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string DirName(const std::string &path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string &path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

BufferedWriter::BufferedWriter(std::size_t bufferBytes) : buffer_(bufferBytes) {}

BufferedWriter::~BufferedWriter() {
    if (fd_ >= 0)
        ::close(fd_);
}

void BufferedWriter::Attach(int fd) {
    fd_ = fd;
    used_ = 0;
    error_ = 0;
    written_ = 0;
    stream_ = fd >= 0 && IsStream(fd);
    kernelCopies_ = fd >= 0 && !stream_;
    writeBackEvery_ = unflushed_ = 0;
    startedTo_ = stepFrom_ = 0;
}

bool BufferedWriter::WriteAll(const std::uint8_t *data, std::size_t count) {
    return WriteAllTo(fd_, stream_, data, count, error_) && Wrote(count);
}

// Starts writing out what came since it last did; at the end of a step, first waits for what
// was started before the step, so no more than two steps are ever on their way to the disk:
// the join keeps a slow disk's pace instead of queueing up all it writes, and a stop never
// waits long for data it throws away. A write error that the wait finds fails the write: the
// final sync would not see it again.
bool BufferedWriter::Wrote(std::uint64_t count) {
    unflushed_ += count;
    if (writeBackEvery_ == 0 || stream_ || unflushed_ < std::min(writeBackEvery_, kWriteOutBytes))
        return true;
    unflushed_ = 0;
    const off_t end = ::lseek(fd_, 0, SEEK_CUR);
    if (end <= startedTo_)
        return true;
    if (std::uint64_t(end - stepFrom_) >= writeBackEvery_) {
        constexpr unsigned kWait =
            SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
        if (stepFrom_ > 0 && ::sync_file_range(fd_, 0, stepFrom_, kWait) != 0) {
            if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != ESPIPE) {
                error_ = errno;
                return false;
            }
            writeBackEvery_ = 0; // a file system that does not take it
            return true;
        }
        stepFrom_ = startedTo_;
    }
    ::sync_file_range(fd_, startedTo_, end - startedTo_, SYNC_FILE_RANGE_WRITE);
    startedTo_ = end;
    return true;
}

bool BufferedWriter::Write(const void *data, std::size_t count) {
    if (error_ != 0 || fd_ < 0)
        return false;
    const auto *p = static_cast<const std::uint8_t *>(data);
    written_ += count;
    if (used_ + count > buffer_.size()) {
        if (!Flush())
            return false;
        if (count >= buffer_.size())
            return WriteAll(p, count);
    }
    std::memcpy(buffer_.data() + used_, p, count);
    used_ += count;
    return true;
}

bool BufferedWriter::Flush() {
    if (error_ != 0 || fd_ < 0)
        return false;
    const std::size_t n = used_;
    used_ = 0;
    return WriteAll(buffer_.data(), n);
}

bool BufferedWriter::WriteAt(std::uint64_t offset, const void *data, std::size_t count) {
    if (!Flush())
        return false;
    const ssize_t n = ::pwrite(fd_, data, count, off_t(offset));
    if (n != ssize_t(count)) {
        error_ = n < 0 ? errno : EIO;
        return false;
    }
    return true;
}

// In steps of a few megabytes: one call each, where steps of the buffer's size took hundreds.
// Any failure ends copying by the kernel: a refusal holds for the rest, and the reads and
// writes that take over tell other errors as they always have.
std::uint64_t BufferedWriter::KernelCopy(int fd, std::uint64_t offset, std::uint64_t count) {
    std::uint64_t done = 0;
    while (kernelCopies_ && done < count) {
        loff_t from = loff_t(offset + done);
        const std::size_t step =
            std::size_t(std::min<std::uint64_t>(count - done, kKernelCopyStep));
        const ssize_t n = ::copy_file_range(fd, &from, fd_, nullptr, step, 0);
        if (n > 0)
            done += std::uint64_t(n);
        else if (n == 0)
            break; // the source's end, or what the reads are to find out
        else if (errno != EINTR)
            kernelCopies_ = false;
    }
    written_ += done;
    Wrote(done); // a failure is in Error()
    return done;
}

CopyResult BufferedWriter::CopyFrom(int fd, std::uint64_t offset, std::uint64_t count) {
    CopyResult r;
    if (!Flush())
        return r;
    r.bytes = KernelCopy(fd, offset, count);
    if (error_ != 0)
        return r;
    while (r.bytes < count) {
        const std::size_t want =
            std::size_t(std::min<std::uint64_t>(count - r.bytes, buffer_.size()));
        const ssize_t n = ::pread(fd, buffer_.data(), want, off_t(offset + r.bytes));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            r.readError = n < 0 ? errno : 0;
            break;
        }
        if (!WriteAll(buffer_.data(), std::size_t(n)))
            break;
        r.bytes += std::uint64_t(n);
        written_ += std::uint64_t(n);
    }
    return r;
}

bool BufferedWriter::Close() {
    if (fd_ < 0)
        return error_ == 0;
    const bool flushed = Flush();
    if (::close(fd_) != 0 && error_ == 0)
        error_ = errno;
    fd_ = -1;
    return flushed && error_ == 0;
}

BlockReader::BlockReader(std::size_t bufferBytes) : buffer_(bufferBytes) {}

void BlockReader::Attach(int fd) {
    fd_ = fd;
    begin_ = end_ = 0;
    error_ = 0;
    eof_ = false;
}

std::size_t BlockReader::Next(std::size_t want, const std::uint8_t **data) {
    want = std::min(want, buffer_.size());
    if (end_ - begin_ < want && !eof_) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        while (end_ < want) {
            const ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n < 0)
                    error_ = errno;
                eof_ = true;
                break;
            }
            end_ += std::size_t(n);
        }
    }
    const std::size_t n = std::min(want, end_ - begin_);
    *data = buffer_.data() + begin_;
    begin_ += n;
    return n;
}

bool BlockReader::ReadExact(void *out, std::size_t count) {
    const std::uint8_t *p;
    const std::size_t n = Next(count, &p);
    std::memcpy(out, p, n);
    return n == count;
}

void BlockReader::Skip(std::uint64_t count) {
    const std::uint64_t buffered = end_ - begin_;
    if (count <= buffered) {
        begin_ += std::size_t(count);
        return;
    }
    begin_ = end_ = 0;
    if (eof_)
        return;
    if (::lseek(fd_, off_t(count - buffered), SEEK_CUR) < 0) {
        // A pipe or a device: read the rest away.
        std::uint64_t left = count - buffered;
        const std::uint8_t *p;
        while (left > 0) {
            const std::size_t n =
                Next(std::size_t(std::min<std::uint64_t>(left, buffer_.size())), &p);
            if (n == 0)
                return;
            left -= n;
        }
    }
}

} // namespace tandrel
