#include "encoders/Mp3Splice.h"

#include "encoders/Mp3Bitstream.h"

#include <algorithm>
#include <array>
#include <cstring>

using namespace bladeenc;

namespace mp3 {
namespace {

// Main data bytes in the areas of frames [from, to).
std::size_t AreaBytes(const EncodedRun &run, std::int64_t from, std::int64_t to) {
    std::size_t total = 0;
    for (std::int64_t k = from; k < to; ++k)
        total += run.Span(k, k + 1) - HeaderOf(run, k).DataOffset();
    return total;
}

// Calls visit(area, size) for the main data areas before frame `to`, last one first,
// until count bytes have been visited; each call gets the area's last `size` bytes.
template <typename Visit>
void Backward(EncodedRun &run, std::int64_t to, std::size_t count, Visit visit) {
    for (std::int64_t k = to - 1; count > 0; --k) {
        const std::size_t start = run.offsets[std::size_t(k - run.firstFrame)];
        const std::size_t end = run.offsets[std::size_t(k + 1 - run.firstFrame)];
        const std::size_t area = end - start - HeaderOf(run, k).DataOffset();
        const std::size_t take = std::min(area, count);
        visit(run.bytes.data() + end - take, take, count - take);
        count -= take;
    }
}

} // namespace

FrameHeader HeaderOf(const EncodedRun &run, std::int64_t frame) {
    FrameHeader h;
    ParseHeader(run.FrameData(frame), 4, h);
    return h;
}

RunResult EncodeRun(const Api &api, const BE_CONFIG &config, const PcmSpan *spans,
                    std::size_t spanCount, EncodedRun &run, const std::atomic<bool> &stop,
                    std::vector<std::uint8_t> &scratch) {
    BE_CONFIG cfg = config;
    DWORD chunk = 0, bufferSize = 0;
    HBE_STREAM stream = 0;
    if (!OpenStream(api, cfg, chunk, bufferSize, stream))
        return RunResult::InitFailed;
    if (scratch.size() < bufferSize)
        scratch.resize(bufferSize);
    RunResult result = RunResult::Done;
    for (std::size_t s = 0; s < spanCount && result == RunResult::Done; ++s) {
        for (std::size_t at = 0; at < spans[s].values; at += chunk) {
            if (stop.load(std::memory_order_relaxed)) {
                result = RunResult::Stopped;
                break;
            }
            const DWORD count = DWORD(std::min<std::size_t>(chunk, spans[s].values - at));
            DWORD written = 0;
            if (api.encodeChunk(stream, count, spans[s].data + at, scratch.data(), &written) !=
                BE_ERR_SUCCESSFUL) {
                result = RunResult::EncodeFailed;
                break;
            }
            run.bytes.insert(run.bytes.end(), scratch.data(),
                             scratch.data() + std::min<DWORD>(written, bufferSize));
        }
    }
    DWORD written = 0;
    if (result == RunResult::Done) {
        if (api.deinitStream(stream, scratch.data(), &written) != BE_ERR_SUCCESSFUL)
            result = RunResult::EncodeFailed;
        else
            run.bytes.insert(run.bytes.end(), scratch.data(),
                             scratch.data() + std::min<DWORD>(written, bufferSize));
    }
    api.closeStream(stream);
    if (result == RunResult::Done && !IndexFrames(run))
        result = RunResult::EncodeFailed;
    return result;
}

bool IndexFrames(EncodedRun &run) {
    run.offsets.clear();
    std::size_t at = 0;
    while (at < run.bytes.size()) {
        FrameHeader h;
        if (!ParseHeader(run.bytes.data() + at, run.bytes.size() - at, h) ||
            at + h.length > run.bytes.size())
            return false;
        run.offsets.push_back(std::uint32_t(at));
        at += h.length;
    }
    run.offsets.push_back(std::uint32_t(at));
    return true;
}

std::int64_t Splice(EncodedRun &held, EncodedRun &next, std::int64_t from, int candidates,
                    bool mayRaise) {
    for (std::int64_t j = from; j < from + candidates; ++j) {
        if (j - 1 < held.keptFrom || j >= held.EndFrame() || j - 1 < next.firstFrame ||
            j >= next.EndFrame())
            continue;
        const FrameHeader last = HeaderOf(held, j - 1);
        bool agree = true;
        for (int ch = 0; ch < last.channels; ++ch)
            agree = agree && LastBlockType(held.FrameData(j - 1), last, ch) ==
                                 LastBlockType(next.FrameData(j - 1), HeaderOf(next, j - 1), ch);
        if (!agree)
            continue;
        const std::size_t need = std::size_t(MainDataBegin(next.FrameData(j), HeaderOf(next, j)));
        const std::size_t room = std::size_t(MainDataBegin(held.FrameData(j), HeaderOf(held, j)));
        int index = last.bitrateIndex;
        std::size_t extra = 0;
        while (room + extra < need && index < (mayRaise ? 14 : last.bitrateIndex)) {
            ++index;
            extra = FrameLength(last.version, index, last.sampleRate, last.padding) - last.length;
        }
        if (room + extra < need || AreaBytes(held, held.keptFrom, j) < room)
            continue;

        std::array<std::uint8_t, 512> reservoir{};
        Backward(next, j, need, [&](const std::uint8_t *p, std::size_t n, std::size_t before) {
            std::memcpy(reservoir.data() + before, p, n);
        });
        held.bytes.resize(held.offsets[std::size_t(j - held.firstFrame)] + extra, 0);
        held.offsets.resize(std::size_t(j - held.firstFrame) + 1);
        held.offsets.back() = std::uint32_t(held.bytes.size());
        if (extra > 0)
            SetBitrateIndex(held.bytes.data() + held.offsets[std::size_t(j - 1 - held.firstFrame)],
                            last, index);
        // The freed tail becomes zero padding, its end next's reservoir.
        Backward(held, j, room + extra, [&](std::uint8_t *p, std::size_t n, std::size_t before) {
            for (std::size_t i = 0; i < n; ++i) {
                const std::size_t at = before + i; // position in the tail
                const std::size_t tail = room + extra;
                p[i] = at >= tail - need ? reservoir[at - (tail - need)] : 0;
            }
        });
        next.keptFrom = j;
        return j;
    }
    return -1;
}

} // namespace mp3
