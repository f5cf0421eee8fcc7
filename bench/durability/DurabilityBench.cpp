// What it costs to bring the output to the disk before it takes its name: writes MB megabytes
// through the output file with and without syncing, as a new file, over an existing one and
// into a file of two names, beside dd with and without conv=fsync. Medians of ROUNDS rounds,
// the page cache flushed (sync) before each run.
//   durability_bench FOLDER [MB] [ROUNDS]
#include "join/OutputFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum class Kind { New, Replace, TwoNames };

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

bool Fill(const std::string &path, std::size_t mb) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const std::vector<char> block(1 << 20, 'x');
    for (std::size_t i = 0; i < mb; ++i)
        std::fwrite(block.data(), 1, block.size(), f);
    return std::fclose(f) == 0;
}

double WriteThrough(const std::string &folder, Kind kind, bool durable, std::size_t mb) {
    const std::string out = folder + "/out.bin", other = folder + "/other.bin";
    ::unlink(out.c_str());
    ::unlink(other.c_str());
    if (kind != Kind::New)
        Fill(out, mb);
    if (kind == Kind::TwoNames)
        ::link(out.c_str(), other.c_str());
    ::sync();
    static const std::vector<char> block(1 << 20, 'y');
    const auto start = Clock::now();
    tandrel::OutputFile file;
    if (!file.Open(out, nullptr, {durable, folder}))
        return -1;
    for (std::size_t i = 0; i < mb; ++i)
        if (::write(file.Fd(), block.data(), block.size()) != ssize_t(block.size()))
            return -1;
    if (!file.Commit())
        return -1;
    return Seconds(start);
}

double Dd(const std::string &folder, bool fsync, std::size_t mb) {
    ::unlink((folder + "/dd.bin").c_str());
    ::sync();
    const std::string cmd = "dd if=/dev/zero of='" + folder +
                            "/dd.bin' bs=1M count=" + std::to_string(mb) +
                            (fsync ? " conv=fsync" : "") + " 2>/dev/null";
    const auto start = Clock::now();
    return std::system(cmd.c_str()) == 0 ? Seconds(start) : -1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: durability_bench FOLDER [MB] [ROUNDS]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::size_t mb = argc > 2 ? std::size_t(std::atoi(argv[2])) : 256;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    struct Job {
        const char *name;
        Kind kind;
        bool dd;
    };
    const Job jobs[] = {{"new file", Kind::New, false},
                        {"over an existing file", Kind::Replace, false},
                        {"into a file of two names", Kind::TwoNames, false},
                        {"dd", Kind::New, true}};
    std::printf("%zu MB, %d rounds, medians in seconds\n", mb, rounds);
    std::printf("%-26s %10s %10s %8s\n", "job", "synced", "unsynced", "ratio");
    for (const Job &job : jobs) {
        std::vector<double> synced, unsynced;
        for (int r = 0; r < rounds; ++r) {
            // Side by side in every round, so that the machine's noise hits both alike.
            for (bool durable : {true, false}) {
                const double t =
                    job.dd ? Dd(folder, durable, mb) : WriteThrough(folder, job.kind, durable, mb);
                if (t < 0) {
                    std::fprintf(stderr, "%s failed\n", job.name);
                    return 1;
                }
                (durable ? synced : unsynced).push_back(t);
            }
        }
        std::printf("%-26s %10.3f %10.3f %7.2fx\n", job.name, Median(synced), Median(unsynced),
                    Median(synced) / Median(unsynced));
    }
    for (const char *name : {"/out.bin", "/other.bin", "/dd.bin"})
        ::unlink((folder + name).c_str());
    return 0;
}
