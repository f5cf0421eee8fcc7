#include "encoders/Wavtomp3.h"

#include "common/Messages.h"
#include "encoders/EncoderLibrary.h"
#include "lang/MessageTexts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

using namespace bladeenc;
using tandrel::Msg;
using tandrel::MsgText;

namespace {

void Say(const std::string &text) {
    tandrel::ShowMessage(MsgText(Msg::LameCaption), text, tandrel::MsgIcon::None);
}

} // namespace

WavToMp3::WavToMp3() {
    Load(tandrel::LoadProgramEncoderLibrary("lame_enc.so"));
}

WavToMp3::WavToMp3(const std::string &libraryFolder) {
    Load(tandrel::LoadEncoderLibrary(libraryFolder, "lame_enc.so"));
}

void WavToMp3::Load(void *library) {
    Library = library;
    if (!Library) {
        Say(MsgText(Msg::LameNotLoaded));
        return;
    }
    // In this order; the first one missing is reported and the rest are not looked for.
    const std::string caption = MsgText(Msg::LameCaption);
    tandrel::ResolveEntryPoint(Library, "beInitStream", Lib.initStream, caption) &&
        tandrel::ResolveEntryPoint(Library, "beEncodeChunk", Lib.encodeChunk, caption) &&
        tandrel::ResolveEntryPoint(Library, "beVersion", Lib.version, caption) &&
        tandrel::ResolveEntryPoint(Library, "beDeinitStream", Lib.deinitStream, caption) &&
        tandrel::ResolveEntryPoint(Library, "beCloseStream", Lib.closeStream, caption);
}

WavToMp3::~WavToMp3() {
    Close();
    if (Library)
        dlclose(Library);
    Library = nullptr;
    Lib = {};
}

unsigned WavToMp3::SnapBitrate(unsigned kbps) {
    static const unsigned limits[][2] = {{36, 32},   {44, 40},   {52, 48},   {60, 56},   {67, 64},
                                         {88, 80},   {104, 96},  {120, 112}, {144, 128}, {176, 160},
                                         {208, 192}, {240, 224}, {288, 256}};
    for (const auto &l : limits) {
        if (kbps <= l[0])
            return l[1];
    }
    return 320;
}

std::uint8_t WavToMp3::LibraryMode(int mode) {
    switch (mode) {
    case 2:
        return BE_MP3_MODE_JSTEREO;
    case 3:
        return BE_MP3_MODE_DUALCHANNEL;
    case 4:
        return BE_MP3_MODE_MONO;
    default:
        return BE_MP3_MODE_STEREO;
    }
}

const Api *WavToMp3::Entries() const {
    return Lib.initStream && Lib.encodeChunk && Lib.version && Lib.deinitStream && Lib.closeStream
               ? &Lib
               : nullptr;
}

BE_CONFIG WavToMp3::MakeConfig(int SampleRate, int Mode, unsigned Bitrate, bool Copyright, bool Crc,
                               bool Original, bool Private) {
    BE_CONFIG config{};
    config.dwConfig = BE_CONFIG_MP3;
    config.format.mp3.dwSampleRate = SampleRate > 0 ? static_cast<DWORD>(SampleRate) : 0;
    config.format.mp3.byMode = LibraryMode(Mode);
    config.format.mp3.wBitrate = static_cast<WORD>(SnapBitrate(Bitrate));
    config.format.mp3.bPrivate = Private ? 1 : 0;
    config.format.mp3.bCRC = Crc ? 1 : 0;
    config.format.mp3.bCopyright = Copyright ? 1 : 0;
    config.format.mp3.bOriginal = Original ? 1 : 0;
    return config;
}

BE_CONFIG WavToMp3::WithQuality(const BE_CONFIG &plain, int quality) {
    const auto &mp3 = plain.format.mp3;
    BE_CONFIG config{};
    config.dwConfig = BE_CONFIG_LAME;
    auto &l = config.format.LHV1;
    l.dwStructVersion = 1;
    l.dwStructSize = sizeof(BE_CONFIG);
    l.dwSampleRate = mp3.dwSampleRate;
    l.nMode = mp3.byMode;
    l.dwBitrate = mp3.wBitrate;
    l.bPrivate = mp3.bPrivate;
    l.bCRC = mp3.bCRC;
    l.bCopyright = mp3.bCopyright;
    l.bOriginal = mp3.bOriginal;
    l.nQuality = WORD((~quality & 0xFF) << 8 | (quality & 0xFF));
    return config;
}

