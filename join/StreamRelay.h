#pragma once

#include "common/FileIo.h"

#include <atomic>
#include <thread>

namespace tandrel {

// Carries what a library writes into a pipe of ours on to a stream (FIFO, socket, device),
// through writes that a join's stop can end: a library blocked on a reader that never reads
// could not hear the stop itself. After a stop or a failure, what the library writes is taken
// and dropped, so that it never waits and never meets a broken pipe.
class StreamRelay {
public:
    StreamRelay() = default;
    ~StreamRelay();
    StreamRelay(const StreamRelay &) = delete;
    StreamRelay &operator=(const StreamRelay &) = delete;

    // Starts relaying into a duplicate of out; the descriptor the library writes to, or -1 with
    // errno set. It stays ours: Finish closes it.
    int Start(int out);
    // Closes the library's end, waits until everything has reached the stream and gives 0 or
    // the errno of the first failure (ECANCELED after a stop).
    int Finish();
    // The errno of the first failure so far, 0 while all is well.
    int Error() const { return error_; }

private:
    void Run();

    int readFd_ = -1;
    int writeFd_ = -1;
    BufferedWriter out_{1 << 16};
    std::thread thread_;
    std::atomic<int> error_{0};
};

} // namespace tandrel
