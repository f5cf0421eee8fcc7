#pragma once

#include "join/PcmTypes.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tandrel {

// Puts an encoder stage that takes signed 16-bit PCM behind PCM of the join's target width:
// 8-bit samples become one 16-bit sample each, 24- and 32-bit ones are rounded to 16 bits.
// One encoder chunk of 16-bit samples goes out per Write (a larger Write is split).
class Pcm16Feed : public OutputSink {
public:
    explicit Pcm16Feed(OutputSink &encoder) : encoder_(encoder) {}
    bool Open(const OutputTarget &target, const PcmFormat &format,
              std::int64_t expectedBytes) override;
    // Input bytes that make one encoder chunk.
    std::size_t ChunkBytes() const override { return inChunk_; }
    bool Write(const std::uint8_t *data, std::size_t count) override;
    void Stop() override { encoder_.Stop(); }
    bool WorksInWrite() const override { return encoder_.WorksInWrite(); }
    void SetMetadata(const OutputMetadata &metadata) override { encoder_.SetMetadata(metadata); }
    void SetChapters(const std::vector<Chapter> &chapters) override {
        encoder_.SetChapters(chapters);
    }
    std::uint64_t Unfinished() const override {
        return encoder_.Unfinished() / 2 * std::uint64_t(std::max(1, bits_ / 8));
    }
    bool Close() override { return encoder_.Close(); }

private:
    OutputSink &encoder_;
    int bits_ = 16;
    std::size_t inChunk_ = 0;
    std::vector<std::int16_t> samples_;
};

} // namespace tandrel
