// Times WavToMp3 against the lame command line and WavToWma against ffmpeg on the same PCM.
// Usage: bench_encoders [seconds] (default 60); needs lame and ffmpeg on the PATH.

#include "common/Messages.h"
#include "encoders/Wavtomp3.h"
#include "encoders/Wavtowma.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

double Seconds(const std::function<bool()> &work) {
    const auto start = std::chrono::steady_clock::now();
    if (!work())
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool MakeRaw(const std::string &path, int seconds);

void PutLE(std::FILE *f, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        std::fputc(static_cast<int>((v >> (8 * i)) & 0xFF), f);
}

// Writes the PCM once headerless (for the encoder classes) and once as WAV (for the tools).
bool MakePcm(const std::string &path, const std::string &wav, int seconds) {
    if (!MakeRaw(path, seconds))
        return false;
    std::FILE *in = std::fopen(path.c_str(), "rb");
    std::FILE *out = std::fopen(wav.c_str(), "wb");
    if (!in || !out)
        return false;
    const std::uint32_t size = 44100u * 4 * static_cast<std::uint32_t>(seconds);
    std::fputs("RIFF", out);
    PutLE(out, size + 36, 4);
    std::fputs("WAVEfmt ", out);
    PutLE(out, 16, 4);
    PutLE(out, 1, 2);
    PutLE(out, 2, 2);
    PutLE(out, 44100, 4);
    PutLE(out, 44100 * 4, 4);
    PutLE(out, 4, 2);
    PutLE(out, 16, 2);
    std::fputs("data", out);
    PutLE(out, size, 4);
    std::vector<char> buffer(65536);
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
        std::fwrite(buffer.data(), 1, n, out);
    std::fclose(in);
    return std::fclose(out) == 0;
}

bool MakeRaw(const std::string &path, int seconds) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::mt19937 noise(1);
    std::normal_distribution<double> gauss(0, 600);
    std::vector<std::int16_t> block(2 * 4410);
    const long frames = 44100L * seconds;
    for (long i = 0; i < frames; i += 4410) {
        for (int k = 0; k < 4410; ++k) {
            const double t = double(i + k) / 44100;
            const double tone = 6000 * std::sin(2 * M_PI * (220 + 30 * std::sin(t)) * t) +
                                3000 * std::sin(2 * M_PI * 660 * t) +
                                1500 * std::sin(2 * M_PI * 3520 * t * (1 + 0.01 * std::sin(3 * t)));
            block[2 * k] = static_cast<std::int16_t>(tone + gauss(noise));
            block[2 * k + 1] = static_cast<std::int16_t>(0.8 * tone + gauss(noise));
        }
        std::fwrite(block.data(), 2, block.size(), f);
    }
    return std::fclose(f) == 0;
}

// Feeds the PCM file in the chunk size the encoder asks for, as the join does.
template <class Feed> bool FeedFile(const std::string &pcm, int chunk, Feed feed) {
    std::FILE *in = std::fopen(pcm.c_str(), "rb");
    if (!in || chunk <= 0)
        return false;
    std::vector<char> buffer(chunk);
    bool ok = true;
    std::size_t n;
    while (ok && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
        ok = feed(buffer.data(), n);
    std::fclose(in);
    return ok;
}

bool Sh(const std::string &command) {
    return std::system(command.c_str()) == 0;
}

} // namespace

int main(int argc, char **argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    char folderTemplate[] = "/tmp/tandrel-bench-XXXXXX";
    if (!mkdtemp(folderTemplate))
        return 1;
    const std::string dir = folderTemplate;
    const std::string pcm = dir + "/in.raw";
    const std::string wav = dir + "/in.wav";
    if (!MakePcm(pcm, wav, seconds))
        return 1;

    auto ourMp3 = [&] {
        WavToMp3 enc;
        const int chunk = enc.Open(dir + "/ours.mp3", 44100, 1, 128, false, false, false, false);
        bool ok = FeedFile(pcm, chunk, [&](const char *p, std::size_t n) {
            return enc.Encode(p, static_cast<int>(n)) >= 0;
        });
        return enc.Close() && ok;
    };
    auto lameMp3 = [&] {
        return Sh("lame --quiet --noreplaygain -b 128 -m s " + wav + " " + dir + "/lame.mp3");
    };
    auto ourWma = [&] {
        WavToWma enc;
        const int chunk = enc.Open(dir + "/ours.wma", 44100, 2, 96000);
        bool ok = FeedFile(pcm, chunk, [&](const char *p, std::size_t n) {
            return enc.Write(p, static_cast<unsigned>(n));
        });
        return enc.Close() && ok;
    };
    auto ffmpegWma = [&] {
        return Sh("ffmpeg -v error -y -i " + wav + " -c:a wmav2 -b:a 96k " + dir + "/ffmpeg.wma");
    };

    // Alternate the runs and keep each one's best time, to even out the load of the machine.
    double best[4] = {1e9, 1e9, 1e9, 1e9};
    const std::function<bool()> runs[4] = {ourMp3, lameMp3, ourWma, ffmpegWma};
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 4; ++i) {
            const double s = Seconds(runs[i]);
            if (s < 0) {
                std::fprintf(stderr, "run %d failed\n", i);
                return 1;
            }
            best[i] = std::min(best[i], s);
        }
    }
    if (std::getenv("KEEP_BENCH_FILES"))
        std::printf("files kept in %s\n", dir.c_str());
    else
        Sh("rm -rf " + dir);
    std::printf("audio: %d s of 44100 Hz stereo 16-bit\n", seconds);
    std::printf("MP3 128 kbps  WavToMp3 %.3f s  lame %.3f s  ratio %.2f\n", best[0], best[1],
                best[0] / best[1]);
    std::printf("WMA 96 kbps   WavToWma %.3f s  ffmpeg %.3f s  ratio %.2f  (%.0fx realtime)\n",
                best[2], best[3], best[2] / best[3], seconds / best[2]);
    return 0;
}
