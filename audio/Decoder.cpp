#include "audio/Decoder.h"

#include "audio/Decoding.h"
#include "audio/FileAccess.h"
#include "audio/Mp3Frames.h"
#include "audio/Mp3Header.h"
#include "audio/TagAreas.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "audio/Ffmpeg.h"

namespace tandrel {
namespace {

// Packets read at open while looking for the first decodable frame.
constexpr int kOpenPacketBudget = 500;
constexpr int kMaxConsecutiveErrors = 64;
// A length a container estimates (a WMA header's duration) counts as cut short only when the
// stream is clearly shorter: by 2 % or a second, whichever is more.
constexpr double kWmaShortFraction = 0.02;
constexpr double kWmaShortSeconds = 1.0;

} // namespace

// Bytes read from [s.pos, s.pos + got) that belong to hidden blocks: their header says
// padding (the last-block flag kept), their contents are zeros.
void Decoder::HideBlocks(const Source &s, std::uint8_t *buf, std::int64_t got) {
    const std::int64_t from = s.pos, to = s.pos + got;
    for (const auto &[head, end] : s.hidden) {
        if (head >= from && head < to)
            buf[head - from] = std::uint8_t((buf[head - from] & 0x80) | 1);
        const std::int64_t a = std::max(from, head + 4), b = std::min(to, end);
        if (a < b)
            std::memset(buf + (a - from), 0, std::size_t(b - a));
    }
}

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
    if (got == 0) {
        s.shrunk = true;
        return AVERROR_EOF;
    }
    HideBlocks(s, buf, got);
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

std::unique_ptr<Decoder> Decoder::Open(const std::string &path, InputReader reader,
                                       OpenProblem *problem, bool describeOnly) {
    OpenProblem ignored;
    OpenProblem &why = problem ? *problem : ignored;
    why = OpenProblem{};
    describeOnly = describeOnly && reader == InputReader::Mp3;
    if ((!describeOnly && !DecodingReady()) ||
        (reader != InputReader::Mp3 && reader != InputReader::Decoded))
        return nullptr;
    std::unique_ptr<Decoder> d(new Decoder);
    d->reader_ = reader;
    d->path_ = path;
    std::uint64_t size = 0;
    d->fd_ = OpenRegularFile(path, size);
    if (d->fd_ < 0 || size == 0)
        return nullptr;
    if (reader == InputReader::Decoded) {
        d->source_ = {d->fd_, 0, static_cast<std::int64_t>(size), 0};
        for (const auto &[head, end] : FlacPictureBlocks(d->fd_))
            d->source_.hidden.emplace_back(std::int64_t(head), std::int64_t(end));
        if (!d->SetupDecoded(why))
            return nullptr;
        d->CheckAsfSize(size);
        return d;
    }
    d->container_ = "MP3";
    const Mp3Header h = ReadMp3Header(d->fd_, size);
    if (h.audioStart >= size)
        return nullptr;
    return d->SetupMp3(h, size, describeOnly) ? std::move(d) : nullptr;
}

const char *Decoder::CodecName() const {
    if (!codec_)
        return frames_ ? "mp3" : "";
    return avcodec_get_name(codec_->codec_id);
}

bool Decoder::OpenCodec(const AVCodec *codec, const AVStream *st) {
    // The floating-point MP3 decoder (FFmpeg's default) is a third faster than the
    // fixed-point one; its output is rounded to 16-bit on the way out.
    if (!codec || !(codec_ = avcodec_alloc_context3(codec)) ||
        (st && avcodec_parameters_to_context(codec_, st->codecpar) < 0))
        return false;
    if (st)
        codec_->pkt_timebase = st->time_base;
    codec_->thread_count = 1;
    const AVCodecDescriptor *descriptor = avcodec_descriptor_get(codec->id);
    lossless_ = descriptor && (descriptor->props & AV_CODEC_PROP_LOSSLESS);
    if (lossless_)
        codec_->err_recognition |= AV_EF_CRCCHECK | AV_EF_EXPLODE; // damage is an error, not noise
    else
        codec_->request_sample_fmt = AV_SAMPLE_FMT_S16;
    // One Ogg stream is trimmed by us to its stated length; a chained one as FFmpeg does.
    if (container_ == "Ogg" && !chainedOgg_)
        codec_->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
    if (avcodec_open2(codec_, codec, nullptr) < 0)
        return false;
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!packet_ || !frame_)
        return false;
    packetBudget_ = kOpenPacketBudget;
    const bool decoded = DecodeMore();
    packetBudget_ = -1;
    return decoded && rate_ > 0;
}

bool Decoder::Finish(std::int64_t samples) {
    length_ = static_cast<std::uint64_t>(std::max<std::int64_t>(samples, 0)) * frameBytes_;
    estimatedBytes_ = length_;
    UpdateLength();
    return true;
}

Decoder::~Decoder() {
    // Nothing of FFmpeg's to free (and none of its libraries to open) for a decoder never opened.
    if (codec_)
        avcodec_free_context(&codec_);
    if (frame_)
        av_frame_free(&frame_);
    if (packet_)
        av_packet_free(&packet_);
    if (swr_)
        swr_free(&swr_);
    if (format_)
        avformat_close_input(&format_);
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    if (fd_ >= 0)
        ::close(fd_);
}

