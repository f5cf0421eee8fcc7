#include "audio/Probe.h"

#include "audio/Decoder.h"
#include "audio/FileAccess.h"
#include "audio/TrackTags.h"
#include "audio/Waveinf.h"

#include <cctype>
#include <sys/stat.h>

namespace tandrel {

// Through the exact WAV reader, which shows its own message when it cannot take the file.
Refusal ProbeWav(const std::string &path, Track &out);
// The reader that takes the file and what it finds, tags aside.
Refusal ProbeReader(const std::string &path, Track &out, bool describeOnly);

namespace {

// The most a decoded input may have: more channels or a higher rate are refused.
constexpr std::uint32_t kMaxInputChannels = 8;
constexpr std::uint32_t kMaxInputRate = 768000;

// More channels or a higher rate than an input may have, with the figure for the message.
Refusal BeyondLimits(Track &out) {
    if (out.channels > kMaxInputChannels) {
        out.refusalDetail = std::to_string(out.channels);
        return Refusal::TooManyChannels;
    }
    if (out.sampleRate > kMaxInputRate) {
        out.refusalDetail = std::to_string(out.sampleRate) + " Hz";
        return Refusal::RateTooHigh;
    }
    return Refusal::None;
}

FormatFamily FamilyOf(const Decoder &d) {
    const std::string &c = d.ContainerName();
    if (d.IsMp3())
        return FormatFamily::Mp3;
    if (c == "ASF")
        return FormatFamily::Wma;
    if (c == "WAV" || c == "W64")
        return FormatFamily::Wave;
    return d.Lossless() ? FormatFamily::Lossless : FormatFamily::Lossy;
}

// What a decoder tells of its file; the refusals of what it decodes to.
Refusal Describe(Decoder &d, Track &out) {
    out.sampleRate = std::uint32_t(d.Rate());
    out.channels = std::uint32_t(d.Channels());
    out.bits = std::uint32_t(d.Bits());
    out.container = d.ContainerName();
    out.codec = d.CodecName();
    out.family = FamilyOf(d);
    out.sizeKB = out.fileBytes / 1024;
    const std::uint64_t length = d.LengthBytes();
    const std::uint64_t byteRate = std::uint64_t(d.Rate()) * out.channels * (out.bits / 8);
    out.pcmBytes = length;
    if (d.LengthIsExact())
        out.exactBytes = static_cast<std::int64_t>(length);
    const std::uint64_t seconds = byteRate ? length / byteRate : 0;
    out.seconds = seconds > 0xFFFFFFFF ? 0xFFFFFFFF : std::uint32_t(seconds);
    if (const Refusal beyond = BeyondLimits(out); beyond != Refusal::None)
        return beyond;
    return out.pcmBytes == 0 ? Refusal::NoAudio : Refusal::None;
}

// Through the MP3 frame reader or FFmpeg. NotSupport when the reader finds nothing it knows.
Refusal ProbeDecoded(const std::string &path, InputReader reader, Track &out,
                     bool describeOnly = false) {
    OpenProblem problem;
    const std::unique_ptr<Decoder> d = Decoder::Open(path, reader, &problem, describeOnly);
    out.reader = reader;
    if (d)
        return Describe(*d, out);
    if (problem.kind == OpenProblem::NoDecoder) {
        out.refusalDetail = problem.codec;
        return Refusal::NoDecoder;
    }
    if (problem.kind == OpenProblem::NoAudio)
        return Refusal::NoAudio;
    return problem.kind == OpenProblem::NoLength ? Refusal::NoLength : Refusal::NotSupport;
}

// When no reader took the file: the refusal its name leads one to expect, as before files
// were told by their content (a ".wav" name gets the wave reader's own message).
// announced: the content starts as a container of audio does.
Refusal RefusalByName(const std::string &path, Track &out, bool announced) {
    if (ExtensionIs(path, ".wav")) {
        ProbeWav(path, out);
        return Refusal::NotPCM;
    }
    if (ExtensionIs(path, ".mp3"))
        return Refusal::NotMP3Info;
    if (ExtensionIs(path, ".wma"))
        return Refusal::NotWMAInfo;
    return HasAudioExtension(path) || announced ? Refusal::NotReadable : Refusal::NotSupport;
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
struct RefusalEntry {
    Refusal refusal;
    const char *key;
    const char *english;
};
constexpr RefusalEntry kRefusalTexts[] = {
    {Refusal::NotPCM, "NotPCM", "This file is not a PCM wave file that can be joined."},
    {Refusal::NotMP3Info, "NotMP3Info", "This MP3 file cannot be read."},
    {Refusal::NotWMAInfo, "NotWMAInfo", "This WMA file cannot be read."},
    {Refusal::NotSupport, "NotSupport", "This type of file is not supported."},
    {Refusal::NoAudio, "NoAudio", "This file cannot be joined: it holds no audio."},
    {Refusal::NoDecoder, "NoDecoder",
     "The audio in this file is in a form that cannot be decoded."},
    {Refusal::NoLength, "NoLength", "The length of the audio in this file cannot be told."},
    {Refusal::TooManyChannels, "TooManyChannels", "This file has more than 8 channels."},
    {Refusal::RateTooHigh, "RateTooHigh", "This file's sample rate is above 768,000 Hz."},
    {Refusal::NotReadable, "NotReadable",
     "This audio file cannot be read: it is damaged or incomplete."}};

const RefusalEntry *TextOf(Refusal refusal) {
    for (const RefusalEntry &t : kRefusalTexts)
        if (t.refusal == refusal)
            return &t;
    return nullptr;
}

} // namespace

const char *RefusalKey(Refusal refusal) {
    const RefusalEntry *t = TextOf(refusal);
    return t ? t->key : "";
}

std::string RefusalText(const std::string &translated, Refusal refusal, const Track &track) {
    std::string text = translated.empty() ? RefusalEnglish(refusal) : translated;
    if (!track.refusalDetail.empty())
        text += " (" + track.refusalDetail + ")";
    return text;
}

const char *RefusalEnglish(Refusal refusal) {
    const RefusalEntry *t = TextOf(refusal);
    return t ? t->english : "";
}

Refusal ProbeWav(const std::string &path, Track &out) {
    TWaveInfo info{};
    WavChunks chunks;
    out.reader = InputReader::Wav;
    out.family = FormatFamily::Wave;
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
    out.container = chunks.rf64 ? "RF64" : "WAV";
    out.codec = PcmCodecName(out.bits);
    if (const Refusal beyond = BeyondLimits(out); beyond != Refusal::None)
        return beyond;
    return chunks.availableBytes < std::uint64_t(out.channels) * out.bits / 8 ? Refusal::NoAudio
                                                                              : Refusal::None;
}

Refusal ProbeFile(const std::string &path, Track &out, bool describeOnly) {
    const Refusal refusal = ProbeReader(path, out, describeOnly);
    if (refusal == Refusal::None)
        ReadTrackTags(out);
    return refusal;
}

Refusal ProbeReader(const std::string &path, Track &out, bool describeOnly) {
    out = Track{};
    out.path = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        out.fileBytes = static_cast<std::uint64_t>(st.st_size);
    const InputReader reader = ReaderFor(path);
    Refusal refusal = Refusal::NotSupport;
    if (reader == InputReader::Wav)
        return ProbeWav(path, out);
    if (reader != InputReader::None)
        refusal = ProbeDecoded(path, reader, out, describeOnly);
    // What the MP3 frame reader does not take may still be audio FFmpeg knows (MPEG layer II,
    // a FLAC file behind an ID3 tag), but not MP3 frames it found no way into.
    if (reader == InputReader::Mp3 && refusal == Refusal::NotSupport) {
        Track other = out;
        const Refusal second = ProbeDecoded(path, InputReader::Decoded, other);
        if (second != Refusal::NotSupport && other.codec != "mp3") {
            out = other;
            refusal = second;
        }
    }
    if (refusal != Refusal::NotSupport)
        return refusal;
    if (std::string codec = UnknownAifcCodec(path); !codec.empty()) {
        out.refusalDetail = std::move(codec);
        return Refusal::NoDecoder;
    }
    const std::uint64_t fileBytes = out.fileBytes;
    out = Track{};
    out.path = path;
    out.fileBytes = fileBytes;
    return RefusalByName(path, out, reader == InputReader::Decoded && AnnouncesAudio(path));
}

} // namespace tandrel
