#include "audio/Mp3FrameDecoder.h"

#include <algorithm>

#include "audio/Ffmpeg.h"

namespace tandrel {

Mp3FrameDecoder::~Mp3FrameDecoder() {
    Close();
}

void Mp3FrameDecoder::Close() {
    if (frame_)
        av_frame_free(&frame_);
    if (packet_)
        av_packet_free(&packet_);
    if (codec_)
        avcodec_free_context(&codec_);
}

bool Mp3FrameDecoder::Open(int channels, int frameSamples) {
    Close();
    channels_ = channels;
    frameSamples_ = frameSamples;
    const AVCodec *codec = LoadFfmpeg() ? avcodec_find_decoder(AV_CODEC_ID_MP3) : nullptr;
    if (!codec || !(codec_ = avcodec_alloc_context3(codec)))
        return false;
    codec_->thread_count = 1;
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    return packet_ && frame_ && avcodec_open2(codec_, codec, nullptr) >= 0;
}

void Mp3FrameDecoder::Decode(const std::uint8_t *data, std::size_t bytes, std::vector<float> &out) {
    const std::size_t at = out.size();
    out.resize(at + std::size_t(frameSamples_) * std::size_t(channels_), 0.0f);
    if (!codec_)
        return;
    packet_->data = const_cast<std::uint8_t *>(data); // the decoder copies what it keeps
    packet_->size = int(bytes);
    if (avcodec_send_packet(codec_, packet_) < 0)
        return;
    while (avcodec_receive_frame(codec_, frame_) == 0) {
        const int channels = frame_->ch_layout.nb_channels;
        const int n = std::min(frame_->nb_samples, frameSamples_);
        for (int c = 0; c < channels_; ++c) {
            const int from = std::min(c, channels - 1);
            for (int i = 0; i < n; ++i) {
                float v = 0.0f;
                if (frame_->format == AV_SAMPLE_FMT_FLTP)
                    v = reinterpret_cast<const float *>(frame_->extended_data[from])[i];
                else if (frame_->format == AV_SAMPLE_FMT_S16P)
                    v = reinterpret_cast<const std::int16_t *>(frame_->extended_data[from])[i] /
                        32768.0f;
                out[at + std::size_t(i) * std::size_t(channels_) + std::size_t(c)] = v;
            }
        }
        av_frame_unref(frame_);
    }
}

} // namespace tandrel
