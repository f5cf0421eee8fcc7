#pragma once

// FFmpeg for the engine, its libraries opened on first use instead of at start: a join of WAV
// files never needs them, and loading them and all they pull in would cost more than
// copying minutes of audio. Include this instead of FFmpeg's own headers; inside namespace
// tandrel, FFmpeg's functions are called by their own names.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace tandrel {

// Opens FFmpeg's libraries once; false when they cannot be opened.
bool LoadFfmpeg();
// The function of that name in FFmpeg's libraries, opening them first. Ends the program with
// a message when it is missing: the engine was built against them.
void *FfmpegFunction(const char *name);

namespace ffmpeg {

template <typename F> struct Lazy;
template <typename R, typename... A> struct Lazy<R(A...)> {
    template <const char *Name> static R Call(A... args) {
        static const auto function = reinterpret_cast<R (*)(A...)>(FfmpegFunction(Name));
        return function(args...);
    }
};

} // namespace ffmpeg

// The functions' attributes (malloc, alloc_size) mean nothing to a call passed on.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"
#define TANDREL_FFMPEG(name)                                                                       \
    namespace ffmpeg {                                                                             \
    inline constexpr char k_##name[] = #name;                                                      \
    }                                                                                              \
    inline constexpr auto name = &ffmpeg::Lazy<decltype(::name)>::Call<ffmpeg::k_##name>;
TANDREL_FFMPEG(av_channel_layout_check)
TANDREL_FFMPEG(av_channel_layout_copy)
TANDREL_FFMPEG(av_channel_layout_default)
TANDREL_FFMPEG(av_channel_layout_from_mask)
TANDREL_FFMPEG(av_channel_layout_uninit)
TANDREL_FFMPEG(av_codec_get_id)
TANDREL_FFMPEG(av_find_best_stream)
TANDREL_FFMPEG(av_frame_alloc)
TANDREL_FFMPEG(av_frame_free)
TANDREL_FFMPEG(av_frame_get_buffer)
TANDREL_FFMPEG(av_frame_get_side_data)
TANDREL_FFMPEG(av_frame_make_writable)
TANDREL_FFMPEG(av_frame_unref)
TANDREL_FFMPEG(av_free)
TANDREL_FFMPEG(av_freep)
TANDREL_FFMPEG(av_get_bytes_per_sample)
TANDREL_FFMPEG(av_get_packed_sample_fmt)
TANDREL_FFMPEG(av_log_set_level)
TANDREL_FFMPEG(av_malloc)
TANDREL_FFMPEG(av_opt_set)
TANDREL_FFMPEG(av_opt_set_double)
TANDREL_FFMPEG(av_opt_set_int)
TANDREL_FFMPEG(av_packet_alloc)
TANDREL_FFMPEG(av_packet_free)
TANDREL_FFMPEG(av_packet_unref)
TANDREL_FFMPEG(av_probe_input_format)
TANDREL_FFMPEG(av_read_frame)
TANDREL_FFMPEG(av_rescale)
TANDREL_FFMPEG(av_rescale_q)
TANDREL_FFMPEG(av_sample_fmt_is_planar)
TANDREL_FFMPEG(av_samples_set_silence)
TANDREL_FFMPEG(av_strdup)
TANDREL_FFMPEG(avcodec_alloc_context3)
TANDREL_FFMPEG(avcodec_descriptor_get)
TANDREL_FFMPEG(avcodec_find_decoder)
TANDREL_FFMPEG(avcodec_free_context)
TANDREL_FFMPEG(avcodec_get_name)
TANDREL_FFMPEG(avcodec_open2)
TANDREL_FFMPEG(avcodec_parameters_to_context)
TANDREL_FFMPEG(avcodec_receive_frame)
TANDREL_FFMPEG(avcodec_send_packet)
TANDREL_FFMPEG(avformat_alloc_context)
TANDREL_FFMPEG(avformat_close_input)
TANDREL_FFMPEG(avformat_find_stream_info)
TANDREL_FFMPEG(avformat_get_mov_audio_tags)
TANDREL_FFMPEG(avformat_open_input)
TANDREL_FFMPEG(avio_alloc_context)
TANDREL_FFMPEG(avio_context_free)
TANDREL_FFMPEG(swr_alloc_set_opts2)
TANDREL_FFMPEG(swr_convert)
TANDREL_FFMPEG(swr_free)
TANDREL_FFMPEG(swr_get_out_samples)
TANDREL_FFMPEG(swr_init)
#undef TANDREL_FFMPEG
#pragma GCC diagnostic pop

} // namespace tandrel
