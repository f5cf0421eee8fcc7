// Thin adapters from the join's output stage to the two encoder classes.
#include "join/EncoderSinks.h"

#include "encoders/SplicedMp3.h"
#include "encoders/Wavtowma.h"
#include "join/Id3Tag.h"
#include "join/OutputStage.h"
#include "join/StreamRelay.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

namespace tandrel {
namespace {

class Mp3Sink : public OutputSink {
public:
    explicit Mp3Sink(const OutputSettings &settings) : settings_(settings) {
        encoder_.SetThreads(settings.mp3Threads);
        encoder_.SetSegmentFrames(settings.mp3SegmentFrames);
    }
    bool Open(const OutputTarget &target, const PcmFormat &format,
              std::int64_t expectedBytes) override {
        channels_ = std::max(1, format.channels);
        const std::int64_t frameBytes = 2 * channels_;
        const std::string display = target.display;
        encoder_.SetFileErrorHandler([display](int err) { ShowOutputError(display, err); });
        chunk_ = encoder_.Open(
            target.fd, target.display, target.seekable,
            expectedBytes < 0 ? -1 : expectedBytes / frameBytes, format.sampleRate,
            Mp3Mode(format.channels), Mp3Kbps(settings_.mp3BitrateIndex, format.sampleRate),
            settings_.mp3Copyright, settings_.mp3Crc, settings_.mp3Original, settings_.mp3Private);
        open_ = chunk_ >= 0;
        if (open_ && !metadata_.Empty()) {
            rate_ = format.sampleRate;
            // Chapters not known yet go out as stand-ins only where they can be gone back to.
            tagChapters_ = metadata_.chaptersFinal || target.seekable;
            encoder_.SetLeadingTag(RenderId3Tag(metadata_, rate_, tagChapters_));
        }
        return open_;
    }
    void SetMetadata(const OutputMetadata &metadata) override { metadata_ = metadata; }
    void SetChapters(const std::vector<Chapter> &chapters) override {
        if (!tagChapters_ || metadata_.chaptersFinal)
            return;
        metadata_.chapters = chapters;
        metadata_.chaptersFinal = true;
        encoder_.SetFinalTag(RenderId3Tag(metadata_, rate_, true));
    }
    std::size_t ChunkBytes() const override { return chunk_ > 0 ? std::size_t(chunk_) & ~1u : 0; }
    bool Write(const std::uint8_t *data, std::size_t count) override {
        return encoder_.Write(data, count);
    }
    void Stop() override { encoder_.Stop(); }
    std::uint64_t Unfinished() const override {
        return std::uint64_t(encoder_.Unfinished()) * 2 * std::uint64_t(channels_);
    }
    bool Close() override {
        const bool ok = !open_ || encoder_.Close();
        open_ = false;
        return ok;
    }

private:
    OutputSettings settings_;
    SplicedMp3 encoder_;
    OutputMetadata metadata_;
    bool tagChapters_ = false;
    int rate_ = 44100;
    int channels_ = 1;
    int chunk_ = -1;
    bool open_ = false;
};

// Our tag names as Windows Media attributes.
std::vector<std::pair<std::string, std::string>> WmaAttributes(const OutputMetadata &metadata) {
    static const char *const names[][2] = {
        {"title", "Title"},         {"artist", "Author"}, {"albumartist", "WM/AlbumArtist"},
        {"album", "WM/AlbumTitle"}, {"date", "WM/Year"},  {"genre", "WM/Genre"},
        {"comment", "Description"}};
    std::vector<std::pair<std::string, std::string>> attributes;
    for (const auto &[tag, attribute] : names)
        if (const std::string value = metadata.Tag(tag); !value.empty())
            attributes.emplace_back(attribute, value);
    return attributes;
}

// The header, markers included, is written before the audio and may not change size later:
// markers only for chapters whose places are known before the join.
std::vector<std::pair<std::string, double>> WmaMarkers(const OutputMetadata &metadata, int rate) {
    std::vector<std::pair<std::string, double>> markers;
    if (metadata.writeChapters && metadata.chaptersFinal && rate > 0)
        for (const Chapter &c : metadata.chapters)
            markers.emplace_back(c.title, double(c.startFrame) / rate);
    return markers;
}

class WmaSink : public OutputSink {
public:
    explicit WmaSink(const OutputSettings &settings) : settings_(settings) {}
    // The cover is left out: FFmpeg's ASF muxer writes text attributes only.
    void SetMetadata(const OutputMetadata &metadata) override { metadata_ = metadata; }
    bool Open(const OutputTarget &target, const PcmFormat &format, std::int64_t) override {
        display_ = target.display;
        shown_ = false;
        std::string path = target.writePath;
        if (path.empty() || !target.seekable) {
            // A pipe, socket or device: the writer streams into our relay, which a stop ends.
            const int fd = relay_.Start(target.fd);
            if (fd < 0)
                return Failed(errno);
            path = "pipe:" + std::to_string(fd);
        }
        encoder_.SetShownName(display_);
        encoder_.SetFileErrorHandler([this](int err) { Failed(err); });
        encoder_.SetAttributes(WmaAttributes(metadata_));
        encoder_.SetMarkers(WmaMarkers(metadata_, format.sampleRate));
        chunk_ = encoder_.Open(path, format.sampleRate, format.channels,
                               WmaBitrate(settings_.wmaBitrateIndex));
        return chunk_ >= 0;
    }
    std::size_t ChunkBytes() const override { return chunk_ > 0 ? std::size_t(chunk_) & ~1u : 0; }
    bool WorksInWrite() const override { return true; }
    bool Write(const std::uint8_t *data, std::size_t count) override {
        if (const int err = relay_.Error())
            return Failed(err);
        return encoder_.Write(data, unsigned(count)) || Failed(Reason());
    }
    bool Close() override {
        // A writer that did not finish may still write: the relay ends after it is gone.
        if (!encoder_.Close())
            return Failed(Reason());
        const int err = relay_.Finish();
        return (err == 0 || Failed(err)) && !shown_;
    }

private:
    int Reason() const {
        const int err = wmaudsdk::ErrnoFromHResult(encoder_.LastError());
        return err ? err : EIO;
    }
    // The writer says nothing of its own failures: the output's one message, once.
    bool Failed(int err) {
        if (!shown_)
            ShowOutputError(display_, err);
        shown_ = true;
        return false;
    }

    OutputSettings settings_;
    // Before the encoder, so that it outlives the writer that writes into it.
    StreamRelay relay_;
    WavToWma encoder_;
    OutputMetadata metadata_;
    std::string display_;
    int chunk_ = -1;
    bool shown_ = false;
};

} // namespace

std::unique_ptr<OutputSink> MakeEncoderSink(const OutputSettings &settings) {
    if (settings.kind == OutputKind::Mp3)
        return std::make_unique<Mp3Sink>(settings);
    if (settings.kind == OutputKind::Wma)
        return std::make_unique<WmaSink>(settings);
    return nullptr;
}

} // namespace tandrel
