#include "join/StreamRelay.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace tandrel {

StreamRelay::~StreamRelay() {
    Finish();
}

int StreamRelay::Start(int out) {
    const int copy = ::fcntl(out, F_DUPFD_CLOEXEC, 3);
    if (copy < 0)
        return -1;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        const int err = errno;
        ::close(copy);
        errno = err;
        return -1;
    }
    readFd_ = ends[0];
    writeFd_ = ends[1];
    out_.Attach(copy);
    error_ = 0;
    thread_ = std::thread([this] { Run(); });
    return writeFd_;
}

void StreamRelay::Run() {
    std::vector<std::uint8_t> buffer(1 << 16);
    bool writing = true;
    for (;;) {
        const ssize_t n = ::read(readFd_, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n < 0 && error_ == 0)
                error_ = errno;
            break;
        }
        if (writing && !out_.Write(buffer.data(), std::size_t(n))) {
            writing = false;
            error_ = out_.Error();
        }
    }
    if (!out_.Close() && writing && error_ == 0)
        error_ = out_.Error();
    ::close(readFd_);
}

int StreamRelay::Finish() {
    if (writeFd_ >= 0)
        ::close(writeFd_);
    writeFd_ = -1;
    if (thread_.joinable())
        thread_.join();
    readFd_ = -1;
    return error_;
}

} // namespace tandrel