void WavToMp3::FileError(Msg text, int err) {
    Say(tandrel::MsgLines(text, OutputName, std::strerror(err ? err : EIO)));
}

int WavToMp3::Open(const std::string &FileName, int SampleRate, int Mode, unsigned Bitrate,
                   bool Copyright, bool Crc, bool Original, bool Private) {
    return Open(-1, FileName, SampleRate, Mode, Bitrate, Copyright, Crc, Original, Private);
}

int WavToMp3::Open(int Fd, const std::string &FileName, int SampleRate, int Mode, unsigned Bitrate,
                   bool Copyright, bool Crc, bool Original, bool Private) {
    if (!Entries())
        return -1;
    Close();
    BE_CONFIG config = MakeConfig(SampleRate, Mode, Bitrate, Copyright, Crc, Original, Private);
    DWORD samples = 0;
    DWORD bufferSize = 0;
    if (!OpenStream(Lib, config, samples, bufferSize, Stream)) {
        Say(MsgText(Msg::LameNotInitialized));
        return -1;
    }
    StreamOpen = true;
    OutputName = FileName;
    if (Fd >= 0) {
        const int own = ::fcntl(Fd, F_DUPFD_CLOEXEC, 3);
        OutputFile = own >= 0 ? ::fdopen(own, "wb") : nullptr;
        if (!OutputFile && own >= 0) {
            const int err = errno;
            ::close(own);
            errno = err;
        }
    } else {
        OutputFile = std::fopen(FileName.c_str(), "wbe");
    }
    if (!OutputFile) {
        const int err = errno;
        Lib.closeStream(Stream);
        StreamOpen = false;
        FileError(Msg::CannotCreateFile, err);
        return -1;
    }
    OutputBuffer.assign(bufferSize, 0);
    WriteError = false;
    ChunkBytes = static_cast<int>(samples * 2);
    return ChunkBytes;
}

bool WavToMp3::WriteOut(std::uint32_t bytes) {
    if (bytes > OutputBuffer.size())
        bytes = static_cast<std::uint32_t>(OutputBuffer.size());
    errno = 0;
    if (bytes == 0 || std::fwrite(OutputBuffer.data(), 1, bytes, OutputFile) == bytes)
        return true;
    if (!WriteError)
        FileError(Msg::CannotWriteFile, errno);
    WriteError = true;
    return false;
}

int WavToMp3::Encode(const void *Samples, int ByteCount) {
    if (!StreamOpen || !OutputFile || ByteCount < 0 || (!Samples && ByteCount > 0))
        return -1;
    const auto *pcm = static_cast<const std::int16_t *>(Samples);
    int total = 0;
    DWORD left = static_cast<DWORD>(ByteCount) / 2;
    // A caller that hands over more than a chunk gets it encoded chunk by chunk.
    do {
        const DWORD count = std::min<DWORD>(left, static_cast<DWORD>(ChunkBytes / 2));
        Written = 0;
        if (Lib.encodeChunk(Stream, count, pcm, OutputBuffer.data(), &Written) !=
            BE_ERR_SUCCESSFUL) {
            Say(MsgText(Msg::LameCompressionFailed));
            return -1;
        }
        if (!WriteOut(Written))
            return -1;
        total += static_cast<int>(Written);
        pcm += count;
        left -= count;
    } while (left > 0);
    return total;
}

bool WavToMp3::Close() {
    bool ok = true;
    if (StreamOpen) {
        Written = 0;
        if (Lib.deinitStream(Stream, OutputBuffer.data(), &Written) != BE_ERR_SUCCESSFUL)
            ok = false;
        else if (OutputFile)
            ok = WriteOut(Written);
        Lib.closeStream(Stream);
        StreamOpen = false;
    }
    if (OutputFile) {
        errno = 0;
        if (std::fclose(OutputFile) != 0) {
            if (!WriteError)
                FileError(Msg::CannotWriteFile, errno);
            WriteError = true;
        }
        OutputFile = nullptr;
        ok = ok && !WriteError;
    }
    OutputBuffer.clear();
    OutputBuffer.shrink_to_fit();
    return ok;
}
