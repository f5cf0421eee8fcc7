// WMA audio writer library: wmav2 in an ASF file through FFmpeg.

#include "encoders/WmaWriter.h"
#include "encoders/wmaudsdk/AsfHeader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

using namespace wmaudsdk;

namespace {

// Input is converted in slices of at most this many frames, so every buffer has a fixed size.
constexpr int kSliceFrames = 4096;

bool SameId(const void *iid, const GUID &id) {
    return std::memcmp(iid, &id, sizeof id) == 0;
}

// One object serves both interfaces, with one count of references.
class AudioWriter final : public IWMAudioWriter, public IWMAudioHeaderInfo {
public:
    HRESULT Create(const std::string &path);
    HRESULT WriteFault(int r) const;

    HRESULT QueryInterface(const void *iid, void **object) override;
    std::uint32_t AddRef() override { return ++refs_; }
    std::uint32_t Release() override {
        const std::uint32_t left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT SetInputFormat(const WAVEFORMATEX *format) override;
    HRESULT SetOutputFormat(std::uint32_t bitrate, std::uint32_t sampleRate, std::uint32_t channels,
                            std::uint32_t flags) override;
    HRESULT Reserved6() override { return E_NOTIMPL; }
    HRESULT WriteSamples(const std::uint8_t *data, std::uint32_t byteCount) override;
    HRESULT Flush() override;
    HRESULT SetAttribute(const char16_t *name, const char16_t *value) override;
    HRESULT AddMarker(const char16_t *name, std::uint64_t time) override;

private:
    enum class State { Created, InputSet, Ready, Finished, Failed };

    ~AudioWriter();
    HRESULT Fail(HRESULT status);
    HRESULT OpenCodec(std::uint32_t bitrate, std::uint32_t sampleRate, std::uint32_t channels);
    HRESULT Convert(const std::uint8_t *data, int frames, int *produced = nullptr);
    HRESULT EncodeFrames(bool final);
    HRESULT Send(AVFrame *frame);
    HRESULT SendSilence();
    void CountHeaderObjects();
    HRESULT RecountRewrittenHeader();

    std::atomic<std::uint32_t> refs_{1};
    State state_ = State::Created;
    WAVEFORMATEX input_{};
    AVFormatContext *format_ = nullptr;
    AVCodecContext *codec_ = nullptr;
    AVStream *stream_ = nullptr;
    SwrContext *swr_ = nullptr;
    AVAudioFifo *fifo_ = nullptr;
    AVFrame *frame_ = nullptr;
    AVPacket *packet_ = nullptr;
    std::uint8_t **converted_ = nullptr;
    int convertedFrames_ = 0;
    std::int64_t nextPts_ = 0;
    std::uint8_t carry_[8] = {}; // bytes of an incomplete sample frame
    int carried_ = 0;
    std::uint32_t headerObjects_ = 0; // the header's objects, when its count had to be set
};

HRESULT FromAvError(int r, HRESULT otherwise) {
    // FFmpeg's own error codes lie far below the system's.
    return r < 0 && r > -4096 ? HResultFromErrno(-r) : otherwise;
}

// The file's own error where it has one, else the operation's.
HRESULT AudioWriter::WriteFault(int r) const {
    const int pbError = format_ && format_->pb ? format_->pb->error : 0;
    return FromAvError(pbError < 0 ? pbError : r, E_WRITE_FAULT);
}

HRESULT AudioWriter::Create(const std::string &path) {
    if (avformat_alloc_output_context2(&format_, nullptr, "asf", nullptr) < 0 || !format_)
        return E_OUTOFMEMORY;
    const int r = avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE);
    return r < 0 ? FromAvError(r, E_FAIL) : S_OK;
}

AudioWriter::~AudioWriter() {
    if (format_) {
        if (format_->pb)
            avio_closep(&format_->pb);
        avformat_free_context(format_);
    }
    avcodec_free_context(&codec_);
    swr_free(&swr_);
    if (fifo_)
        av_audio_fifo_free(fifo_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    if (converted_) {
        av_freep(&converted_[0]);
        av_freep(&converted_);
    }
}

HRESULT AudioWriter::QueryInterface(const void *iid, void **object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!iid)
        return E_POINTER;
    if (SameId(iid, IID_IWMAudioWriter))
        *object = static_cast<IWMAudioWriter *>(this);
    else if (SameId(iid, IID_IWMAudioHeaderInfo))
        *object = static_cast<IWMAudioHeaderInfo *>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

// Attributes become the file's metadata: FFmpeg's ASF muxer writes "Title", "Author",
// "Copyright" (matched without regard to case) into the Content Description object and every
// entry, under its own name, into the Extended Content Description object.
HRESULT AudioWriter::SetAttribute(const char16_t *name, const char16_t *value) {
    if (!name || !value)
        return E_POINTER;
    if (state_ != State::Created && state_ != State::InputSet)
        return E_UNEXPECTED;
    std::string key, text;
    if (!TextToUtf8(name, key) || key.empty() || !TextToUtf8(value, text))
        return E_INVALIDARG;
    const int r =
        av_dict_set(&format_->metadata, key.c_str(), text.empty() ? nullptr : text.c_str(), 0);
    return r < 0 ? E_OUTOFMEMORY : S_OK;
}

// Markers become chapters, which the muxer writes as the Marker object of the header.
HRESULT AudioWriter::AddMarker(const char16_t *name, std::uint64_t time) {
    if (!name)
        return E_POINTER;
    if (state_ != State::Created && state_ != State::InputSet)
        return E_UNEXPECTED;
    std::string title;
    const unsigned count = format_->nb_chapters;
    if (!TextToUtf8(name, title) || time > std::uint64_t(INT64_MAX / 2) ||
        (count > 0 && format_->chapters[count - 1]->start > std::int64_t(time)))
        return E_INVALIDARG;
    return AddChapter(format_, title, std::int64_t(time)) ? S_OK : E_OUTOFMEMORY;
}

HRESULT AudioWriter::Fail(HRESULT status) {
    state_ = State::Failed;
    return status;
}

HRESULT AudioWriter::SetInputFormat(const WAVEFORMATEX *format) {
    if (!format)
        return E_POINTER;
    if (state_ != State::Created && state_ != State::InputSet)
        return E_UNEXPECTED;
    const WAVEFORMATEX &f = *format;
    if (f.wFormatTag != WAVE_FORMAT_PCM || f.wBitsPerSample != 16 || f.nChannels < 1 ||
        f.nChannels > 2 || f.nBlockAlign != f.nChannels * 2 || f.nSamplesPerSec < 1000 ||
        f.nSamplesPerSec > 768000)
        return E_INVALIDARG;
    input_ = f;
    state_ = State::InputSet;
    return S_OK;
}

// The wmav2 encoder for the output, with the frame and packet it fills.
HRESULT AudioWriter::OpenCodec(std::uint32_t bitrate, std::uint32_t sampleRate,
                               std::uint32_t channels) {
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (!codec)
        return E_FAIL;
    codec_ = avcodec_alloc_context3(codec);
    if (!frame_)
        frame_ = av_frame_alloc();
    if (!packet_)
        packet_ = av_packet_alloc();
    if (!codec_ || !frame_ || !packet_)
        return E_OUTOFMEMORY;
    codec_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec_->sample_rate = static_cast<int>(sampleRate);
    codec_->bit_rate = bitrate;
    av_channel_layout_default(&codec_->ch_layout, static_cast<int>(channels));
    codec_->time_base = AVRational{1, codec_->sample_rate};
    if (format_->oformat->flags & AVFMT_GLOBALHEADER)
        codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(codec_, codec, nullptr) < 0) {
        avcodec_free_context(&codec_);
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT AudioWriter::SetOutputFormat(std::uint32_t bitrate, std::uint32_t sampleRate,
                                     std::uint32_t channels, std::uint32_t flags) {
    if (state_ != State::InputSet)
        return E_UNEXPECTED;
    if (flags != 0 || channels < 1 || channels > 2 || sampleRate < 8000 || sampleRate > 48000 ||
        bitrate < 8000 || bitrate > 768000)
        return E_INVALIDARG;
    if (const HRESULT hr = OpenCodec(bitrate, sampleRate, channels); hr < 0)
        return hr;
    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, input_.nChannels);
    int err = swr_alloc_set_opts2(&swr_, &codec_->ch_layout, codec_->sample_fmt,
                                  codec_->sample_rate, &inLayout, AV_SAMPLE_FMT_S16,
                                  static_cast<int>(input_.nSamplesPerSec), 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    if (err < 0 || swr_init(swr_) < 0)
        return Fail(E_FAIL);
    const int frameSize = codec_->frame_size;
    convertedFrames_ = static_cast<int>(av_rescale_rnd(kSliceFrames, codec_->sample_rate,
                                                       input_.nSamplesPerSec, AV_ROUND_UP)) +
                       256;
    if (av_samples_alloc_array_and_samples(&converted_, nullptr, codec_->ch_layout.nb_channels,
                                           convertedFrames_, codec_->sample_fmt, 0) < 0)
        return Fail(E_OUTOFMEMORY);
    fifo_ = av_audio_fifo_alloc(codec_->sample_fmt, codec_->ch_layout.nb_channels,
                                frameSize + convertedFrames_);
    frame_->nb_samples = frameSize;
    frame_->format = codec_->sample_fmt;
    frame_->sample_rate = codec_->sample_rate;
    if (!fifo_ || av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout) < 0 ||
        av_frame_get_buffer(frame_, 0) < 0)
        return Fail(E_OUTOFMEMORY);

    stream_ = avformat_new_stream(format_, nullptr);
    if (!stream_ || avcodec_parameters_from_context(stream_->codecpar, codec_) < 0)
        return Fail(E_FAIL);
    stream_->time_base = codec_->time_base;
    // Keep the header in the output's buffer, so that its count of objects can be set right.
    if (format_->nb_chapters > 0)
        format_->flush_packets = 0;
    if (const int r = avformat_write_header(format_, nullptr); r < 0)
        return Fail(WriteFault(r));
    CountHeaderObjects();
    // Decoders give nothing for the first frame, so the audio starts one silent frame late.
    const HRESULT hr = SendSilence();
    if (hr < 0)
        return Fail(hr);
    state_ = State::Ready;
    return S_OK;
}

// FFmpeg's ASF muxer (5.1) leaves its Marker object out of the header's count of objects,
// which makes readers that go by the count miss the header's last object. While the header
// is still in the output's buffer, its count is set to the objects it holds.
void AudioWriter::CountHeaderObjects() {
    AVIOContext *pb = format_->pb;
    if (format_->nb_chapters == 0 || pb->pos != 0)
        return;
    headerObjects_ = HeaderObjects(pb->buffer, std::size_t(pb->buf_ptr_max - pb->buffer));
    if (headerObjects_ > 0)
        AV_WL32(pb->buffer + 24, headerObjects_);
}

// On a seekable output the trailer writes the header again, with the same objects.
HRESULT AudioWriter::RecountRewrittenHeader() {
    AVIOContext *pb = format_->pb;
    if (headerObjects_ == 0 || !(pb->seekable & AVIO_SEEKABLE_NORMAL))
        return S_OK;
    if (const std::int64_t r = avio_seek(pb, 24, SEEK_SET); r < 0)
        return WriteFault(int(r));
    avio_wl32(pb, headerObjects_);
    return S_OK;
}

HRESULT AudioWriter::Send(AVFrame *frame) {
    if (avcodec_send_frame(codec_, frame) < 0)
        return E_FAIL;
    for (;;) {
        int r = avcodec_receive_packet(codec_, packet_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return S_OK;
        if (r < 0)
            return E_FAIL;
        av_packet_rescale_ts(packet_, codec_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        r = av_write_frame(format_, packet_);
        av_packet_unref(packet_);
        if (r < 0 || format_->pb->error < 0)
            return WriteFault(r);
    }
}

HRESULT AudioWriter::SendSilence() {
    if (av_frame_make_writable(frame_) < 0)
        return E_OUTOFMEMORY;
    av_samples_set_silence(frame_->data, 0, codec_->frame_size, codec_->ch_layout.nb_channels,
                           codec_->sample_fmt);
    frame_->pts = nextPts_;
    nextPts_ += codec_->frame_size;
    return Send(frame_);
}

HRESULT AudioWriter::EncodeFrames(bool final) {
    const int frameSize = codec_->frame_size;
    while (av_audio_fifo_size(fifo_) >= frameSize || (final && av_audio_fifo_size(fifo_) > 0)) {
        if (av_frame_make_writable(frame_) < 0)
            return E_OUTOFMEMORY;
        const int got =
            av_audio_fifo_read(fifo_, reinterpret_cast<void **>(frame_->data), frameSize);
        if (got < 0)
            return E_FAIL;
        if (got < frameSize) // the last frame is padded with silence, never dropped
            av_samples_set_silence(frame_->data, got, frameSize - got,
                                   codec_->ch_layout.nb_channels, codec_->sample_fmt);
        frame_->pts = nextPts_;
        nextPts_ += frameSize;
        HRESULT hr = Send(frame_);
        if (hr < 0)
            return hr;
    }
    return S_OK;
}

HRESULT AudioWriter::Convert(const std::uint8_t *data, int frames, int *produced) {
    const std::uint8_t *in[1] = {data};
    const int out = swr_convert(swr_, converted_, convertedFrames_, data ? in : nullptr, frames);
    if (produced)
        *produced = out;
    if (out < 0)
        return E_FAIL;
    if (out > 0 && av_audio_fifo_write(fifo_, reinterpret_cast<void **>(converted_), out) < out)
        return E_OUTOFMEMORY;
    return S_OK;
}

HRESULT AudioWriter::WriteSamples(const std::uint8_t *data, std::uint32_t byteCount) {
    if (state_ != State::Ready)
        return E_UNEXPECTED;
    if (!data && byteCount)
        return E_POINTER;
    const int align = input_.nBlockAlign;
    HRESULT hr = S_OK;
    if (carried_ > 0 && byteCount > 0) {
        while (carried_ < align && byteCount > 0) {
            carry_[carried_++] = *data++;
            --byteCount;
        }
        if (carried_ == align) {
            carried_ = 0;
            hr = Convert(carry_, 1);
        }
    }
    while (hr >= 0 && byteCount >= static_cast<std::uint32_t>(align)) {
        const std::uint32_t frames =
            std::min<std::uint32_t>(byteCount / align, static_cast<std::uint32_t>(kSliceFrames));
        hr = Convert(data, static_cast<int>(frames));
        if (hr >= 0)
            hr = EncodeFrames(false);
        data += frames * align;
        byteCount -= frames * align;
    }
    while (hr >= 0 && byteCount > 0) {
        carry_[carried_++] = *data++;
        --byteCount;
    }
    return hr < 0 ? Fail(hr) : hr;
}

HRESULT AudioWriter::Flush() {
    if (state_ == State::Finished)
        return S_OK;
    if (state_ != State::Ready)
        return state_ == State::Failed ? E_FAIL : E_UNEXPECTED;
    HRESULT hr = S_OK;
    // Drain what the resampler still holds.
    for (int produced = 1; hr >= 0 && produced > 0;) {
        hr = Convert(nullptr, 0, &produced);
        if (hr >= 0)
            hr = EncodeFrames(false);
    }
    if (hr >= 0)
        hr = EncodeFrames(true);
    // The last frame is only complete once the next one overlaps it.
    if (hr >= 0)
        hr = SendSilence();
    if (hr >= 0)
        hr = Send(nullptr);
    if (hr >= 0) {
        if (const int r = av_write_trailer(format_); r < 0)
            hr = WriteFault(r);
        else
            hr = RecountRewrittenHeader();
    }
    if (format_->pb) {
        avio_flush(format_->pb);
        if (format_->pb->error < 0 && hr >= 0)
            hr = WriteFault(format_->pb->error);
        if (const int r = avio_closep(&format_->pb); r < 0 && hr >= 0)
            hr = WriteFault(r);
    }
    if (hr < 0)
        return Fail(hr);
    state_ = State::Finished;
    return S_OK;
}

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT
WMAudioCreateWriter(const char16_t *path, IWMAudioWriter **writer) {
    if (!writer)
        return E_POINTER;
    *writer = nullptr;
    av_log_set_level(AV_LOG_QUIET);
    std::string utf8;
    if (!path || !Utf16ToUtf8(path, utf8, true) || utf8.empty())
        return E_INVALIDARG;
    auto *w = new AudioWriter;
    const HRESULT hr = w->Create(utf8);
    if (hr < 0) {
        w->Release();
        return hr;
    }
    *writer = w;
    return S_OK;
}
