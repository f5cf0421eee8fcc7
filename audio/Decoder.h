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
struct AVCodec;
struct AVStream;
struct SwrContext;

#include "audio/Track.h"

namespace tandrel {

class Mp3Frames;
struct Mp3Header;

// A run of an MP3 file's frames decoded on its own, as a part of the whole: decoding starts at
// an earlier frame so that the bit reservoir and the decoder's overlap are those the whole
// file's decoding has there, and gives only the samples from keepFrom on (positions in the
// whole file's decoded stream, where its delay and padding are trimmed as for the whole).
struct Mp3Range {
    std::uint64_t startByte = 0;  // the first frame decoded
    std::int64_t startSample = 0; // its first sample in the whole file's decoded stream
    std::int64_t keepFrom = 0;    // samples before this one are not given
    std::int64_t frames = -1;     // frames decoded from startByte; -1: up to the end
};

// Why Decoder::Open gave nothing.
struct OpenProblem {
    enum Kind { NotThatAudio, NoAudio, NoDecoder, NoLength } kind = NotThatAudio;
    std::string codec; // for NoDecoder: the codec no decoder knows
};

// One decoding stream over a file: interleaved little-endian PCM at the file's own rate and
// channel count, 16-bit signed for lossy codecs and the source's own depth (8-bit unsigned,
// 16-, 24- or 32-bit signed) for PCM and lossless ones, float sources rounded and clipped to
// 32 bits; MP3 encoder delay and padding are removed, and a stated exact length is kept to.
class Decoder {
public:
    // reader is InputReader::Mp3 (the MP3 frame reader) or InputReader::Decoded (whatever
    // FFmpeg recognises in the content). Null when the file is not that kind of audio or
    // nothing in it decodes; problem, when given, says why.
    // With describeOnly, the MP3 frame reader's decoder tells only what the file's frames and
    // header state (rate, channels, length, delay and padding), opens no FFmpeg and decodes
    // nothing; other readers open as usual.
    static std::unique_ptr<Decoder> Open(const std::string &path, InputReader reader,
                                         OpenProblem *problem = nullptr, bool describeOnly = false);
    ~Decoder();
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    int Rate() const { return rate_; }
    int Channels() const { return channels_; }
    int Bits() const { return bits_; }
    bool IsMp3() const { return reader_ == InputReader::Mp3; }
    const std::string &Path() const { return path_; }
    // Never below Position(); final once the end has been reached.
    std::uint64_t LengthBytes() const { return length_; }
    std::uint64_t PositionBytes() const { return position_; }
    bool HasData();
    // Up to n bytes (whole sample frames), fewer only at the end.
    std::size_t Read(std::uint8_t *dst, std::size_t n);
    // Whether the length at open was stated by the file (an MP3 frame count), not estimated.
    bool LengthIsExact() const { return exactBytes_ >= 0; }
    // Once the end is reached: the file ended or stopped decoding before the audio it
    // promised; promised receives the bytes it should have given.
    bool EndedEarly(std::uint64_t &promised) const;
    // FFmpeg's name of the stream's codec ("mp3", "wmav2", "flac").
    const char *CodecName() const;
    // The container's name for people ("MP3", "ASF", "FLAC", "Ogg", "MP4").
    const std::string &ContainerName() const { return container_; }
    // For the MP3 frame reader: decoded samples (from the first frame on) that are the encoder
    // and decoder delay, and where the padding starts (-1 when the file does not say).
    std::int64_t Mp3DelaySamples() const { return skipStart_; }
    std::int64_t Mp3PaddingFrom() const { return discardFrom_; }
    // Whether the codec keeps every bit (PCM, FLAC, ALAC...), as opposed to MP3, AAC, WMA...
    bool Lossless() const { return lossless_; }

