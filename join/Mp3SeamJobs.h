#pragma once

#include "join/Mp3Bridge.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tandrel {

// One seam of a frame-keeping join: the first input's last frames, the second's first ones,
// and the bridge Mp3Bridger::Bridge made of them.
struct SeamJob {
    SeamSide a, b;
    mp3::EncodedRun bridge;
    Mp3Seam seam;
    BridgeResult result = BridgeResult::Failed;
};

// Bridges seams in the order they are added, on a thread of its own when threaded, and on the
// caller's thread while it waits for one. A bridge depends on its own job only, so the output
// is the same whichever thread makes it.
class SeamJobs {
public:
    using Bridgers = std::function<std::unique_ptr<Mp3Bridger>()>;
    SeamJobs(Bridgers make, bool threaded, const std::atomic<bool> &stop);
    ~SeamJobs(); // lets a bridge being made end, and makes no more
    SeamJobs(const SeamJobs &) = delete;
    SeamJobs &operator=(const SeamJobs &) = delete;

    void Add(std::unique_ptr<SeamJob> job);
    // Job `index` (counted in the order added) once bridged; the caller owns it from then on.
    std::unique_ptr<SeamJob> Take(std::size_t index);
    // Whether Take(index) would return at once.
    bool Done(std::size_t index);

private:
    enum class State { Waiting, Running, Done };
    void Loop();
    // Bridges the first waiting job from `from` on with bridger; false when none waits.
    bool RunWaiting(std::unique_lock<std::mutex> &lock, std::unique_ptr<Mp3Bridger> &bridger,
                    std::size_t from);

    Bridgers make_;
    const std::atomic<bool> &stop_;
    std::unique_ptr<Mp3Bridger> callers_; // the bridger of the thread that takes the jobs
    std::vector<std::unique_ptr<SeamJob>> jobs_;
    std::vector<State> states_;
    std::size_t waitingFrom_ = 0; // no job before it waits
    std::mutex mutex_;
    std::condition_variable changed_;
    bool quit_ = false;
    std::thread thread_;
};

} // namespace tandrel
