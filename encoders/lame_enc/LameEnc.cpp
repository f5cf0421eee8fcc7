// BladeEnc-style MP3 encoder library over libmp3lame.

#include "encoders/BladeEnc.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

using namespace bladeenc;

namespace {

struct Stream {
    lame_global_flags *gf = nullptr;
    int channels = 2;
    DWORD chunkSamples = 0; // 16-bit values per chunk, all channels
    DWORD bufferSize = 0;
    bool hasPending = false; // a left sample waiting for its right partner
    short pending = 0;
};

std::mutex streamsLock;
std::map<HBE_STREAM, Stream *> streams;
HBE_STREAM lastHandle = 0;

Stream *Find(HBE_STREAM handle) {
    std::lock_guard<std::mutex> guard(streamsLock);
    auto it = streams.find(handle);
    return it == streams.end() ? nullptr : it->second;
}

int NearestLegalRate(DWORD rate) {
    static const int legal[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    int best = legal[0];
    for (int r : legal) {
        if (std::labs(static_cast<long>(r) - static_cast<long>(rate)) <
            std::labs(static_cast<long>(best) - static_cast<long>(rate)))
            best = r;
    }
    return best;
}

MPEG_mode LameMode(BYTE mode) {
    switch (mode) {
    case BE_MP3_MODE_JSTEREO:
        return JOINT_STEREO;
    case BE_MP3_MODE_DUALCHANNEL:
        return DUAL_CHANNEL;
    case BE_MP3_MODE_MONO:
        return MONO;
    default:
        return STEREO;
    }
}

BE_ERR Configure(lame_global_flags *gf, const BE_CONFIG &cfg, int &channels) {
    const auto &mp3 = cfg.format.mp3;
    if (mp3.dwSampleRate < 1000 || mp3.dwSampleRate > 768000 || mp3.byMode > BE_MP3_MODE_MONO ||
        mp3.wBitrate == 0 || mp3.wBitrate > 320)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    channels = mp3.byMode == BE_MP3_MODE_MONO ? 1 : 2;
    lame_set_num_channels(gf, channels);
    lame_set_in_samplerate(gf, static_cast<int>(mp3.dwSampleRate));
    lame_set_out_samplerate(gf, NearestLegalRate(mp3.dwSampleRate));
    lame_set_mode(gf, LameMode(mp3.byMode));
    lame_set_VBR(gf, vbr_off);
    lame_set_brate(gf, mp3.wBitrate);
    lame_set_error_protection(gf, mp3.bCRC ? 1 : 0);
    lame_set_copyright(gf, mp3.bCopyright ? 1 : 0);
    lame_set_original(gf, mp3.bOriginal ? 1 : 0);
    lame_set_extension(gf, mp3.bPrivate ? 1 : 0);
    // Only what the caller asked for: no tags, no Info frame it could never fill in, no analysis.
    lame_set_bWriteVbrTag(gf, 0);
    lame_set_write_id3tag_automatic(gf, 0);
    lame_set_findReplayGain(gf, 0);
    lame_set_decode_on_the_fly(gf, 0);
    return lame_init_params(gf) < 0 ? BE_ERR_INVALID_FORMAT_PARAMETERS : BE_ERR_SUCCESSFUL;
}

// The LAME form of the configuration (LHV1): the plain form's settings and the encoding
// quality (0 best to 9 fastest), valid when its high byte is the complement of the low one.
// Only constant bitrates are taken, as in the plain form; a stream without the bit reservoir or
// strictly to the standard is refused rather than made otherwise, and presets, emphasis and
// the MPEG version (the rate decides it) are not looked at.
BE_ERR ConfigureLame(lame_global_flags *gf, const BE_CONFIG &cfg, int &channels) {
    const auto &l = cfg.format.LHV1;
    if (l.dwStructVersion != 1 || l.dwStructSize != sizeof(BE_CONFIG) || l.bEnableVBR || l.bNoRes ||
        l.bStrictIso || l.nMode < 0 || l.nMode > BE_MP3_MODE_MONO || l.dwBitrate > 320 ||
        (l.dwReSampleRate != 0 && l.dwReSampleRate != l.dwSampleRate))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    const int quality = l.nQuality & 0xFF;
    if ((l.nQuality >> 8) == (~quality & 0xFF) && quality <= 9)
        lame_set_quality(gf, quality);
    BE_CONFIG plain{};
    plain.dwConfig = BE_CONFIG_MP3;
    plain.format.mp3 = {l.dwSampleRate, BYTE(l.nMode), WORD(l.dwBitrate), l.bPrivate,
                        l.bCRC,         l.bCopyright,  l.bOriginal};
    return Configure(gf, plain, channels);
}

void SilentLog(const char *, va_list) {}

} // namespace

extern "C" {

__attribute__((visibility("default"))) BE_ERR beInitStream(BE_CONFIG *config, DWORD *samples,
                                                           DWORD *bufferSize, HBE_STREAM *stream) {
    if (!config || !samples || !bufferSize || !stream)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (config->dwConfig != BE_CONFIG_MP3 && config->dwConfig != BE_CONFIG_LAME)
        return BE_ERR_INVALID_FORMAT;
    lame_global_flags *gf = lame_init();
    if (!gf)
        return BE_ERR_NO_MORE_HANDLES;
    lame_set_errorf(gf, SilentLog);
    lame_set_debugf(gf, SilentLog);
    lame_set_msgf(gf, SilentLog);
    int channels = 2;
    BE_ERR err = config->dwConfig == BE_CONFIG_LAME ? ConfigureLame(gf, *config, channels)
                                                    : Configure(gf, *config, channels);
    if (err != BE_ERR_SUCCESSFUL) {
        lame_close(gf);
        return err;
    }
    auto *s = new Stream;
    s->gf = gf;
    s->channels = channels;
    s->chunkSamples = static_cast<DWORD>(lame_get_framesize(gf) * channels);
    // Worst case: 1.25 bytes per sample and frame overhead, scaled when the encoder upsamples.
    const double ratio =
        std::max(1.0, double(lame_get_out_samplerate(gf)) / lame_get_in_samplerate(gf));
    const double perChannel = double(lame_get_framesize(gf)) * ratio + 1152;
    s->bufferSize = static_cast<DWORD>(2.5 * perChannel * channels) + 7200;
    {
        std::lock_guard<std::mutex> guard(streamsLock);
        do {
            ++lastHandle;
        } while (lastHandle == 0 || streams.count(lastHandle));
        streams[lastHandle] = s;
        *stream = lastHandle;
    }
    *samples = s->chunkSamples;
    *bufferSize = s->bufferSize;
    return BE_ERR_SUCCESSFUL;
}

__attribute__((visibility("default"))) BE_ERR beEncodeChunk(HBE_STREAM stream, DWORD samples,
                                                            const std::int16_t *pcm, BYTE *output,
                                                            DWORD *written) {
    Stream *s = Find(stream);
    if (!s)
        return BE_ERR_INVALID_HANDLE;
    if (!written || !output || (samples && !pcm))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *written = 0;
    if (samples > s->chunkSamples)
        return BE_ERR_BUFFER_TOO_SMALL;
    int n;
    const int room = static_cast<int>(s->bufferSize);
    if (s->channels == 1) {
        n = lame_encode_buffer(s->gf, pcm, pcm, static_cast<int>(samples), output, room);
    } else {
        // Interleaved pairs; an odd value is held back for the next chunk.
        short first[2];
        int done = 0;
        n = 0;
        if (s->hasPending && samples > 0) {
            first[0] = s->pending;
            first[1] = pcm[0];
            s->hasPending = false;
            n = lame_encode_buffer_interleaved(s->gf, first, 1, output, room);
            ++pcm;
            --samples;
        }
        if (n >= 0) {
            const DWORD pairs = samples / 2;
            done = lame_encode_buffer_interleaved(s->gf, const_cast<short *>(pcm),
                                                  static_cast<int>(pairs), output + n, room - n);
            n = done < 0 ? done : n + done;
            if (samples % 2) {
                s->pending = pcm[samples - 1];
                s->hasPending = true;
            }
        }
    }
    if (n < 0)
        return n == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_INVALID_FORMAT_PARAMETERS;
    *written = static_cast<DWORD>(n);
    return BE_ERR_SUCCESSFUL;
}

__attribute__((visibility("default"))) BE_ERR beDeinitStream(HBE_STREAM stream, BYTE *output,
                                                             DWORD *written) {
    Stream *s = Find(stream);
    if (!s)
        return BE_ERR_INVALID_HANDLE;
    if (!output || !written)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    int n = lame_encode_flush(s->gf, output, static_cast<int>(s->bufferSize));
    if (n < 0) {
        *written = 0;
        return BE_ERR_BUFFER_TOO_SMALL;
    }
    *written = static_cast<DWORD>(n);
    return BE_ERR_SUCCESSFUL;
}

__attribute__((visibility("default"))) BE_ERR beCloseStream(HBE_STREAM stream) {
    Stream *s = nullptr;
    {
        std::lock_guard<std::mutex> guard(streamsLock);
        auto it = streams.find(stream);
        if (it == streams.end())
            return BE_ERR_INVALID_HANDLE;
        s = it->second;
        streams.erase(it);
    }
    lame_close(s->gf);
    delete s;
    return BE_ERR_SUCCESSFUL;
}

__attribute__((visibility("default"))) void beVersion(BE_VERSION *version) {
    if (!version)
        return;
    std::memset(version, 0, sizeof *version);
    lame_version_t v;
    get_lame_version_numerical(&v);
    version->byDLLMajorVersion = 1;
    version->byDLLMinorVersion = 32;
    version->byMajorVersion = static_cast<BYTE>(v.major);
    version->byMinorVersion = static_cast<BYTE>(v.minor);
    version->byAlphaLevel = static_cast<BYTE>(v.alpha);
    version->byBetaLevel = static_cast<BYTE>(v.beta);
    std::strncpy(version->zHomepage, get_lame_url(), BE_MAX_HOMEPAGE);
}

} // extern "C"
