#include "join/QueuedWriter.h"

namespace tandrel {

QueuedWriter::QueuedWriter(FrameWriter &inner, bool threaded, std::size_t chunkBytes)
    : inner_(inner), chunkBytes_(chunkBytes) {
    if (threaded)
        thread_ = std::thread([this] { Loop(); });
}

bool QueuedWriter::Write(const std::uint8_t *data, std::size_t count) {
    if (dropping_)
        return true;
    if (!thread_.joinable())
        return inner_.Write(data, count);
    current_.insert(current_.end(), data, data + count);
    if (current_.size() >= chunkBytes_)
        Push();
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
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return queue_.size() < kChunks; });
    queue_.push_back(std::move(current_));
    current_ = std::vector<std::uint8_t>();
    if (!spare_.empty()) {
        current_ = std::move(spare_.back());
        spare_.pop_back();
    }
    current_.clear();
    wake_.notify_all();
}

void QueuedWriter::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return done_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        std::vector<std::uint8_t> chunk = std::move(queue_.front());
        queue_.pop_front();
        writing_ = true;
        room_.notify_all();
        lock.unlock();
        if (!failed_ && !dropping_ && !inner_.Write(chunk.data(), chunk.size()))
            failed_ = true;
        lock.lock();
        writing_ = false;
        spare_.push_back(std::move(chunk));
        room_.notify_all();
    }
}

} // namespace tandrel
