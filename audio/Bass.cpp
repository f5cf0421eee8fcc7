#include "audio/Bass.h"

#include "audio/Decoder.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

constexpr DWORD kCtypeMp3 = 0x10005;
constexpr DWORD kCtypeWma = 0x10300;

std::mutex g_mutex;
std::unordered_map<DWORD, std::unique_ptr<tandrel::Decoder>> g_streams;
DWORD g_nextHandle = 1;

tandrel::Decoder *Find(DWORD handle) {
    std::lock_guard lock(g_mutex);
    auto it = g_streams.find(handle);
    return it == g_streams.end() ? nullptr : it->second.get();
}

HSTREAM Create(BOOL mem, const void *file, QWORD offset, QWORD length,
               tandrel::AudioContainer kind) {
    if (!tandrel::BassReady() || mem || !file || offset != 0 || length != 0)
        return 0;
    auto decoder = tandrel::Decoder::Open(static_cast<const char *>(file), kind);
    if (!decoder)
        return 0;
    std::lock_guard lock(g_mutex);
    DWORD handle = g_nextHandle;
    while (handle == 0 || g_streams.count(handle))
        ++handle;
    g_nextHandle = handle + 1;
    g_streams.emplace(handle, std::move(decoder));
    return handle;
}

} // namespace

namespace tandrel::detail {
void FreeAllStreams() {
    std::lock_guard lock(g_mutex);
    g_streams.clear();
}
} // namespace tandrel::detail

HSTREAM BASS_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD) {
    return Create(mem, file, offset, length, tandrel::AudioContainer::Mp3);
}

HSTREAM BASS_WMA_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD) {
    return Create(mem, file, offset, length, tandrel::AudioContainer::Wma);
}

BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO *info) {
    tandrel::Decoder *d = Find(handle);
    if (!d || !info)
        return 0;
    *info = BASS_CHANNELINFO{};
    info->freq = static_cast<DWORD>(d->Rate());
    info->chans = static_cast<DWORD>(d->Channels());
    info->flags = 0;
    info->ctype = d->IsMp3() ? kCtypeMp3 : kCtypeWma;
    info->filename = d->Path().c_str();
    return 1;
}

QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode) {
    tandrel::Decoder *d = Find(handle);
    return d && mode == BASS_POS_BYTE ? d->LengthBytes() : static_cast<QWORD>(-1);
}

double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos) {
    tandrel::Decoder *d = Find(handle);
    if (!d)
        return -1.0;
    return static_cast<double>(pos) / (static_cast<double>(d->Rate()) * d->Channels() * 2.0);
}

DWORD BASS_ChannelIsActive(DWORD handle) {
    tandrel::Decoder *d = Find(handle);
    return d && d->HasData() ? BASS_ACTIVE_PLAYING : BASS_ACTIVE_STOPPED;
}

DWORD BASS_ChannelGetData(DWORD handle, void *buffer, DWORD length) {
    tandrel::Decoder *d = Find(handle);
    if (!d || !buffer)
        return static_cast<DWORD>(-1);
    return static_cast<DWORD>(d->Read(static_cast<std::uint8_t *>(buffer), length));
}

QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode) {
    tandrel::Decoder *d = Find(handle);
    return d && mode == BASS_POS_BYTE ? d->PositionBytes() : static_cast<QWORD>(-1);
}

BOOL BASS_StreamFree(HSTREAM handle) {
    std::unique_ptr<tandrel::Decoder> doomed;
    std::lock_guard lock(g_mutex);
    auto it = g_streams.find(handle);
    if (it == g_streams.end())
        return 0;
    doomed = std::move(it->second);
    g_streams.erase(it);
    return 1;
}

const char *tandrel::GetStreamCodecName(DWORD handle) {
    const tandrel::Decoder *d = Find(handle);
    return d ? d->CodecName() : "";
}

bool tandrel::GetStreamCompleteness(DWORD handle, StreamCompleteness &out) {
    tandrel::Decoder *d = Find(handle);
    if (!d)
        return false;
    out.exactLength = d->LengthIsExact();
    std::uint64_t promised = 0;
    out.endedEarly = d->EndedEarly(promised);
    out.promisedBytes = promised;
    return true;
}