    // For the MP3 frame reader: where its first frame starts and where the audio part ends.
    std::uint64_t Mp3FirstFrame() const { return mp3First_; }
    std::uint64_t Mp3AudioEnd() const { return mp3End_; }
    // A decoder of this MP3 file's range of frames: its own file descriptor, this one's delay
    // and padding. Null when the range does not start on a frame or nothing in it decodes.
    std::unique_ptr<Decoder> OpenMp3Range(const Mp3Range &range) const;
    // Ends the stream after this many frames from the first one (those already read count).
    void LimitFrames(std::int64_t frames) { frameLimit_ = frames; }
    // Counts what a range decoder gave (bytes of its audio, all read) after this one ended,
    // with its losses, as if this one had decoded it: EndedEarly then speaks for both.
    void AddRange(const Decoder &range, std::uint64_t bytes);

private:
    Decoder() = default;
    enum class StatedLength { Trusted, Cut, Wrong };
    StatedLength CheckStatedLength(Mp3Header &h, std::uint64_t first, std::int64_t &samples);
    bool SetupMp3(Mp3Header h, std::uint64_t size, bool describeOnly);
    bool DescribeMp3();
    bool OpenContainer(OpenProblem &problem);
    bool SetupDecoded(OpenProblem &problem);
    std::int64_t StatedSamples(const AVStream *st, bool &exact) const;
    void CheckAsfSize(std::uint64_t size);
    bool OpenCodec(const AVCodec *codec, const AVStream *st);
    bool StartOutput(const AVFrame *frame);
    void PackTo24(std::size_t regionStart, std::size_t samples);
    void TakeManualSkip(const AVFrame *frame);
    static bool ClampFloats(AVFrame *frame);
    bool Finish(std::int64_t samples);
    int NextPacket();
    bool DecodeMore();
    void LoseFrame();
    bool GiveSilence();
    void Trim(std::size_t regionStart, std::int64_t firstSample);
    bool Convert(AVFrame *frame);
    bool ConfigureResampler(const AVFrame *frame);
    void FlushResampler();
    void ReserveOutput(std::size_t samples);
    void UpdateLength();

    InputReader reader_ = InputReader::Mp3;
    std::string path_;
    std::string container_;
    bool lossless_ = false;
    bool chainedOgg_ = false;
    int fd_ = -1;
    struct Source {
        int fd = -1;
        std::int64_t base = 0;
        std::int64_t size = 0;
        std::int64_t pos = 0;
        bool shrunk = false; // the file ended before the size it had at open
        // Metadata blocks read as padding: (header offset, end offset) from base.
        std::vector<std::pair<std::int64_t, std::int64_t>> hidden = {};
    };
    Source source_;
    static int ReadSource(void *opaque, std::uint8_t *buf, int size);
    static void HideBlocks(const Source &s, std::uint8_t *buf, std::int64_t got);
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
    int bits_ = 16;
    int outFormat_ = -1;       // the resampler's output sample format
    std::size_t swrBytes_ = 0; // bytes per frame the resampler writes (4 per sample for 24 bits)
    std::size_t frameBytes_ = 0;
    bool draining_ = false;
    bool ended_ = false;
    std::vector<std::uint8_t> pending_;
    std::size_t pendHead_ = 0;
    std::size_t pendSize_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t length_ = 0;
    std::unique_ptr<Mp3Frames> frames_;
    // Samples of the decoded stream before skipStart_ and in [discardFrom_, discardTo_)
    // are the encoder's delay and padding.
    std::int64_t skipStart_ = 0;
    std::int64_t discardFrom_ = -1;
    std::int64_t discardTo_ = -1;
    std::int64_t nextPts_ = 0;
    // A stated length kept to; the decoder's own start skip is applied here (Ogg).
    std::int64_t capSamples_ = -1;
    std::int64_t exactBytes_ = -1;
    std::uint64_t estimatedBytes_ = 0;
    std::uint64_t lostSamples_ = 0;
    // The MP3 frame last sent to the codec.
    int lastFrameSamples_ = 0;
    int lastFrameRate_ = 0;
    int lastFrameChannels_ = 0;
    bool failed_ = false;
    bool cutBeforeOpen_ = false;
    // A range's decoding (Mp3Range): samples before dropBefore_ are not given, and the
    // stream ends after frameLimit_ frames (framesFed_ so far) when it is not negative.
    std::int64_t dropBefore_ = 0;
    std::int64_t frameLimit_ = -1;
    std::int64_t framesFed_ = 0;
    std::uint64_t mp3First_ = 0;
    std::uint64_t mp3End_ = 0;
};

} // namespace tandrel
