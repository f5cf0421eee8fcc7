#pragma once

#include <cstdint>
#include <string>

namespace tandrel {

// True when path names a regular file (links followed). Never opens it.
bool IsRegularFile(const std::string &path);

// Opens a regular file read-only without blocking on a FIFO or device that takes its place;
// returns the descriptor or -1. size receives its size.
int OpenRegularFile(const std::string &path, std::uint64_t &size);

// Reads exactly n bytes at offset; false on a short read or an error.
bool ReadAt(int fd, std::uint64_t offset, void *dst, std::size_t n);

// Closes a descriptor when it goes out of scope.
class FdGuard {
public:
    explicit FdGuard(int fd) : fd_(fd) {}
    ~FdGuard();
    FdGuard(const FdGuard &) = delete;
    FdGuard &operator=(const FdGuard &) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

} // namespace tandrel
