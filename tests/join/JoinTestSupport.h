#pragma once

#include "TestUtil.h"
#include "audio/Probe.h"
#include "common/Messages.h"
#include "join/JoinPipeline.h"
#include "join/PcmTypes.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace jointest {

// Collects PCM as a string.
class StringSink : public tandrel::PcmSink {
public:
    bool Write(const std::uint8_t *data, std::size_t count) override {
        bytes.append(reinterpret_cast<const char *>(data), count);
        return true;
    }
    std::string bytes;
};

// Records every message while installed.
class MessageLog : public tandrel::MessageSink {
public:
    MessageLog() { previous_ = tandrel::SetMessages(this); }
    ~MessageLog() override { tandrel::SetMessages(previous_); }
    tandrel::MsgAnswer Show(const std::string &caption, const std::string &text, tandrel::MsgIcon,
                            tandrel::MsgButtons) override {
        shown.push_back(caption + ": " + text);
        return tandrel::MsgAnswer::Ok;
    }
    std::vector<std::string> shown;

private:
    tandrel::MessageSink *previous_;
};

inline std::string Samples16(const std::vector<int> &values) {
    std::string out;
    for (int v : values) {
        out += char(v & 0xFF);
        out += char((v >> 8) & 0xFF);
    }
    return out;
}

// A progress dialog that records everything and asks to stop at its stopAt-th event check.
class Recorder : public tandrel::JoinProgress {
public:
    void SetLabel(const std::string &text) override { labels.push_back(text); }
    void Progress1(int percent) override { bar1.push_back(percent); }
    void Progress2(int percent) override { bar2.push_back(percent); }
    bool ProcessEventsAndShouldStop() override { return ++checks >= stopAt && stopAt > 0; }
    std::vector<std::string> labels;
    std::vector<int> bar1, bar2;
    int checks = 0;
    int stopAt = 0;
};

// The data chunk of a RIFF/WAVE file.
inline std::string DataChunk(const std::string &wav) {
    std::size_t at = 12;
    while (at + 8 <= wav.size()) {
        const std::uint32_t size = testutil::GetLE32(wav, at + 4);
        if (wav.compare(at, 4, "data") == 0)
            return wav.substr(at + 8, size);
        at += 8 + size + (size & 1);
    }
    return "";
}

using testutil::Listing;

// A tmpfs of its own at path (root only), e.g. "size=1m" for a disk that fills up.
class SmallDisk {
public:
    explicit SmallDisk(const std::string &path, const std::string &options = "size=1m")
        : path_(path) {
        mkdir(path.c_str(), 0700);
        mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_)
            umount2(path_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;
    bool Mounted() const { return mounted_; }

private:
    std::string path_;
    bool mounted_;
};

using testutil::WavFile;

// The row the window lists for the file.
inline tandrel::JoinInput Listed(const std::string &path) {
    tandrel::Track f;
    EXPECT_EQ(tandrel::ProbeFile(path, f), tandrel::Refusal::None) << path;
    return {path, {int(f.sampleRate), int(f.channels), int(f.bits)}, f.exactBytes, f.reader};
}

inline tandrel::JoinRequest WavJoin(const testutil::TempDir &tmp,
                                    std::vector<tandrel::JoinInput> inputs,
                                    const std::string &output) {
    tandrel::JoinRequest r;
    std::vector<tandrel::PcmFormat> rows;
    for (const auto &in : inputs)
        rows.push_back(in.format);
    r.inputs = std::move(inputs);
    r.target = tandrel::ComputeTargetFormat(rows);
    r.output.kind = tandrel::OutputKind::Wav;
    r.output.path = output;
    r.tempPcmPath = tmp.File("AudioTemp.pcm");
    return r;
}

} // namespace jointest
