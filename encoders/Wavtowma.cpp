#include "encoders/Wavtowma.h"

#include "audio/Ffmpeg.h"
#include "common/Messages.h"
#include "encoders/EncoderLibrary.h"
#include "lang/MessageTexts.h"

#include <cmath>
#include <cstring>
#include <dlfcn.h>

using namespace wmaudsdk;
using tandrel::Msg;
using tandrel::MsgText;

namespace {

void Say(const std::string &text) {
    tandrel::ShowMessage(MsgText(Msg::WmaCaption), text, tandrel::MsgIcon::None);
}

// Bytes that are not valid UTF-8 travel as U+DC80..U+DCFF, so that any file name gets through.
std::u16string ToUtf16(const std::string &text) {
    std::u16string out;
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        std::uint32_t c = 0;
        std::size_t len = 0;
        if (b < 0x80) {
            c = b;
            len = 1;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            len = 4;
        }
        bool valid = len > 0 && i + len <= n;
        for (std::size_t k = 1; valid && k < len; ++k) {
            valid = (p[i + k] & 0xC0) == 0x80;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        static const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && c >= least[len] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
        if (!valid) {
            out += static_cast<char16_t>(0xDC00 + b);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += len;
    }
    return out;
}

} // namespace

// The library stands on FFmpeg: loaded by us first, FFmpeg stays when the library is closed,
// and with it what FFmpeg keeps for the rest of the run.
WavToWma::WavToWma() {
    tandrel::LoadFfmpeg();
    Load(tandrel::LoadProgramEncoderLibrary("wmaudsdk.so"));
}

WavToWma::WavToWma(const std::string &libraryFolder) {
    tandrel::LoadFfmpeg();
    Load(tandrel::LoadEncoderLibrary(libraryFolder, "wmaudsdk.so"));
}

void WavToWma::Load(void *library) {
    Library = library;
    if (!Library) {
        Say(MsgText(Msg::WmaNotLoaded));
        return;
    }
    tandrel::ResolveEntryPoint(Library, "WMAudioCreateWriter", CreateWriter,
                               MsgText(Msg::WmaCaption));
}

WavToWma::~WavToWma() {
    if (Writer) {
        Writer->Flush();
        Drop();
    }
    if (Library)
        dlclose(Library);
    Library = nullptr;
    CreateWriter = nullptr;
}

void WavToWma::Drop() {
    Writer->Release();
    Writer = nullptr;
}

// Before SetOutputFormat, which writes the header.
void WavToWma::DescribeHeader() {
    if (Attributes.empty() && Markers.empty())
        return;
    void *object = nullptr;
    if (Writer->QueryInterface(&IID_IWMAudioHeaderInfo, &object) < 0 || !object)
        return;
    auto *info = static_cast<IWMAudioHeaderInfo *>(object);
    for (const auto &[name, value] : Attributes)
        info->SetAttribute(ToUtf16(name).c_str(), ToUtf16(value).c_str());
    for (const auto &[name, seconds] : Markers)
        info->AddMarker(ToUtf16(name).c_str(),
                        seconds > 0 ? std::uint64_t(std::llround(seconds * 1e7)) : 0);
    info->Release();
}

int WavToWma::Open(const std::string &FileName, int SampleRate, int Channels, unsigned Bitrate) {
    if (!CreateWriter)
        return -1;
    if (Writer) // a second Open abandons the unfinished file
        Drop();
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<std::uint16_t>(Channels);
    format.nSamplesPerSec = static_cast<std::uint32_t>(SampleRate);
    format.nBlockAlign = static_cast<std::uint16_t>(format.nChannels * 2);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.wBitsPerSample = 16;
    format.cbSize = 0;

    const std::u16string path = ToUtf16(FileName);
    const std::string &shown = ShownName.empty() ? FileName : ShownName;
    IWMAudioWriter *writer = nullptr;
    Status = CreateWriter(path.c_str(), &writer);
    if (Status < 0 || !writer) {
        const int err = ErrnoFromHResult(Status);
        if (err && OnFileError)
            OnFileError(err);
        else
            Say(err ? tandrel::MsgLines(Msg::WmaWriterFailed, shown, std::strerror(err))
                    : MsgText(Msg::WmaWriterFailed));
        return -1;
    }
    Writer = writer;
    if (Writer->SetInputFormat(&format) < 0) {
        Drop();
        Say(MsgText(Msg::WmaInputFormatFailed));
        return -1;
    }
    DescribeHeader();
    if (const HRESULT hr = Writer->SetOutputFormat(Bitrate, 44100, 2, 0); hr < 0) {
        Drop();
        // The header is written here: a write that failed names the file and the reason.
        const int err = ErrnoFromHResult(hr);
        if (err && OnFileError)
            OnFileError(err);
        else
            Say(err ? tandrel::MsgLines(Msg::WmaOutputFormatFailed, shown, std::strerror(err))
                    : MsgText(Msg::WmaOutputFormatFailed));
        return -1;
    }
    return 16384;
}

bool WavToWma::Write(const void *Samples, unsigned ByteCount) {
    if (ByteCount == 0)
        return true;
    if (!Writer || !Samples)
        return false;
    const HRESULT hr = Writer->WriteSamples(static_cast<const std::uint8_t *>(Samples), ByteCount);
    if (hr < 0)
        Status = hr;
    return hr >= 0;
}

bool WavToWma::Close() {
    if (!Writer)
        return true;
    if (const HRESULT hr = Writer->Flush(); hr < 0) {
        Status = hr;
        return false;
    }
    Drop();
    return true;
}
