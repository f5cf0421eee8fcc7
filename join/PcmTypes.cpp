#include "join/PcmTypes.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <vector>

namespace tandrel {

RangeResult WriteRange(PcmSink &sink, int fd, std::uint64_t offset, std::uint64_t count,
                       std::size_t piece) {
    RangeResult r;
    std::vector<std::uint8_t> buffer(std::max<std::size_t>(piece, 1));
    while (r.bytes < count) {
        const std::size_t want =
            std::size_t(std::min<std::uint64_t>(count - r.bytes, buffer.size()));
        const ssize_t n = ::pread(fd, buffer.data(), want, off_t(offset + r.bytes));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            r.readError = n < 0 ? errno : 0;
            break;
        }
        if (!sink.Write(buffer.data(), std::size_t(n))) {
            r.ok = false;
            break;
        }
        r.bytes += std::uint64_t(n);
    }
    return r;
}

RangeResult PcmSink::TakeRange(int fd, std::uint64_t offset, std::uint64_t count) {
    return WriteRange(*this, fd, offset, count, 64 * 1024);
}

} // namespace tandrel