int Decoder::NextPacket() {
    if (frames_) {
        if (frameLimit_ >= 0 && framesFed_ >= frameLimit_)
            return AVERROR_EOF;
        Mp3Frame f;
        const std::uint8_t *data = frames_->Next(f);
        if (!data)
            return AVERROR_EOF;
        // Not reference-counted: the decoder takes its own copy.
        packet_->data = const_cast<std::uint8_t *>(data);
        packet_->size = f.bytes;
        lastFrameSamples_ = f.samples;
        lastFrameRate_ = f.sampleRate;
        lastFrameChannels_ = f.mono ? 1 : 2;
        ++framesFed_;
        return 0;
    }
    for (;;) {
        const int r = av_read_frame(format_, packet_);
        if (r < 0 || packet_->stream_index == streamIndex_)
            return r;
        av_packet_unref(packet_);
    }
}

// The last frame sent gave nothing. An MP3 frame is given as silence of its length once the
// output has begun (in a range, at once), so that what follows keeps its place; otherwise its
// samples are lost (those a range gives, at least).
void Decoder::LoseFrame() {
    if (lastFrameSamples_ > 0 && (rate_ > 0 || dropBefore_ > 0) && GiveSilence())
        return;
    if (nextPts_ >= dropBefore_)
        lostSamples_ += static_cast<std::uint64_t>(lastFrameSamples_);
    nextPts_ += lastFrameSamples_;
}

bool Decoder::DecodeMore() {
    if (!codec_) // opened to describe the file only
        return false;
    const std::size_t before = pendSize_;
    while (!ended_ && pendSize_ == before) {
        int r = avcodec_receive_frame(codec_, frame_);
        if (r == 0) {
            bool ok = Convert(frame_);
            av_frame_unref(frame_);
            if (!ok) {
                failed_ = true;
                ended_ = true;
            } else {
                errors_ = 0;
            }
            continue;
        }
        if (r != AVERROR_EOF && r != AVERROR(EAGAIN))
            LoseFrame();
        // Damaged MP3 frames are passed over, however many; other streams give up after a
        // long run of them.
        if (r == AVERROR_EOF || draining_ ||
            (r != AVERROR(EAGAIN) && ++errors_ > kMaxConsecutiveErrors && !frames_)) {
            if (r != AVERROR_EOF && r != AVERROR(EAGAIN))
                failed_ = true;
            FlushResampler();
            ended_ = true;
            break;
        }
        if (packetBudget_ == 0)
            break;
        r = NextPacket();
        if (r < 0) {
            if (r != AVERROR_EOF)
                failed_ = true;
            draining_ = true;
            avcodec_send_packet(codec_, nullptr);
            continue;
        }
        if (packetBudget_ > 0)
            --packetBudget_;
        // A damaged packet is skipped; decoding goes on with the next one.
        if (avcodec_send_packet(codec_, packet_) < 0) {
            LoseFrame();
            if (++errors_ > kMaxConsecutiveErrors && !frames_) {
                failed_ = true;
                draining_ = true;
            }
        }
        av_packet_unref(packet_);
    }
    UpdateLength();
    return pendSize_ > before;
}

bool Decoder::Convert(AVFrame *frame) {
    if (frame->nb_samples <= 0)
        return true;
    if (rate_ == 0 && !StartOutput(frame))
        return false;
    if (codec_->flags2 & AV_CODEC_FLAG2_SKIP_MANUAL)
        TakeManualSkip(frame);
    if (!ClampFloats(frame))
        return false;
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
    const std::size_t region = pendSize_;
    PackTo24(region, std::size_t(got));
    pendSize_ += static_cast<std::size_t>(got) * frameBytes_;
    if (skipStart_ > 0 || discardTo_ > 0 || dropBefore_ > 0)
        Trim(region, nextPts_);
    nextPts_ += got;
    return true;
}

void Decoder::ReserveOutput(std::size_t samples) {
    if (pendHead_ > 0) {
        std::memmove(pending_.data(), pending_.data() + pendHead_, pendSize_);
        pendHead_ = 0;
    }
    std::size_t need = pendSize_ + samples * swrBytes_;
    if (pending_.size() < need)
        pending_.resize(need);
}

void Decoder::UpdateLength() {
    const std::uint64_t decoded = position_ + pendSize_;
    if (ended_ || decoded > length_)
        length_ = decoded;
}

bool Decoder::EndedEarly(std::uint64_t &promised) const {
    promised = length_;
    if (!ended_)
        return false;
    const std::uint64_t decoded = position_ + pendSize_;
    // A file cut short before it was opened is taken for what its whole frames hold.
    const bool truncated =
        source_.shrunk || (frames_ && (cutBeforeOpen_ ? frames_->Shrunk() : frames_->Truncated()));
    const std::uint64_t lost =
        (lostSamples_ + (truncated && frames_ ? std::uint64_t(lastFrameSamples_) : 0)) *
        frameBytes_;
    if (exactBytes_ >= 0) {
        promised = std::max(std::uint64_t(exactBytes_), decoded + lost);
        // All the stated audio came: a cut frame or stray bytes after it are no loss.
        return failed_ || decoded < std::uint64_t(exactBytes_);
    }
    promised = decoded + lost;
    if (!frames_ && rate_ > 0) {
        const double slack = std::max(kWmaShortFraction * double(estimatedBytes_),
                                      kWmaShortSeconds * rate_ * double(frameBytes_));
        if (source_.shrunk || double(decoded) + slack < double(estimatedBytes_)) {
            promised = std::max(promised, estimatedBytes_);
            return true;
        }
    }
    return failed_ || truncated || lost > 0;
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
