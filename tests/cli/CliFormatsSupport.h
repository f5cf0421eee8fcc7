#pragma once

// Inputs in every format, made at test time with ffmpeg, and what tandrel-join says of them.
#include "CliTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace fmttest {

using testutil::Quote;
using testutil::TempDir;

// Makes name in dir with ffmpeg: args are what comes before the output's name. Fails the test
// when ffmpeg cannot.
inline std::string Ffmpeg(const TempDir &dir, const std::string &name, const std::string &args) {
    const std::string path = dir.File(name);
    const auto r = testutil::Run("ffmpeg -v error -y " + args + " " + Quote(path));
    EXPECT_EQ(r.exitCode, 0) << name << ": " << r.output;
    return path;
}

// Lavfi sources for Ffmpeg: a tone with noise on it, which uses every bit of a sample, each
// channel its own; and a plain tone.
inline std::string Noise(int rate, double seconds, int channels = 2) {
    std::ostringstream s;
    s << "aevalsrc=0.5*sin(2*PI*440*t)+0.3*(random(0)*2-1)";
    for (int c = 1; c < channels; ++c)
        s << "|0.3*(random(" << c << ")*2-1)";
    s << ":s=" << rate << ":d=" << seconds;
    return "-f lavfi -i " + Quote(s.str());
}
inline std::string Tone(int rate, double seconds, int channels = 2) {
    std::ostringstream s;
    s << "-f lavfi -i sine=f=440:r=" << rate << ":d=" << seconds << " -ac " << channels;
    return s.str();
}

// ffmpeg's own decode of path's first audio stream as raw samples (s16le, s24le, s32le).
inline std::string Raw(const std::string &path, const std::string &format) {
    return testutil::Run("ffmpeg -v error -i " + Quote(path) + " -map 0:a:0 -f " + format +
                         " - 2>/dev/null")
        .output;
}

// The body of a WAV file's "data" chunk; empty when it has none.
inline std::string WavData(const std::string &path) {
    const std::string bytes = testutil::ReadFile(path);
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::uint64_t size = testutil::GetLE32(bytes, at + 4);
        if (bytes.compare(at, 4, "data") == 0)
            return bytes.substr(at + 8, std::size_t(size));
        at += 8 + size + (size & 1);
    }
    return {};
}

// The bits per sample a WAV file's header states.
inline int WavBits(const std::string &path) {
    const std::string head = testutil::ReadFile(path).substr(0, 36);
    return head.size() < 36 ? 0 : std::uint8_t(head[34]) | std::uint8_t(head[35]) << 8;
}

// Where two byte strings first differ, for a failure's message.
inline std::string Difference(const std::string &a, const std::string &b) {
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) +
           ", first difference at byte " + std::to_string(at);
}

// Runs tandrel-join in cwd, killed after seconds (exit code 137 then).
inline clitest::CliResult RunTimed(const std::string &cwd, const std::vector<std::string> &args,
                                   int seconds = 60) {
    TempDir capture;
    std::string line = "cd " + Quote(cwd) + " && timeout -s KILL " + std::to_string(seconds) + " " +
                       Quote(clitest::Cli());
    for (const std::string &a : args)
        line.append(" ").append(Quote(a));
    line += " >" + capture.File("out") + " 2>" + capture.File("err");
    clitest::CliResult r;
    r.exitCode = testutil::Run("(" + line + ")").exitCode;
    r.out = testutil::ReadFile(capture.File("out"));
    r.err = testutil::ReadFile(capture.File("err"));
    return r;
}

// Joins inputs alone into the WAV file out, replacing it.
inline clitest::CliResult JoinWav(const TempDir &dir, const std::string &out,
                                  const std::vector<std::string> &inputs) {
    std::vector<std::string> args{"-q", "--force", "-o", out};
    args.insert(args.end(), inputs.begin(), inputs.end());
    return RunTimed(dir.Path(), args);
}

// Whether a join ended well; a test failure saying why when not.
inline bool Joined(const clitest::CliResult &join) {
    EXPECT_EQ(join.exitCode, 0) << join.err;
    return join.exitCode == 0;
}

// One input's row of the JSON listing.
struct Row {
    std::string verdict, reason, container, codec;
    int bits = 0, rate = 0, channels = 0;
    std::uint64_t frames = 0;
    bool exact = false;
};

// The objects of a JSON listing's "inputs" array, as text.
inline std::vector<std::string> JsonInputs(const std::string &json) {
    std::vector<std::string> objects;
    int depth = 0;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t at = json.find("\"inputs\""); at < json.size(); ++at) {
        const char c = json[at];
        if (quoted) {
            at += c == '\\';
            quoted = c != '"';
        } else if (c == '"') {
            quoted = true;
        } else if (c == '{' && depth++ == 0) {
            start = at;
        } else if (c == '}' && --depth == 0) {
            objects.push_back(json.substr(start, at + 1 - start));
        } else if (c == ']' && depth == 0) {
            break;
        }
    }
    return objects;
}

// The value of key in a JSON object's text: a string's characters, else the bare token.
inline std::string JsonField(const std::string &object, const std::string &key) {
    std::size_t at = object.find("\"" + key + "\":");
    at = at == std::string::npos ? at : object.find_first_not_of(" \n", at + key.size() + 3);
    if (at == std::string::npos)
        return {};
    if (object[at] != '"')
        return object.substr(at, object.find_first_of(",\n}", at) - at);
    std::string value;
    for (++at; at < object.size() && object[at] != '"'; ++at) {
        at += object[at] == '\\';
        value += object[at];
    }
    return value;
}

inline std::vector<Row> List(const TempDir &dir, const std::vector<std::string> &inputs) {
    std::vector<std::string> args{"--list", "--json"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    const std::string json = RunTimed(dir.Path(), args).out;
    std::vector<Row> rows;
    for (const std::string &o : JsonInputs(json)) {
        const auto number = [&](const char *key) {
            return std::strtoull(JsonField(o, key).c_str(), nullptr, 10);
        };
        rows.push_back({JsonField(o, "verdict"), JsonField(o, "reason"), JsonField(o, "container"),
                        JsonField(o, "codec"), int(number("bits")), int(number("sample_rate")),
                        int(number("channels")), number("duration_frames"),
                        JsonField(o, "duration_exact") == "true"});
    }
    EXPECT_EQ(rows.size(), inputs.size()) << json;
    rows.resize(inputs.size());
    return rows;
}

inline Row ListOne(const TempDir &dir, const std::string &input) {
    return List(dir, {input})[0];
}

} // namespace fmttest
