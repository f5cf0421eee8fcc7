#include "join/Mp3SeamJobs.h"

#include <algorithm>
#include <system_error>

namespace tandrel {

SeamJobs::SeamJobs(Bridgers make, bool threaded, const std::atomic<bool> &stop)
    : make_(std::move(make)), stop_(stop) {
    if (!threaded)
        return;
    try {
        thread_ = std::thread([this] { Loop(); });
    } catch (const std::system_error &) {
        // Without a thread the caller makes every bridge.
    }
}

SeamJobs::~SeamJobs() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void SeamJobs::Add(std::unique_ptr<SeamJob> job) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
        states_.push_back(State::Waiting);
    }
    changed_.notify_all();
}

bool SeamJobs::RunWaiting(std::unique_lock<std::mutex> &lock, std::unique_ptr<Mp3Bridger> &bridger,
                          std::size_t from) {
    while (waitingFrom_ < states_.size() && states_[waitingFrom_] != State::Waiting)
        ++waitingFrom_;
    std::size_t k = std::max(from, waitingFrom_);
    while (k < states_.size() && states_[k] != State::Waiting)
        ++k;
    if (k >= states_.size())
        return false;
    states_[k] = State::Running;
    SeamJob &job = *jobs_[k];
    lock.unlock();
    if (!bridger)
        bridger = make_();
    job.result = bridger->Bridge(job.a, job.b, job.bridge, job.seam, stop_);
    lock.lock();
    states_[k] = State::Done;
    changed_.notify_all();
    return true;
}

void SeamJobs::Loop() {
    std::unique_ptr<Mp3Bridger> bridger;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_)
        if (!RunWaiting(lock, bridger, 0))
            changed_.wait(lock);
}

bool SeamJobs::Done(std::size_t index) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return states_.at(index) == State::Done;
}

std::unique_ptr<SeamJob> SeamJobs::Take(std::size_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (states_.at(index) != State::Done) {
        // While the other thread makes this one, the next waiting one is made here.
        const std::size_t from = states_[index] == State::Waiting ? index : index + 1;
        if (!RunWaiting(lock, callers_, from))
            changed_.wait(lock);
    }
    return std::move(jobs_[index]);
}

} // namespace tandrel
