// Joins WAV files of one format through the window's path (temporary file, then the WAV
// output stage) and prints the wall time and the peak resident memory.
//   join_bench [--direct] OUTPUT TEMPFOLDER INPUT.wav...
#include "join/JoinPipeline.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

// The dialog's work per block, kept as cheap as the window's must be.
class QuietProgress : public tandrel::JoinProgress {
public:
    void SetLabel(const std::string &) override {}
    void Progress1(int percent) override { last_ = percent; }
    void Progress2(int percent) override { last_ = percent; }
    bool ProcessEventsAndShouldStop() override { return false; }

private:
    volatile int last_ = 0;
};

} // namespace

int main(int argc, char **argv) {
    int first = 1;
    const bool direct = argc > 1 && std::strcmp(argv[1], "--direct") == 0;
    if (direct)
        ++first;
    if (argc - first < 3) {
        std::fprintf(stderr, "usage: join_bench [--direct] OUTPUT TEMPFOLDER INPUT.wav...\n");
        return 2;
    }
    tandrel::JoinRequest request;
    request.output.kind = tandrel::OutputKind::Wav;
    request.output.path = argv[first];
    request.tempPcmPath = std::string(argv[first + 1]) + "/AudioTemp.pcm";
    request.direct = direct;
    for (int i = first + 2; i < argc; ++i)
        request.inputs.push_back({argv[i], {44100, 2, 16}});
    request.target = {44100, 2, 16};

    QuietProgress progress;
    const auto start = std::chrono::steady_clock::now();
    const tandrel::JoinStatus status = tandrel::RunJoin(request, progress);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.3f %ld\n", seconds, usage.ru_maxrss / 1024);
    return status == tandrel::JoinStatus::Ok ? 0 : 1;
}
