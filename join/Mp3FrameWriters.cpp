#include "join/Mp3FrameWriters.h"

namespace tandrel {

QueuedWriter::QueuedWriter(FrameWriter &inner, bool threaded) : inner_(inner) {
    if (threaded)
        thread_ = std::thread([this] { Loop(); });
}

bool QueuedWriter::Write(const std::uint8_t *data, std::size_t count) {
    if (!thread_.joinable())
        return inner_.Write(data, count);
    current_.insert(current_.end(), data, data + count);
    if (current_.size() >= kChunk)
        Push();
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
        room_.notify_all();
        lock.unlock();
        if (!failed_ && !inner_.Write(chunk.data(), chunk.size()))
            failed_ = true;
        lock.lock();
        spare_.push_back(std::move(chunk));
    }
}

} // namespace tandrel
