#include "audio/Waveinf.h"

#include "audio/FileAccess.h"
#include "common/Messages.h"
#include "lang/MessageTexts.h"

#include <algorithm>
#include <limits>

namespace {

void ShowError(tandrel::Msg text) {
    tandrel::ShowMessage(tandrel::MsgText(tandrel::Msg::WaveErrorCaption), tandrel::MsgText(text));
}

std::uint32_t Clamp32(std::uint64_t v) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFFFFFF));
}

} // namespace

bool ReadWaveInfo(const std::string &fileName, TWaveInfo &info, tandrel::WavChunks *chunks) {
    std::uint64_t size = 0;
    tandrel::FdGuard fd(tandrel::OpenRegularFile(fileName, size));
    if (fd.Get() < 0) {
        tandrel::ShowMessage(tandrel::kAppTitle, tandrel::MsgText(tandrel::Msg::CannotOpenFile));
        return false;
    }
    tandrel::WavChunks c;
    if (!tandrel::ReadWavChunks(fd.Get(), size, c)) {
        ShowError(tandrel::Msg::NotValidWave);
        return false;
    }
    if (c.formatTag == tandrel::kWavExtensibleTag) {
        ShowError(tandrel::Msg::Wave24Or32Bit);
        return false;
    }
    if (c.formatTag != tandrel::kWavPcmTag) {
        ShowError(tandrel::Msg::NotValidWave);
        return false;
    }
    info.SampleRate = static_cast<std::int32_t>(c.sampleRate);
    info.Channels = c.channels;
    info.BitsPerSample = c.bits;

    if (c.bits != 8 && c.bits != 16 && c.bits != 24 && c.bits != 32) {
        tandrel::ShowMessage(tandrel::kAppTitle, tandrel::MsgText(tandrel::Msg::NotPcmFormats));
        return false;
    }
    const std::uint64_t byteRate = std::uint64_t(c.sampleRate) * c.channels * c.bits / 8;
    if (byteRate == 0 || !tandrel::WavRateInRange(c.sampleRate) ||
        std::uint64_t(c.sampleRate) * c.channels * c.bits >
            std::uint64_t(std::numeric_limits<std::int32_t>::max())) {
        ShowError(tandrel::Msg::NotValidWave);
        return false;
    }
    info.DataSize = Clamp32(c.availableBytes);
    info.FileSize = Clamp32(std::uint64_t(info.DataSize) + 44);
    info.Seconds = Clamp32(c.availableBytes / byteRate);
    if (chunks)
        *chunks = c;
    return true;
}
