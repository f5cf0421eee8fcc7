#include "audio/Waveinf.h"

#include "audio/FileAccess.h"
#include "common/Messages.h"

#include <algorithm>
#include <limits>

namespace {

void ShowError(const char *text) {
    tandrel::ShowMessage("ERROR", text);
}

std::uint32_t Clamp32(std::uint64_t v) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFFFFFF));
}

} // namespace

bool ReadWaveInfo(const std::string &fileName, TWaveInfo &info, tandrel::WavChunks *chunks) {
    std::uint64_t size = 0;
    tandrel::FdGuard fd(tandrel::OpenRegularFile(fileName, size));
    if (fd.Get() < 0) {
        tandrel::ShowMessage(tandrel::kAppTitle, "Cannot open the file!");
        return false;
    }
    tandrel::WavChunks c;
    if (!tandrel::ReadWavChunks(fd.Get(), size, c)) {
        ShowError("This is not a valid Wave file.");
        return false;
    }
    if (c.formatTag == tandrel::kWavExtensibleTag) {
        ShowError("Can not support 24bit or 32bit Wave file.");
        return false;
    }
    if (c.formatTag != tandrel::kWavPcmTag) {
        ShowError("This is not a valid Wave file.");
        return false;
    }
    info.SampleRate = static_cast<std::int32_t>(c.sampleRate);
    info.Channels = c.channels;
    info.BitsPerSample = c.bits;

    if (c.bits != 8 && c.bits != 16 && c.bits != 24 && c.bits != 32) {
        tandrel::ShowMessage(tandrel::kAppTitle, "Not PCM formats!");
        return false;
    }
    const std::uint64_t byteRate = std::uint64_t(c.sampleRate) * c.channels * c.bits / 8;
    if (byteRate == 0 || !tandrel::WavRateInRange(c.sampleRate) ||
        std::uint64_t(c.sampleRate) * c.channels * c.bits >
            std::uint64_t(std::numeric_limits<std::int32_t>::max())) {
        ShowError("This is not a valid Wave file.");
        return false;
    }
    info.DataSize = Clamp32(c.availableBytes);
    info.FileSize = Clamp32(std::uint64_t(info.DataSize) + 44);
    info.Seconds = Clamp32(c.availableBytes / byteRate);
    if (chunks)
        *chunks = c;
    return true;
}
