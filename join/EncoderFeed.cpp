#include "join/EncoderFeed.h"

#include "join/Convert.h"

#include <algorithm>

namespace tandrel {

bool Pcm16Feed::Open(const OutputTarget &target, const PcmFormat &format,
                     std::int64_t expectedBytes) {
    bits_ = format.bits;
    const std::size_t width = std::size_t(std::max(1, bits_ / 8));
    const std::int64_t expected16 =
        expectedBytes < 0 ? -1 : expectedBytes / std::int64_t(width) * 2;
    if (!encoder_.Open(target, PcmFormat{format.sampleRate, format.channels, 16}, expected16))
        return false;
    // Whole frames per chunk, so that no chunk splits a left/right pair.
    const std::size_t channels = std::size_t(std::max(1, format.channels));
    const std::size_t samples = encoder_.ChunkBytes() / 2 / channels * channels;
    samples_.assign(bits_ == 16 ? 0 : samples, 0);
    inChunk_ = samples * width;
    if (inChunk_ == 0) {
        encoder_.Close();
        return false;
    }
    return true;
}

bool Pcm16Feed::Write(const std::uint8_t *data, std::size_t count) {
    while (count > 0) {
        const std::size_t take = std::min(count, inChunk_);
        if (bits_ == 16) {
            if (!encoder_.Write(data, take & ~std::size_t(1)))
                return false;
        } else {
            const std::size_t n = ConvertSamplesTo16(data, take, bits_, samples_.data());
            if (!encoder_.Write(reinterpret_cast<const std::uint8_t *>(samples_.data()), n * 2))
                return false;
        }
        data += take;
        count -= take;
    }
    return true;
}

} // namespace tandrel
