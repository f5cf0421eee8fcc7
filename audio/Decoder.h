#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVIOContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;

namespace tandrel {

enum class AudioContainer { Mp3, Wma };

// One decoding stream over a file: interleaved signed 16-bit PCM at the file's own rate and
// channel count, with MP3 encoder delay and padding removed.
class Decoder {
public:
    // Null when the file is not that kind of audio or nothing in it decodes.
    static std::unique_ptr<Decoder> Open(const std::string &path, AudioContainer kind);
    ~Decoder();
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    int Rate() const { return rate_; }
    int Channels() const { return channels_; }
    bool IsMp3() const { return kind_ == AudioContainer::Mp3; }
    const std::string &Path() const { return path_; }
    // Never below Position(); final once the end has been reached.
    std::uint64_t LengthBytes() const { return length_; }
    std::uint64_t PositionBytes() const { return position_; }
    bool HasData();
    // Up to n bytes (whole sample frames), fewer only at the end.
    std::size_t Read(std::uint8_t *dst, std::size_t n);

private:
    Decoder() = default;
    bool Setup(std::int64_t samples);
    bool DecodeMore();
    bool Convert(AVFrame *frame);
    bool ConfigureResampler(const AVFrame *frame);
    void FlushResampler();
    void ReserveOutput(std::size_t samples);
    void UpdateLength();

    AudioContainer kind_ = AudioContainer::Mp3;
    std::string path_;
    int fd_ = -1;
    struct Source {
        int fd = -1;
        std::int64_t base = 0;
        std::int64_t size = 0;
        std::int64_t pos = 0;
    };
    Source source_;
    static int ReadSource(void *opaque, std::uint8_t *buf, int size);
    static std::int64_t SeekSource(void *opaque, std::int64_t offset, int whence);
    AVIOContext *io_ = nullptr;
    AVFormatContext *format_ = nullptr;
    AVCodecContext *codec_ = nullptr;
    AVPacket *packet_ = nullptr;
    AVFrame *frame_ = nullptr;
    SwrContext *swr_ = nullptr;
    int swrInFormat_ = -1;
    int swrInRate_ = 0;
    int swrInChannels_ = 0;
    std::uint64_t outMask_ = 0;
    int packetBudget_ = -1;
    int errors_ = 0;
    int streamIndex_ = -1;
    int rate_ = 0;
    int channels_ = 0;
    std::size_t frameBytes_ = 0;
    bool draining_ = false;
    bool ended_ = false;
    std::vector<std::uint8_t> pending_;
    std::size_t pendHead_ = 0;
    std::size_t pendSize_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t length_ = 0;
};

} // namespace tandrel
