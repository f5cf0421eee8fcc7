#include "join/QueuedWriter.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tandrel {

bool FrameWriter::CopyFrom(int fd, std::uint64_t offset, std::uint64_t count, std::uint16_t) {
    std::vector<std::uint8_t> piece(std::size_t(std::min<std::uint64_t>(count, 1 << 20)));
    for (std::uint64_t done = 0; done < count;) {
        const ssize_t n = ::pread(fd, piece.data(),
                                  std::size_t(std::min<std::uint64_t>(count - done, piece.size())),
                                  off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || !Write(piece.data(), std::size_t(n)))
            return false;
        done += std::uint64_t(n);
    }
    return true;
}

QueuedWriter::QueuedWriter(FrameWriter &inner, bool threaded, std::size_t chunkBytes)
    : inner_(inner), chunkBytes_(chunkBytes) {
    if (threaded)
        thread_ = std::thread([this] { Loop(); });
}

bool QueuedWriter::Write(const std::uint8_t *data, std::size_t count) {
    if (dropping_)
        return true;
    if (!thread_.joinable()) {
        if (!failed_ && !inner_.Write(data, count))
            failed_ = true;
        return !failed_;
    }
    current_.insert(current_.end(), data, data + count);
    if (current_.size() >= chunkBytes_)
        Push();
    return !failed_;
}

bool QueuedWriter::CopyFrom(int fd, std::uint64_t offset, std::uint64_t count, std::uint16_t crc) {
    if (dropping_)
        return true;
    const int copy = thread_.joinable() ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    if (copy < 0) { // one thread, or no descriptor to spare: copied here once the queue is done
        if (!Drain())
            return false;
        if (!inner_.CopyFrom(fd, offset, count, crc))
            failed_ = true;
        else
            ++copiesDone_;
        return !failed_;
    }
    if (!current_.empty())
        Push();
    Item item;
    item.fd = copy;
    item.offset = offset;
    item.count = count;
    item.crc = crc;
    Enqueue(std::move(item));
    return !failed_;
}

bool QueuedWriter::Drain() {
    if (thread_.joinable()) {
        if (!current_.empty())
            Push();
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [this] { return queue_.empty() && !writing_; });
    }
    return !failed_;
}

bool QueuedWriter::Finish() {
    if (thread_.joinable()) {
        Push();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    return !failed_;
}

void QueuedWriter::Push() {
    Item item;
    item.bytes = std::move(current_);
    Enqueue(std::move(item));
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = std::vector<std::uint8_t>();
    if (!spare_.empty()) {
        current_ = std::move(spare_.back());
        spare_.pop_back();
    }
    current_.clear();
}

void QueuedWriter::Enqueue(Item item) {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return queue_.size() < kChunks; });
    queue_.push_back(std::move(item));
    wake_.notify_all();
}

bool QueuedWriter::WriteItem(Item &item) {
    if (item.fd < 0)
        return inner_.Write(item.bytes.data(), item.bytes.size());
    const bool copied = inner_.CopyFrom(item.fd, item.offset, item.count, item.crc);
    ::close(item.fd);
    item.fd = -1;
    copiesDone_ += copied ? 1 : 0;
    return copied;
}

void QueuedWriter::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return done_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        Item item = std::move(queue_.front());
        queue_.pop_front();
        writing_ = true;
        room_.notify_all();
        lock.unlock();
        if (!failed_ && !dropping_ && !WriteItem(item))
            failed_ = true;
        if (item.fd >= 0)
            ::close(item.fd);
        lock.lock();
        writing_ = false;
        if (item.fd < 0 && item.bytes.capacity() > 0)
            spare_.push_back(std::move(item.bytes));
        room_.notify_all();
    }
}

} // namespace tandrel
