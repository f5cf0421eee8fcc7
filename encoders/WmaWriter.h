#pragma once

// The WMA audio writer interface, shared by the writer library and its caller.

#include <cstddef>
#include <cstdint>

namespace wmaudsdk {

using HRESULT = std::int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_WRITE_FAULT = static_cast<HRESULT>(0x8007001Du);

// A failure of the file system travels as 0x80FF0000 | errno, so the caller can say why.
constexpr HRESULT HResultFromErrno(int err) {
    return static_cast<HRESULT>(0x80FF0000u | (static_cast<std::uint32_t>(err) & 0xFFFFu));
}
constexpr int ErrnoFromHResult(HRESULT hr) {
    return (static_cast<std::uint32_t>(hr) & 0xFFFF0000u) == 0x80FF0000u
               ? static_cast<int>(static_cast<std::uint32_t>(hr) & 0xFFFFu)
               : 0;
}

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

// Identifies an interface to QueryInterface; compared byte for byte.
struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

constexpr GUID IID_IWMAudioWriter = {
    0x63b0d94a, 0x6cde, 0x4503, {0x82, 0x8a, 0xe8, 0xf0, 0x78, 0x1f, 0x8d, 0x0e}};
constexpr GUID IID_IWMAudioHeaderInfo = {
    0x92a6c4b8, 0x59ad, 0x4306, {0x8c, 0x23, 0x4a, 0x9c, 0xd5, 0x85, 0xe5, 0xae}};

#pragma pack(push, 1)
struct WAVEFORMATEX {
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// Methods sit at fixed places in the table: 0 query interface, 1 add reference, 2 release,
// 3 unused, 4 set input format, 5 set output format, 6 unused, 7 write samples, 8 flush and
// finish. No virtual destructor: it would take places in the table; Release frees the object.
class IWMAudioWriter {
public:
    virtual HRESULT QueryInterface(const void *iid, void **object) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;
    virtual HRESULT Reserved3() = 0;
    virtual HRESULT SetInputFormat(const WAVEFORMATEX *format) = 0;
    virtual HRESULT SetOutputFormat(std::uint32_t bitrate, std::uint32_t sampleRate,
                                    std::uint32_t channels, std::uint32_t flags) = 0;
    virtual HRESULT Reserved6() = 0;
    virtual HRESULT WriteSamples(const std::uint8_t *data, std::uint32_t byteCount) = 0;
    virtual HRESULT Flush() = 0;

protected:
    ~IWMAudioWriter() = default;
};

// What the file's header carries besides the audio, reached from a writer through
// QueryInterface(&IID_IWMAudioHeaderInfo, ...); released on its own. Both methods work only
// before SetOutputFormat writes the header; after it they return E_UNEXPECTED. Libraries
// before this interface answer E_NOINTERFACE.
// Methods: 0 query interface, 1 add reference, 2 release, 3 set attribute, 4 add marker.
class IWMAudioHeaderInfo {
public:
    virtual HRESULT QueryInterface(const void *iid, void **object) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;
    // name: the attribute as Windows Media files name it ("Title", "Author", "Copyright",
    // "Description", "WM/AlbumTitle", "WM/AlbumArtist", "WM/Genre", "WM/Year", ...); value:
    // its text, below 32767 UTF-16 units. A second value for a name replaces the first.
    virtual HRESULT SetAttribute(const char16_t *name, const char16_t *value) = 0;
    // A marker named name (may be empty) at time, in 100-ns units from the audio's first
    // sample; markers come in order of time.
    virtual HRESULT AddMarker(const char16_t *name, std::uint64_t time) = 0;

protected:
    ~IWMAudioHeaderInfo() = default;
};

using WMAudioCreateWriterFn = HRESULT (*)(const char16_t *path, IWMAudioWriter **writer);

} // namespace wmaudsdk
