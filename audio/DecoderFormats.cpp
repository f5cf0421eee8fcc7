#include "audio/Decoder.h"

#include "audio/AsfHeader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "audio/Ffmpeg.h"

// The FFmpeg side of opening a decoder: whatever container and codec FFmpeg recognises in the
// content, its first audio stream, and how long that stream says it is.
namespace tandrel {
namespace {

constexpr int kIoBufferSize = 32768;

// Containers whose stated length is the exact count of samples their audio decodes to.
constexpr const char *kExactContainers[] = {
    "flac", "ogg", "mov,mp4,m4a,3gp,3g2,mj2", "aiff", "wav", "w64", "wv", "ape", "tta"};
// (Not CAF: FFmpeg's own CAF writer states whole packets for ALAC, more than the audio.)

// Names for people of the containers FFmpeg names by its demuxers.
struct ContainerName {
    const char *demuxer;
    const char *name;
};
constexpr ContainerName kContainerNames[] = {
    {"asf", "ASF"}, {"mp3", "MPEG"},  {"flac", "FLAC"},
    {"ogg", "Ogg"}, {"aiff", "AIFF"}, {"wav", "WAV"},
    {"w64", "W64"}, {"caf", "CAF"},   {"wv", "WavPack"},
    {"ape", "APE"}, {"aac", "ADTS"},  {"matroska,webm", "Matroska"},
    {"tta", "TTA"}, {"au", "AU"},     {"mov,mp4,m4a,3gp,3g2,mj2", "MP4"}};

bool IsWmaCodec(AVCodecID id) {
    return id == AV_CODEC_ID_WMAV1 || id == AV_CODEC_ID_WMAV2 || id == AV_CODEC_ID_WMAPRO ||
           id == AV_CODEC_ID_WMALOSSLESS;
}

std::string NameOfContainer(const char *demuxer) {
    for (const ContainerName &c : kContainerNames)
        if (std::strcmp(c.demuxer, demuxer) == 0)
            return c.name;
    std::string name(demuxer, std::strcspn(demuxer, ","));
    for (char &ch : name)
        ch = char(std::toupper(static_cast<unsigned char>(ch)));
    return name;
}

// FFmpeg's name of a codec, or the tag the file gives it when FFmpeg knows none: a wave
// format number ("format 0x1234"), else its four characters ("codec 'abcd'").
std::string CodecNameOf(const AVCodecParameters &p) {
    if (p.codec_id != AV_CODEC_ID_NONE)
        return avcodec_get_name(p.codec_id);
    char text[32];
    if (p.codec_tag < 0x10000) {
        std::snprintf(text, sizeof text, "format 0x%04X", p.codec_tag);
        return text;
    }
    std::string fourcc;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(p.codec_tag >> (8 * i));
        fourcc += std::isprint(c) ? char(c) : '?';
    }
    return "codec '" + fourcc + "'";
}

// Whether an Ogg file is chained: a stream begins after another has carried data. Its links
// each count their own granules, so no one length is stated for the whole.
bool IsChainedOgg(int fd, std::uint64_t size) {
    constexpr int kMaxPages = 1 << 20;
    std::uint64_t at = 0;
    bool data = false;
    unsigned char h[27 + 255];
    for (int i = 0; i < kMaxPages && at + 27 <= size; ++i) {
        if (::pread(fd, h, 27, off_t(at)) != 27 || std::memcmp(h, "OggS", 4) != 0)
            return false;
        const int segments = h[26];
        if (::pread(fd, h + 27, std::size_t(segments), off_t(at + 27)) != segments)
            return false;
        const bool begins = h[5] & 0x02;
        if (begins && data)
            return true;
        data = data || !begins;
        std::uint64_t body = 0;
        for (int k = 0; k < segments; ++k)
            body += h[27 + k];
        at += 27 + std::uint64_t(segments) + body;
    }
    return false;
}

// Lets the stream-info step decode audio streams only (a cover picture of 8000 x 8000 pixels
// would cost 200 MB), when the container names every audio codec already.
bool AllowAudioDecodersOnly(AVFormatContext *format) {
    std::string names;
    bool other = false;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters *p = format->streams[i]->codecpar;
        if (p->codec_type != AVMEDIA_TYPE_AUDIO) {
            other = true;
            continue;
        }
        const AVCodec *decoder = avcodec_find_decoder(p->codec_id);
        if (!decoder)
            return true; // left to the stream-info step to find out
        names += (names.empty() ? "" : ",") + std::string(decoder->name);
    }
    if (!other || names.empty())
        return true;
    format->codec_whitelist = av_strdup(names.c_str());
    return format->codec_whitelist != nullptr;
}

bool StatesExactLength(const AVFormatContext *format) {
    return std::any_of(
        std::begin(kExactContainers), std::end(kExactContainers),
        [&](const char *name) { return std::strcmp(name, format->iformat->name) == 0; });
}

} // namespace

