#include "audio/Decoder.h"

#include "audio/FileAccess.h"
#include "audio/Mp3Header.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace tandrel {
namespace {

constexpr int kIoBufferSize = 32768;
// Below this the prober saw no run of MP3 frames, only stray sync words.
constexpr int kMinMp3ProbeScore = 5;
// Packets read at open while looking for the first decodable frame.
constexpr int kOpenPacketBudget = 500;
constexpr int kMaxConsecutiveErrors = 64;
constexpr int kMaxChannels = 64;
constexpr int kMaxRate = 1536000;

bool IsWmaCodec(AVCodecID id) {
    return id == AV_CODEC_ID_WMAV1 || id == AV_CODEC_ID_WMAV2 || id == AV_CODEC_ID_WMAPRO ||
           id == AV_CODEC_ID_WMALOSSLESS;
}

} // namespace

int Decoder::ReadSource(void *opaque, std::uint8_t *buf, int size) {
    auto &s = *static_cast<Source *>(opaque);
    if (size <= 0 || s.pos >= s.size)
        return AVERROR_EOF;
    auto want = static_cast<std::size_t>(std::min<std::int64_t>(size, s.size - s.pos));
    ssize_t got;
    do {
        got = ::pread(s.fd, buf, want, static_cast<off_t>(s.base + s.pos));
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return AVERROR(EIO);
    if (got == 0)
        return AVERROR_EOF;
    s.pos += got;
    return static_cast<int>(got);
}

std::int64_t Decoder::SeekSource(void *opaque, std::int64_t offset, int whence) {
    auto &s = *static_cast<Source *>(opaque);
    whence &= ~AVSEEK_FORCE;
    std::int64_t target;
    switch (whence) {
    case AVSEEK_SIZE:
        return s.size;
    case SEEK_SET:
        target = offset;
        break;
    case SEEK_CUR:
        target = s.pos + offset;
        break;
    case SEEK_END:
        target = s.size + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (target < 0)
        return AVERROR(EINVAL);
    s.pos = target;
    return target;
}

std::unique_ptr<Decoder> Decoder::Open(const std::string &path, AudioContainer kind) {
    std::unique_ptr<Decoder> d(new Decoder);
    d->kind_ = kind;
    d->path_ = path;
    std::uint64_t size = 0;
    d->fd_ = OpenRegularFile(path, size);
    if (d->fd_ < 0 || size == 0)
        return nullptr;
    std::uint64_t start = 0;
    std::int64_t samples = -1;
    if (kind == AudioContainer::Mp3) {
        Mp3Header h = ReadMp3Header(d->fd_, size);
        if (h.audioStart >= size)
            return nullptr;
        start = h.audioStart;
        samples = Mp3ExactSamples(h);
        if (samples < 0)
            samples = Mp3EstimatedSamples(h);
    }
    d->source_ = {d->fd_, static_cast<std::int64_t>(start), static_cast<std::int64_t>(size - start),
                  0};
    if (!d->Setup(samples))
        return nullptr;
    return d;
}

bool Decoder::Setup(std::int64_t samples) {
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
    const char *name = format_->iformat->name;
    if (kind_ == AudioContainer::Mp3) {
        if (std::strcmp(name, "mp3") != 0 || format_->probe_score < kMinMp3ProbeScore)
            return false;
    } else if (std::strncmp(name, "asf", 3) != 0) {
        return false;
    }
    // Rate and channels are not known before decoding, so the first audio stream is taken.
    int index = -1;
    for (unsigned i = 0; i < format_->nb_streams && index < 0; ++i)
        if (format_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            index = static_cast<int>(i);
    if (index < 0)
        return false;
    AVStream *st = format_->streams[index];
    AVCodecID id = st->codecpar->codec_id;
    if (kind_ == AudioContainer::Mp3 ? id != AV_CODEC_ID_MP3 : !IsWmaCodec(id))
        return false;
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        if (static_cast<int>(i) != index)
            format_->streams[i]->discard = AVDISCARD_ALL;
    streamIndex_ = index;

    // The floating-point MP3 decoder (FFmpeg's default) is a third faster than the
    // fixed-point one; its output is rounded to 16-bit on the way out.
    const AVCodec *codec = avcodec_find_decoder(id);
    if (!codec || !(codec_ = avcodec_alloc_context3(codec)) ||
        avcodec_parameters_to_context(codec_, st->codecpar) < 0)
        return false;
    codec_->pkt_timebase = st->time_base;
    codec_->thread_count = 1;
    codec_->request_sample_fmt = AV_SAMPLE_FMT_S16;
    if (avcodec_open2(codec_, codec, nullptr) < 0)
        return false;
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!packet_ || !frame_)
        return false;

    packetBudget_ = kOpenPacketBudget;
    bool decoded = DecodeMore();
    packetBudget_ = -1;
    if (!decoded || rate_ <= 0)
        return false;

    if (samples < 0 && st->duration > 0 && st->duration != AV_NOPTS_VALUE)
        samples = av_rescale_q(st->duration, st->time_base, AVRational{1, rate_});
    if (samples < 0 && format_->duration > 0 && format_->duration != AV_NOPTS_VALUE)
        samples = av_rescale(format_->duration, rate_, AV_TIME_BASE);
    if (samples < 0 && codec_->bit_rate > 0)
        samples = static_cast<std::int64_t>(double(source_.size) * 8.0 * rate_ /
                                            double(codec_->bit_rate));
    length_ = static_cast<std::uint64_t>(std::max<std::int64_t>(samples, 0)) * frameBytes_;
    UpdateLength();
    return true;
}

Decoder::~Decoder() {
    avcodec_free_context(&codec_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    swr_free(&swr_);
    avformat_close_input(&format_);
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    if (fd_ >= 0)
        ::close(fd_);
}

bool Decoder::DecodeMore() {
    const std::size_t before = pendSize_;
    while (!ended_ && pendSize_ == before) {
        int r = avcodec_receive_frame(codec_, frame_);
        if (r == 0) {
            bool ok = Convert(frame_);
            av_frame_unref(frame_);
            if (!ok)
                ended_ = true;
            else
                errors_ = 0;
            continue;
        }
        if (r == AVERROR_EOF || draining_ ||
            (r != AVERROR(EAGAIN) && ++errors_ > kMaxConsecutiveErrors)) {
            FlushResampler();
            ended_ = true;
            break;
        }
        if (packetBudget_ == 0)
            break;
        if (av_read_frame(format_, packet_) < 0) {
            draining_ = true;
            avcodec_send_packet(codec_, nullptr);
            continue;
        }
        if (packet_->stream_index == streamIndex_) {
            if (packetBudget_ > 0)
                --packetBudget_;
            // A damaged packet is skipped; decoding goes on with the next one.
            if (avcodec_send_packet(codec_, packet_) < 0 && ++errors_ > kMaxConsecutiveErrors)
                draining_ = true;
        }
        av_packet_unref(packet_);
    }
    UpdateLength();
    return pendSize_ > before;
}

bool Decoder::Convert(AVFrame *frame) {
    if (frame->nb_samples <= 0)
        return true;
    if (rate_ == 0) {
        int ch = frame->ch_layout.nb_channels;
        if (frame->sample_rate <= 0 || frame->sample_rate > kMaxRate || ch <= 0 ||
            ch > kMaxChannels)
            return false;
        rate_ = frame->sample_rate;
        channels_ = ch;
        frameBytes_ = static_cast<std::size_t>(ch) * 2;
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
            outMask_ = frame->ch_layout.u.mask;
    }
    if (!swr_ || frame->format != swrInFormat_ || frame->sample_rate != swrInRate_ ||
        frame->ch_layout.nb_channels != swrInChannels_) {
        FlushResampler();
        if (!ConfigureResampler(frame))
            return false;
    }
    int room = swr_get_out_samples(swr_, frame->nb_samples);
    if (room < 0)
        return false;
    ReserveOutput(static_cast<std::size_t>(room));
    std::uint8_t *out = pending_.data() + pendHead_ + pendSize_;
    int got = swr_convert(swr_, &out, room, const_cast<const std::uint8_t **>(frame->extended_data),
                          frame->nb_samples);
    if (got < 0)
        return false;
    pendSize_ += static_cast<std::size_t>(got) * frameBytes_;
    return true;
}

bool Decoder::ConfigureResampler(const AVFrame *frame) {
    swr_free(&swr_);
    AVChannelLayout in{}, out{};
    if (frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC &&
        av_channel_layout_check(&frame->ch_layout))
        av_channel_layout_copy(&in, &frame->ch_layout);
    else
        av_channel_layout_default(&in, frame->ch_layout.nb_channels);
    if (outMask_ && std::popcount(outMask_) == channels_)
        av_channel_layout_from_mask(&out, outMask_);
    else
        av_channel_layout_default(&out, channels_);
    int r = swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_S16, rate_, &in,
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (r < 0 || !swr_ || swr_init(swr_) < 0) {
        swr_free(&swr_);
        return false;
    }
    swrInFormat_ = frame->format;
    swrInRate_ = frame->sample_rate;
    swrInChannels_ = frame->ch_layout.nb_channels;
    return true;
}

void Decoder::FlushResampler() {
    if (!swr_)
        return;
    int room = swr_get_out_samples(swr_, 0);
    if (room <= 0)
        return;
    ReserveOutput(static_cast<std::size_t>(room));
    std::uint8_t *out = pending_.data() + pendHead_ + pendSize_;
    int got = swr_convert(swr_, &out, room, nullptr, 0);
    if (got > 0)
        pendSize_ += static_cast<std::size_t>(got) * frameBytes_;
}

void Decoder::ReserveOutput(std::size_t samples) {
    if (pendHead_ > 0) {
        std::memmove(pending_.data(), pending_.data() + pendHead_, pendSize_);
        pendHead_ = 0;
    }
    std::size_t need = pendSize_ + samples * frameBytes_;
    if (pending_.size() < need)
        pending_.resize(need);
}

void Decoder::UpdateLength() {
    const std::uint64_t decoded = position_ + pendSize_;
    if (ended_ || decoded > length_)
        length_ = decoded;
}

bool Decoder::HasData() {
    return pendSize_ > 0 || DecodeMore();
}

std::size_t Decoder::Read(std::uint8_t *dst, std::size_t n) {
    if (frameBytes_ == 0)
        return 0;
    n -= n % frameBytes_;
    std::size_t done = 0;
    while (done < n) {
        if (pendSize_ == 0 && !DecodeMore())
            break;
        std::size_t k = std::min(n - done, pendSize_);
        std::memcpy(dst + done, pending_.data() + pendHead_, k);
        pendHead_ += k;
        pendSize_ -= k;
        done += k;
        if (pendSize_ == 0)
            pendHead_ = 0;
    }
    position_ += done;
    UpdateLength();
    return done;
}

} // namespace tandrel
