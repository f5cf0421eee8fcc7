// Times probing many MP3 files the way adding them to the list does.
// Usage: probe_bench [folder-with-mp3-files]
// Without a folder it makes 500 files of four minutes (hard links to a few encodings) in a
// temporary folder and removes them afterwards.

#include "audio/Decoder.h"
#include "audio/Decoding.h"
#include "audio/Probe.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Make(const fs::path &folder, std::vector<std::string> &names) {
    const char *encodings[] = {"-b 128", "-V 2", "-b 192 --add-id3v2 --tt Title", "-m m -b 64",
                               "-b 320"};
    std::vector<fs::path> sources;
    for (int i = 0; i < 5; ++i) {
        fs::path out = folder / ("source" + std::to_string(i) + ".mp3");
        std::string cmd = "sox -r 44100 -c 2 -n -b 16 -t wav - synth 240 sine " +
                          std::to_string(220 + 110 * i) + " vol 0.3 2>/dev/null | lame --quiet " +
                          encodings[i] + " - '" + out.string() + "'";
        if (std::system(cmd.c_str()) != 0)
            return false;
        sources.push_back(out);
    }
    for (int i = 0; i < 500; ++i) {
        fs::path name = folder / ("Track " + std::to_string(500 - i) + ".mp3");
        fs::create_hard_link(sources[i % sources.size()], name);
        names.push_back(name.string());
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    fs::path folder;
    bool own = argc < 2;
    std::vector<std::string> names;
    if (own) {
        folder = fs::temp_directory_path() / ("probe-bench-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        std::printf("making 500 MP3 files of 4 minutes in %s ...\n", folder.c_str());
        if (!Make(folder, names)) {
            std::fprintf(stderr, "could not make the test files (sox and lame needed)\n");
            fs::remove_all(folder);
            return 1;
        }
    } else {
        folder = argv[1];
        for (const auto &e : fs::directory_iterator(folder))
            if (tandrel::HasAudioExtension(e.path().string()))
                names.push_back(e.path().string());
    }
    if (!tandrel::InitDecoding()) {
        std::fprintf(stderr, "the decoding layer did not start\n");
        return 1;
    }

    auto start = Clock::now();
    tandrel::SortNamesForAdding(names);
    std::size_t added = 0;
    std::uint64_t seconds = 0;
    for (const std::string &name : names) {
        tandrel::Track file;
        if (tandrel::ProbeFile(name, file) != tandrel::Refusal::None)
            continue;
        tandrel::RowTexts row = tandrel::BuildRow(name, file, "Bits", "Mono", "Stereo");
        seconds += std::stoull(row.subItems[9]);
        ++added;
    }
    double probe = Since(start);
    std::printf("probed %zu files (%zu added, %s of audio) in %.3f s, %.2f ms per file\n",
                names.size(), added, tandrel::StatusTimeText(seconds).c_str(), probe,
                names.empty() ? 0.0 : probe * 1000 / names.size());

    // For comparison: what decoding one whole file costs.
    if (!names.empty()) {
        start = Clock::now();
        const std::string &first = names.front();
        auto decoder = tandrel::Decoder::Open(first, tandrel::ReaderFor(first));
        static std::uint8_t block[20480];
        while (decoder && decoder->HasData())
            decoder->Read(block, sizeof block);
        std::printf("decoding one whole file for comparison: %.3f s\n", Since(start));
    }
    tandrel::EndDecoding();
    if (own)
        fs::remove_all(folder);
    return 0;
}
