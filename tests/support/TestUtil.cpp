#include "TestUtil.h"
#include "WavBytes.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testutil {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tandrel-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

std::string MakeFullDevice(const TempDir &dir) {
    const std::string path = dir.File("full-device");
    return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0 ? path : "";
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string TempDir::File(const std::string &name) const {
    return path_ + "/" + name;
}

CommandResult Run(const std::string &commandLine) {
    CommandResult result;
    FILE *pipe = popen((commandLine + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0)
        result.output.append(buf.data(), n);
    int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Quote(const std::string &text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::vector<std::string> Listing(const std::string &dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFile(const std::string &path, const std::string &bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::uint64_t FileSize(const std::string &path) {
    return fs::file_size(path);
}

bool Exists(const std::string &path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

void PutLE16(std::string &out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void PutLE32(std::string &out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint32_t GetLE32(const std::string &b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(b.at(at + i));
    return v;
}

std::uint16_t BitwiseCrc16(std::uint16_t crc, const std::uint8_t *data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    return crc;
}

std::string BuildWav(const WavLayout &s) {
    std::string fmt = wavbytes::FormatBody(s.formatTag, s.channels, s.sampleRate, s.bits);
    fmt.resize(s.formatSize, '\0');
    std::string chunks = wavbytes::ChunkHeader("fmt ", s.formatSize) + fmt;
    for (const auto &[id, body] : s.extraChunks)
        chunks += wavbytes::Chunk(id, body, false);
    const std::int64_t declared =
        s.declaredDataSize >= 0 ? s.declaredDataSize : std::int64_t(s.data.size());
    return wavbytes::Riff(chunks + wavbytes::ChunkHeader("data", std::uint32_t(declared)) + s.data);
}

std::string WavFile(const TempDir &dir, const std::string &name, std::size_t bytes, char fill,
                    std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    WavLayout wav;
    wav.channels = channels;
    wav.sampleRate = rate;
    wav.bits = bits;
    wav.data = std::string(bytes, fill);
    WriteFile(dir.File(name), BuildWav(wav));
    return dir.File(name);
}

std::string BinDir() {
    const char *dir = std::getenv("TANDREL_BIN_DIR");
    return dir ? dir : ".";
}

std::string ProbeStreamField(const std::string &path, const std::string &field) {
    auto r = Run("ffprobe -v error -select_streams a:0 -show_entries stream=" + field +
                 " -of default=nw=1:nk=1 " + Quote(path));
    std::string v = r.output;
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r'))
        v.pop_back();
    return r.exitCode == 0 ? v : std::string();
}

std::map<std::string, std::string> ProbeTags(const std::string &path) {
    std::istringstream lines(
        Run("ffprobe -v error -show_entries format_tags -of default=nw=1 " + Quote(path)).output);
    std::map<std::string, std::string> tags;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t eq = line.find('=');
        if (line.rfind("TAG:", 0) != 0 || eq == std::string::npos)
            continue;
        std::string name = line.substr(4, eq - 4);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        tags[name] = line.substr(eq + 1);
    }
    return tags;
}

std::vector<std::pair<double, std::string>> ProbeChapters(const std::string &path) {
    std::istringstream lines(Run("ffprobe -v error -show_entries "
                                 "chapter=start_time:chapter_tags=title -of csv=p=0 " +
                                 Quote(path))
                                 .output);
    std::vector<std::pair<double, std::string>> chapters;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t comma = line.find(',');
        try {
            chapters.emplace_back(std::stod(line.substr(0, comma)),
                                  comma == std::string::npos ? "" : line.substr(comma + 1));
        } catch (...) {
            chapters.emplace_back(-1, line);
        }
    }
    return chapters;
}

double ProbeDuration(const std::string &path) {
    auto r =
        Run("ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 " + Quote(path));
    if (r.exitCode != 0)
        return -1;
    try {
        return std::stod(r.output);
    } catch (...) {
        return -1;
    }
}

std::vector<std::int16_t> Decode(const std::string &path, int channels) {
    TempDir dir;
    const std::string raw = dir.File("decoded.raw");
    if (Run("ffmpeg -v error -i " + Quote(path) + " -f s16le -ac " + std::to_string(channels) +
            " " + Quote(raw))
            .exitCode != 0)
        return {};
    const std::string bytes = ReadFile(raw);
    std::vector<std::int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    return pcm;
}

std::string DecoderComplaints(const std::string &path) {
    const std::string q = Quote(path);
    return Run("ffmpeg -v warning -i " + q + " -f null - 2>&1; mpg123 -t " + q +
               " 2>&1 | grep -i -E 'warn|error|illegal|bad|junk'")
        .output;
}

Mp3Stream ParseMp3(const std::string &file, unsigned flags) {
    Mp3Stream s;
    const auto *data = reinterpret_cast<const std::uint8_t *>(file.data());
    for (std::size_t at = 0; at < file.size();) {
        mp3::FrameHeader h;
        if (!mp3::ParseHeader(data + at, file.size() - at, h) || at + h.length > file.size()) {
            s.parsed = false;
            break;
        }
        const std::uint8_t *f = data + at;
        s.flagsKept = s.flagsKept && bool(f[3] & 8) == bool(flags & 1) &&
                      h.crc == bool(flags & 2) && bool(f[3] & 4) == bool(flags & 4) &&
                      bool(f[2] & 1) == bool(flags & 8);
        if (at == 0 && std::memcmp(f + 4 + h.sideInfo, "Info", 4) == 0) {
            const std::uint8_t *x = f + 4 + h.sideInfo;
            s.info = true;
            s.infoFrames = std::uint32_t(x[8] << 24 | x[9] << 16 | x[10] << 8 | x[11]);
            s.infoBytes = std::uint32_t(x[12] << 24 | x[13] << 16 | x[14] << 8 | x[15]);
            s.padding = (x[120 + 22] & 15) << 8 | x[120 + 23];
        } else {
            if (h.crc)
                s.crcsValid = s.crcsValid && mp3::HeaderCrc(f, 6, h.sideInfo) == (f[4] << 8 | f[5]);
            s.frames.push_back(h);
            s.audio.append(file, at, h.length);
        }
        at += h.length;
    }
    return s;
}

} // namespace testutil
