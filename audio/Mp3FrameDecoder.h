#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tandrel {

// Decodes layer III frames one by one into float samples with libmpg123 (no FFmpeg to load),
// as a decoder of the whole file does once its bit reservoir and filters have filled: each
// frame gives its own count of samples at the same 529-sample decoder delay, a frame that does
// not decode (damaged, or of another stream) gives silence, so positions stay on the grid.
class Mp3FrameDecoder {
public:
    Mp3FrameDecoder() = default;
    ~Mp3FrameDecoder();
    Mp3FrameDecoder(const Mp3FrameDecoder &) = delete;
    Mp3FrameDecoder &operator=(const Mp3FrameDecoder &) = delete;

    // A fresh decoder for channels (1 or 2) and frames of frameSamples; false when the
    // library gives none.
    bool Open(int channels, int frameSamples);
    // Appends the frame's interleaved samples (frameSamples per channel) to out.
    void Decode(const std::uint8_t *frame, std::size_t bytes, std::vector<float> &out);

private:
    void Close();
    void Prime(const std::uint8_t *frame, std::size_t bytes);
    template <typename Take> void Feed(Take take);

    void *handle_ = nullptr;
    int channels_ = 2;
    int frameSamples_ = 1152;
    bool primed_ = false;
    bool ended_ = false; // the library's stream ended: the next frame starts a fresh one
    std::vector<std::uint8_t> input_; // the frame as decoded (emphasis cleared)
};

} // namespace tandrel
