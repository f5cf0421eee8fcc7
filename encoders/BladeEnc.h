#pragma once

// The BladeEnc-style interface of the MP3 encoder library, shared by the library and its caller.

#include <cstddef>
#include <cstdint>

namespace bladeenc {

using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using BYTE = std::uint8_t;
using BOOL = std::int32_t;
using BE_ERR = std::uint32_t;
using HBE_STREAM = std::uint32_t;

constexpr DWORD BE_CONFIG_MP3 = 0;
constexpr DWORD BE_CONFIG_LAME = 256;

constexpr BE_ERR BE_ERR_SUCCESSFUL = 0;
constexpr BE_ERR BE_ERR_INVALID_FORMAT = 1;
constexpr BE_ERR BE_ERR_INVALID_FORMAT_PARAMETERS = 2;
constexpr BE_ERR BE_ERR_NO_MORE_HANDLES = 3;
constexpr BE_ERR BE_ERR_INVALID_HANDLE = 4;
constexpr BE_ERR BE_ERR_BUFFER_TOO_SMALL = 5;

constexpr BYTE BE_MP3_MODE_STEREO = 0;
constexpr BYTE BE_MP3_MODE_JSTEREO = 1;
constexpr BYTE BE_MP3_MODE_DUALCHANNEL = 2;
constexpr BYTE BE_MP3_MODE_MONO = 3;

constexpr int BE_MAX_HOMEPAGE = 128;

#pragma pack(push, 1)

struct BE_CONFIG {
    DWORD dwConfig;
    union {
        struct {
            DWORD dwSampleRate;
            BYTE byMode;
            WORD wBitrate;
            BOOL bPrivate;
            BOOL bCRC;
            BOOL bCopyright;
            BOOL bOriginal;
        } mp3;
        struct {
            DWORD dwStructVersion;
            DWORD dwStructSize;
            DWORD dwSampleRate;
            DWORD dwReSampleRate;
            std::int32_t nMode;
            DWORD dwBitrate;
            DWORD dwMaxBitrate;
            std::int32_t nPreset;
            DWORD dwMpegVersion;
            DWORD dwPsyModel;
            DWORD dwEmphasis;
            BOOL bPrivate;
            BOOL bCRC;
            BOOL bCopyright;
            BOOL bOriginal;
            BOOL bWriteVBRHeader;
            BOOL bEnableVBR;
            std::int32_t nVBRQuality;
            DWORD dwVbrAbr_bps;
            std::int32_t nVbrMethod;
            BOOL bNoRes;
            BOOL bStrictIso;
            WORD nQuality;
            BYTE btReserved[255 - 4 * sizeof(DWORD) - sizeof(WORD)];
        } LHV1;
        struct {
            DWORD dwSampleRate;
            BYTE byMode;
            WORD wBitrate;
            BYTE byEncodingMethod;
        } aac;
    } format;
};

struct BE_VERSION {
    BYTE byDLLMajorVersion;
    BYTE byDLLMinorVersion;
    BYTE byMajorVersion;
    BYTE byMinorVersion;
    BYTE byDay;
    BYTE byMonth;
    WORD wYear;
    char zHomepage[BE_MAX_HOMEPAGE + 1];
    BYTE byAlphaLevel;
    BYTE byBetaLevel;
    BYTE byMMXEnabled;
    BYTE btReserved[125];
};

#pragma pack(pop)

static_assert(offsetof(BE_CONFIG, dwConfig) == 0);
static_assert(offsetof(BE_CONFIG, format.mp3.dwSampleRate) == 4);
static_assert(offsetof(BE_CONFIG, format.mp3.byMode) == 8);
static_assert(offsetof(BE_CONFIG, format.mp3.wBitrate) == 9);
static_assert(offsetof(BE_CONFIG, format.mp3.bPrivate) == 11);
static_assert(offsetof(BE_CONFIG, format.mp3.bCRC) == 15);
static_assert(offsetof(BE_CONFIG, format.mp3.bCopyright) == 19);
static_assert(offsetof(BE_CONFIG, format.mp3.bOriginal) == 23);
static_assert(sizeof(BE_CONFIG) == 4 + 327);
static_assert(sizeof(BE_VERSION) == 8 + BE_MAX_HOMEPAGE + 1 + 3 + 125);

using BEINITSTREAM = BE_ERR (*)(BE_CONFIG *config, DWORD *samples, DWORD *bufferSize,
                                HBE_STREAM *stream);
using BEENCODECHUNK = BE_ERR (*)(HBE_STREAM stream, DWORD samples, const std::int16_t *pcm,
                                 BYTE *output, DWORD *written);
using BEDEINITSTREAM = BE_ERR (*)(HBE_STREAM stream, BYTE *output, DWORD *written);
using BECLOSESTREAM = BE_ERR (*)(HBE_STREAM stream);
using BEVERSION = void (*)(BE_VERSION *version);

} // namespace bladeenc

namespace bladeenc {

// The library's entry points.
struct Api {
    BEINITSTREAM initStream = nullptr;
    BEENCODECHUNK encodeChunk = nullptr;
    BEVERSION version = nullptr;
    BEDEINITSTREAM deinitStream = nullptr;
    BECLOSESTREAM closeStream = nullptr;
};

// Opens a stream and checks the chunk sizes it asks for; a refused stream is left closed.
inline bool OpenStream(const Api &api, BE_CONFIG &config, DWORD &samples, DWORD &bufferSize,
                       HBE_STREAM &stream) {
    if (api.initStream(&config, &samples, &bufferSize, &stream) != BE_ERR_SUCCESSFUL)
        return false;
    if (samples == 0 || samples > (1u << 24) || bufferSize == 0 || bufferSize > (1u << 26)) {
        api.closeStream(stream);
        return false;
    }
    return true;
}

} // namespace bladeenc
