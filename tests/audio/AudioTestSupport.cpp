#include "AudioTestSupport.h"

#include "TestUtil.h"
#include "audio/Decoding.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace audiotest {

std::string MediaDir() {
    static testutil::TempDir dir;
    return dir.Path();
}

std::string ToneWav(std::uint64_t samples, int rate, int channels) {
    std::string name = "tone-" + std::to_string(samples) + "-" + std::to_string(rate) + "-" +
                       std::to_string(channels) + ".wav";
    std::string path = MediaDir() + "/" + name;
    if (!testutil::Exists(path)) {
        auto r = testutil::Run("sox -r " + std::to_string(rate) + " -c " +
                               std::to_string(channels) + " -n -b 16 " + testutil::Quote(path) +
                               " synth " + std::to_string(samples) + "s sine 440");
        EXPECT_EQ(r.exitCode, 0) << r.output;
    }
    return path;
}

std::string Media(const std::string &name, const std::string &command, std::uint64_t samples,
                  int rate, int channels) {
    std::string path = MediaDir() + "/" + name;
    if (testutil::Exists(path))
        return path;
    std::string line = command;
    auto replace = [&line](const std::string &key, const std::string &value) {
        for (std::size_t at; (at = line.find(key)) != std::string::npos;)
            line.replace(at, key.size(), value);
    };
    if (samples)
        replace("{in}", testutil::Quote(ToneWav(samples, rate, channels)));
    replace("{out}", testutil::Quote(path));
    auto r = testutil::Run(line);
    EXPECT_EQ(r.exitCode, 0) << line << "\n" << r.output;
    return path;
}

void EnsureDecodingReady() {
    tandrel::SetDecodingInitFailureForTesting(false);
    if (!tandrel::DecodingReady()) {
        ASSERT_TRUE(tandrel::InitDecoding());
    }
}

} // namespace audiotest