bool Decoder::OpenContainer(OpenProblem &problem) {
    auto *buf = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
    if (!buf)
        return false;
    io_ = avio_alloc_context(buf, kIoBufferSize, 0, &source_, ReadSource, nullptr, SeekSource);
    if (!io_) {
        av_free(buf);
        return false;
    }
    format_ = avformat_alloc_context();
    if (!format_)
        return false;
    format_->pb = io_;
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    // No file name: the decision rests on the content, not on the extension.
    if (avformat_open_input(&format_, "", nullptr, nullptr) < 0)
        return false; // format_ was freed and reset
    container_ = NameOfContainer(format_->iformat->name);
    chainedOgg_ = container_ == "Ogg" && IsChainedOgg(fd_, std::uint64_t(source_.size));
    const bool asf = std::strncmp(format_->iformat->name, "asf", 3) == 0;
    // An ASF file's header says all; other containers may need a look at their packets, but
    // never at their pictures and video, which would be decoded to be looked at.
    if (!asf && !AllowAudioDecodersOnly(format_))
        return false;
    if (!asf && avformat_find_stream_info(format_, nullptr) < 0)
        return false;
    int index = -1;
    if (asf) {
        // Rate and channels are not known before decoding, so the first audio stream is taken.
        for (unsigned i = 0; i < format_->nb_streams && index < 0; ++i)
            if (format_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
                index = static_cast<int>(i);
    } else {
        // The default audio stream when there are several; a video file's sound.
        index = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    }
    if (index < 0) {
        problem.kind = OpenProblem::NoAudio;
        return false;
    }
    const AVCodecID id = format_->streams[index]->codecpar->codec_id;
    if (asf && !IsWmaCodec(id))
        return false;
    if (!avcodec_find_decoder(id)) {
        problem.kind = OpenProblem::NoDecoder;
        problem.codec = CodecNameOf(*format_->streams[index]->codecpar);
        return false;
    }
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        if (static_cast<int>(i) != index)
            format_->streams[i]->discard = AVDISCARD_ALL;
    streamIndex_ = index;
    return true;
}

// The samples the stream states, exact where its container states them so, else an estimate
// (from the container's duration or the bit rate); -1 when nothing tells.
std::int64_t Decoder::StatedSamples(const AVStream *st, bool &exact) const {
    exact = false;
    std::int64_t samples = -1;
    if (st->duration > 0 && st->duration != AV_NOPTS_VALUE) {
        samples = av_rescale_q(st->duration, st->time_base, AVRational{1, rate_});
        exact = StatesExactLength(format_) && !chainedOgg_ &&
                format_->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
        // An Opus stream's stated length in Ogg counts its pre-skip, which decoding drops.
        if (exact && container_ == "Ogg" && st->codecpar->codec_id == AV_CODEC_ID_OPUS)
            samples -= av_rescale(st->codecpar->initial_padding, rate_, 48000);
    }
    if (samples < 0 && format_->duration > 0 && format_->duration != AV_NOPTS_VALUE)
        samples = av_rescale(format_->duration, rate_, AV_TIME_BASE);
    if (samples < 0 && codec_->bit_rate > 0)
        samples = static_cast<std::int64_t>(double(source_.size) * 8.0 * rate_ /
                                            double(codec_->bit_rate));
    return exact && samples < 0 ? (exact = false, samples) : samples;
}

bool Decoder::SetupDecoded(OpenProblem &problem) {
    if (!OpenContainer(problem))
        return false;
    AVStream *st = format_->streams[streamIndex_];
    if (!OpenCodec(avcodec_find_decoder(st->codecpar->codec_id), st))
        return false;
    bool exact = false;
    const std::int64_t samples = StatedSamples(st, exact);
    if (samples < 0) {
        problem.kind = OpenProblem::NoLength;
        return false;
    }
    // MP4 keeps the encoder's padding after the edit list's end, and FFmpeg trims the end
    // of a short Ogg stream wrongly: the stated length is the audio, so nothing past it is
    // handed out (and, in Ogg, nothing short of it withheld).
    if (exact && (container_ == "MP4" || container_ == "Ogg")) {
        capSamples_ = samples;
        discardFrom_ = skipStart_ + samples;
        discardTo_ = INT64_MAX;
        // What opening decoded already.
        if (pendSize_ > 0)
            Trim(0, nextPts_ - std::int64_t(pendSize_ / frameBytes_));
    }
    if (!Finish(samples))
        return false;
    if (exact)
        exactBytes_ = static_cast<std::int64_t>(length_);
    return true;
}

// A WMA file shorter than its header says was cut before it came here.
void Decoder::CheckAsfSize(std::uint64_t size) {
    if (container_ != "ASF")
        return;
    const AsfHeader asf = ReadAsfHeader(fd_, size);
    if (asf.found && !asf.broadcast && asf.fileSize > size) {
        source_.shrunk = true;
        estimatedBytes_ = std::max<std::uint64_t>(
            estimatedBytes_,
            std::uint64_t(av_rescale(std::int64_t(asf.duration), rate_, 10000000)) * frameBytes_);
    }
}

} // namespace tandrel
