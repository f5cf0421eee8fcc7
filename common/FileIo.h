#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tandrel {

// The system's text for an errno value.
std::string SystemError(int err);

// Creates a new file exclusively, never through a link: dir/prefix + six random characters +
// suffix, with the given permissions (before the umask). Returns the open descriptor and sets
// path, or -1 with errno set.
int CreateUniqueFile(const std::string &dir, const std::string &prefix, const std::string &suffix,
                     mode_t mode, std::string &path);

// Creates a file in folder that has no name (O_TMPFILE, mode before the umask), so that it goes
// with the process however that ends; another open reaches it through /proc/self/fd. Where
// the file system or /proc refuse that, a unique name prefix + six characters + suffix, readable
// by the user alone, stands in and is set in named (empty otherwise). Returns the descriptor,
// or -1 with errno set.
int CreateUnnamedFile(const std::string &folder, mode_t mode, const std::string &prefix,
                      const std::string &suffix, std::string &named);

// Whether two names are the same file (device and inode), however spelled.
bool SameFile(const std::string &a, const std::string &b);

// Folder part of a path ("." when there is none) and the name part.
std::string DirName(const std::string &path);
std::string BaseName(const std::string &path);

// The stop of a join as its writes hear it. Once raised (from any thread), a write to a pipe,
// FIFO, socket or device gives up with ECANCELED instead of waiting for a reader that may never
// read; regular files are written on. One join at a time: lowered as the next one starts.
void InterruptWrites(bool on);
bool WritesInterrupted();

// What BufferedWriter::CopyFrom appended, and the source's errno when reading it failed.
struct CopyResult {
    std::uint64_t bytes = 0;
    int readError = 0;
};

// How much of a synced output is written before the writes wait for the disk to have the
// step before; the kernel is asked to write out every kWriteOutBytes of it meanwhile.
inline constexpr std::uint64_t kWriteBackBytes = 8u << 20;
inline constexpr std::uint64_t kWriteOutBytes = 1u << 20;

// A descriptor written through a large buffer; every write is checked. Error() holds the
// errno of the first failure.
class BufferedWriter {
public:
    explicit BufferedWriter(std::size_t bufferBytes = 1 << 20);
    ~BufferedWriter();
    BufferedWriter(const BufferedWriter &) = delete;
    BufferedWriter &operator=(const BufferedWriter &) = delete;

    // Takes the descriptor over (closes it in Close).
    void Attach(int fd);
    int Fd() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    bool Write(const void *data, std::size_t count);
    bool Flush();
    // Writes at an absolute offset after flushing (for headers).
    bool WriteAt(std::uint64_t offset, const void *data, std::size_t count);
    bool Close();
    int Error() const { return error_; }
    std::uint64_t Written() const { return written_; }
    // For a file that is synced when finished: the kernel is asked to start writing out what
    // was written every kWriteOutBytes (at most `bytes`), so that the sync overlaps the join
    // instead of following it; and every `bytes` the writes wait for the step before, so the
    // disk is never far behind.
    void WriteBackEvery(std::uint64_t bytes) { writeBackEvery_ = bytes; }
    // Appends bytes [offset, offset + count) of the file fd, whose position stays where it
    // is: the kernel copies them (copy_file_range) where both files allow it, else they are
    // read and written through the buffer. Fewer bytes when the source ends first or cannot
    // be read (readError), or when writing fails (Error()).
    CopyResult CopyFrom(int fd, std::uint64_t offset, std::uint64_t count);

private:
    bool WriteAll(const std::uint8_t *data, std::size_t count);
    std::uint64_t KernelCopy(int fd, std::uint64_t offset, std::uint64_t count);
    bool Wrote(std::uint64_t count);
    std::vector<std::uint8_t> buffer_;
    bool stream_ = false; // a pipe, FIFO, socket or device
    // Until the kernel refuses a copy (another file system, a stream, an appending file).
    bool kernelCopies_ = false;
    std::size_t used_ = 0;
    int fd_ = -1;
    int error_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t writeBackEvery_ = 0;
    std::uint64_t unflushed_ = 0; // written since the kernel was last asked to write out
    off_t startedTo_ = 0;         // the end of what it was asked to write out
    off_t stepFrom_ = 0;          // where the step being written began
};

// Reads a descriptor in blocks handed out without copying, through large reads beneath.
class BlockReader {
public:
    explicit BlockReader(std::size_t bufferBytes = 256 * 1024);
    // Starts reading fd from its current position (the descriptor is not owned).
    void Attach(int fd);
    // Up to want bytes (want must not exceed the buffer); 0 at the end of the file or on a
    // read error (Error() then is non-zero).
    std::size_t Next(std::size_t want, const std::uint8_t **data);
    // Reads exactly count bytes into out; false at the end of the file.
    bool ReadExact(void *out, std::size_t count);
    // Skips count bytes; past the end of the file the next read returns nothing.
    void Skip(std::uint64_t count);
    int Error() const { return error_; }

private:
    std::vector<std::uint8_t> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    int fd_ = -1;
    int error_ = 0;
    bool eof_ = false;
};

} // namespace tandrel
