#include "audio/Probe.h"

#include "audio/Bass.h"
#include "audio/FileAccess.h"
#include "audio/Waveinf.h"

#include <sys/stat.h>

namespace tandrel {
namespace {

Refusal ProbeStream(const std::string &path, bool wma, ProbedFile &out) {
    const Refusal refusal = wma ? Refusal::NotWMAInfo : Refusal::NotMP3Info;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return refusal;
    HSTREAM h = wma ? BASS_WMA_StreamCreateFile(0, path.c_str(), 0, 0, 0)
                    : BASS_StreamCreateFile(0, path.c_str(), 0, 0, 0);
    if (h == 0)
        return refusal;
    BASS_CHANNELINFO info{};
    BASS_ChannelGetInfo(h, &info);
    const QWORD length = BASS_ChannelGetLength(h, BASS_POS_BYTE);
    const double seconds = BASS_ChannelBytes2Seconds(h, length);
    out.pcmBytes = length;
    out.fileBytes = static_cast<std::uint64_t>(st.st_size);
    out.container = wma ? "ASF" : "MP3";
    out.codec = GetStreamCodecName(h);
    StreamCompleteness completeness;
    if (GetStreamCompleteness(h, completeness) && completeness.exactLength)
        out.exactBytes = static_cast<std::int64_t>(length);
    BASS_StreamFree(h);
    out.sampleRate = info.freq;
    out.channels = info.chans;
    out.bits = info.flags == BASS_SAMPLE_8BITS ? 8 : info.flags == BASS_SAMPLE_FLOAT ? 32 : 16;
    out.sizeKB = static_cast<std::uint64_t>(st.st_size) / 1024;
    out.seconds = seconds > 0 && seconds < 4294967295.0 ? static_cast<std::uint32_t>(seconds) : 0;
    return Refusal::None;
}

const char *PcmCodecName(std::uint32_t bits) {
    switch (bits) {
    case 8:
        return "pcm_u8";
    case 16:
        return "pcm_s16le";
    case 24:
        return "pcm_s24le";
    case 32:
        return "pcm_s32le";
    }
    return "pcm";
}

} // namespace

namespace {

// Each refusal's [OpenDialog] key and its English text.
struct RefusalText {
    Refusal refusal;
    const char *key;
    const char *english;
};
constexpr RefusalText kRefusalTexts[] = {
    {Refusal::NotPCM, "NotPCM", "This file is not a PCM wave file that can be joined."},
    {Refusal::NotMP3Info, "NotMP3Info", "This MP3 file cannot be read."},
    {Refusal::NotWMAInfo, "NotWMAInfo", "This WMA file cannot be read."},
    {Refusal::NotSupport, "NotSupport", "This type of file is not supported."},
    {Refusal::NoAudio, "NoAudio", "This file cannot be joined: it holds no audio."}};

const RefusalText *TextOf(Refusal refusal) {
    for (const RefusalText &t : kRefusalTexts)
        if (t.refusal == refusal)
            return &t;
    return nullptr;
}

} // namespace

const char *RefusalKey(Refusal refusal) {
    const RefusalText *t = TextOf(refusal);
    return t ? t->key : "";
}

const char *RefusalEnglish(Refusal refusal) {
    const RefusalText *t = TextOf(refusal);
    return t ? t->english : "";
}

Refusal ProbeFile(const std::string &path, ProbedFile &out) {
    out = ProbedFile{};
    out.kind = KindOf(path);
    switch (out.kind) {
    case AudioKind::Wav: {
        TWaveInfo info{};
        WavChunks chunks;
        if (!ReadWaveInfo(path, info, &chunks))
            return Refusal::NotPCM;
        out.sampleRate = static_cast<std::uint32_t>(info.SampleRate);
        out.channels = static_cast<std::uint32_t>(info.Channels);
        out.bits = static_cast<std::uint32_t>(info.BitsPerSample);
        // TWaveInfo stops at 4 GiB; RF64 files go beyond.
        const std::uint64_t byteRate = std::uint64_t(out.sampleRate) * out.channels * out.bits / 8;
        const std::uint64_t seconds = chunks.availableBytes / byteRate;
        out.sizeKB = (chunks.availableBytes + 44) >> 10;
        out.seconds = seconds > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<std::uint32_t>(seconds);
        out.exactBytes = static_cast<std::int64_t>(chunks.availableBytes);
        out.pcmBytes = chunks.availableBytes;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0)
            out.fileBytes = static_cast<std::uint64_t>(st.st_size);
        out.container = chunks.rf64 ? "RF64" : "WAV";
        out.codec = PcmCodecName(out.bits);
        return chunks.availableBytes < std::uint64_t(out.channels) * out.bits / 8 ? Refusal::NoAudio
                                                                                  : Refusal::None;
    }
    case AudioKind::Mp3:
    case AudioKind::Wma: {
        const Refusal refusal = ProbeStream(path, out.kind == AudioKind::Wma, out);
        return refusal == Refusal::None && out.pcmBytes == 0 ? Refusal::NoAudio : refusal;
    }
    case AudioKind::Other:
        break;
    }
    return Refusal::NotSupport;
}

} // namespace tandrel
