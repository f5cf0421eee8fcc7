// Splicing a short stream of frames between two others by laying its main data out again.
#include "encoders/Mp3Bitstream.h"
#include "encoders/Mp3Splice.h"

#include <algorithm>
#include <cstring>

namespace mp3 {
namespace {

std::size_t Index(const EncodedRun &run, std::int64_t frame) {
    return std::size_t(frame - run.firstFrame);
}

std::size_t AreaStart(const EncodedRun &run, std::int64_t k) {
    return run.offsets[Index(run, k)] + HeaderOf(run, k).DataOffset();
}

std::size_t AreaSize(const EncodedRun &run, std::int64_t k) {
    return run.offsets[Index(run, k) + 1] - AreaStart(run, k);
}

// count bytes of run's main data stream from `back` bytes before frame k's area on; false
// when the run does not reach back so far.
bool ReadStream(const EncodedRun &run, std::int64_t k, std::size_t back, std::size_t count,
                std::vector<std::uint8_t> &out) {
    std::int64_t frame = k;
    std::size_t offset = 0;
    while (back > 0) {
        if (--frame < run.firstFrame)
            return false;
        const std::size_t size = AreaSize(run, frame);
        offset = size >= back ? size - back : 0;
        back -= std::min(back, size);
    }
    out.clear();
    for (; out.size() < count && frame < run.EndFrame(); ++frame, offset = 0) {
        const std::size_t size = AreaSize(run, frame);
        const std::uint8_t *area = run.bytes.data() + AreaStart(run, frame);
        const std::size_t take = std::min(size - std::min(size, offset), count - out.size());
        out.insert(out.end(), area + offset, area + offset + take);
    }
    return out.size() == count;
}

bool WindowsAgree(const EncodedRun &a, const EncodedRun &b, std::int64_t frame) {
    const FrameHeader ha = HeaderOf(a, frame), hb = HeaderOf(b, frame);
    if (ha.channels != hb.channels)
        return false;
    for (int ch = 0; ch < ha.channels; ++ch)
        if (LastBlockType(a.FrameData(frame), ha, ch) != LastBlockType(b.FrameData(frame), hb, ch))
            return false;
    return true;
}

// Where each frame's main data goes, as early as the reservoir allows after `spare` bytes
// before the first frame's area; false when it does not fit or leaves less than `need`
// bytes before the end.
bool Place(const std::vector<std::size_t> &areas, std::size_t spare,
           const std::vector<std::size_t> &lengths, std::size_t most, std::size_t need,
           std::vector<std::size_t> &starts) {
    std::size_t area = spare, pos = 0;
    for (std::size_t k = 0; k < areas.size(); ++k) {
        starts[k] = std::max(pos, area >= most ? area - most : 0);
        if (starts[k] + lengths[k] > area + areas[k])
            return false;
        pos = starts[k] + lengths[k];
        area += areas[k];
    }
    return area - pos >= need;
}

struct Repack {
    std::vector<std::vector<std::uint8_t>> data; // each bridge frame's main data
    std::vector<std::uint8_t> reservoir;         // next's frame jb's, before it
    std::vector<int> index;                      // bitrate index per bridge frame
    int heldIndex = 0;
    std::vector<std::size_t> areas, starts;
    std::size_t room = 0, heldExtra = 0;
};

std::size_t AreaFor(const FrameHeader &h, int index) {
    return FrameLength(h.version, index, h.sampleRate, h.padding) - h.DataOffset();
}

// Raises bridge frames from the last one back, then held's last frame, until the layout fits.
bool Fit(const EncodedRun &held, const EncodedRun &bridge, std::int64_t ja, Repack &r) {
    const std::size_t n = r.data.size();
    const FrameHeader last = HeaderOf(held, ja - 1);
    const std::size_t most = std::size_t(MaxMainDataBegin(last));
    std::vector<std::size_t> lengths(n);
    for (std::size_t k = 0; k < n; ++k)
        lengths[k] = r.data[k].size();
    r.starts.assign(n, 0);
    for (std::size_t raised = 0; raised <= n + 1; ++raised) {
        r.areas.resize(n);
        for (std::size_t k = 0; k < n; ++k)
            r.areas[k] = AreaFor(HeaderOf(bridge, ja + std::int64_t(k)), r.index[k]);
        r.heldExtra =
            FrameLength(last.version, r.heldIndex, last.sampleRate, last.padding) - last.length;
        if (Place(r.areas, r.room + r.heldExtra, lengths, most, r.reservoir.size(), r.starts))
            return true;
        if (raised < n)
            r.index[n - 1 - raised] = 14;
        else
            r.heldIndex = 14;
    }
    return false;
}

// Writes the laid-out stream: the spare end of held's areas, then the bridge's frames.
std::int64_t Write(EncodedRun &held, EncodedRun &bridge, std::int64_t ja, std::int64_t jb,
                   const Repack &r) {
    const std::size_t spare = r.room + r.heldExtra;
    std::size_t total = spare;
    for (std::size_t a : r.areas)
        total += a;
    std::vector<std::uint8_t> stream(total, 0);
    for (std::size_t k = 0; k < r.data.size(); ++k)
        std::copy(r.data[k].begin(), r.data[k].end(), stream.begin() + std::ptrdiff_t(r.starts[k]));
    std::copy(r.reservoir.begin(), r.reservoir.end(),
              stream.end() - std::ptrdiff_t(r.reservoir.size()));

    const FrameHeader last = HeaderOf(held, ja - 1);
    held.bytes.resize(held.offsets[Index(held, ja)] + r.heldExtra, 0);
    held.offsets.resize(Index(held, ja) + 1);
    held.offsets.back() = std::uint32_t(held.bytes.size());
    if (r.heldExtra > 0)
        SetBitrateIndex(held.bytes.data() + held.offsets[Index(held, ja - 1)], last, r.heldIndex);
    std::size_t left = spare;
    std::int64_t changed = r.heldExtra > 0 ? ja - 1 : ja;
    for (std::int64_t k = ja - 1; left > 0; --k) {
        changed = k;
        const std::size_t size = AreaSize(held, k), take = std::min(size, left);
        std::memcpy(held.bytes.data() + AreaStart(held, k) + size - take,
                    stream.data() + left - take, take);
        left -= take;
    }

    EncodedRun out;
    out.firstFrame = out.keptFrom = ja;
    out.offsets.push_back(0);
    std::size_t area = spare;
    for (std::int64_t k = ja; k < jb; ++k) {
        const std::size_t i = std::size_t(k - ja);
        const FrameHeader old = HeaderOf(bridge, k);
        const std::uint8_t *from = bridge.FrameData(k);
        const std::size_t at = out.bytes.size();
        out.bytes.insert(out.bytes.end(), from, from + old.DataOffset());
        out.bytes[at + 2] = std::uint8_t((out.bytes[at + 2] & 0x0F) | (r.index[i] << 4));
        FrameHeader h = old;
        h.bitrateIndex = r.index[i];
        SetMainDataBegin(out.bytes.data() + at, h, int(area - r.starts[i]));
        out.bytes.insert(out.bytes.end(), stream.begin() + std::ptrdiff_t(area),
                         stream.begin() + std::ptrdiff_t(area + r.areas[i]));
        out.offsets.push_back(std::uint32_t(out.bytes.size()));
        area += r.areas[i];
    }
    bridge = std::move(out);
    return changed;
}

} // namespace

bool SpliceRepacked(EncodedRun &held, EncodedRun &bridge, EncodedRun &next, std::int64_t ja,
                    std::int64_t jb, std::int64_t *changedFrom) {
    if (ja <= held.keptFrom || ja > held.EndFrame() - 1 || ja - 1 < bridge.firstFrame || jb <= ja ||
        jb > bridge.EndFrame() || jb - 1 < next.firstFrame || jb >= next.EndFrame() ||
        !WindowsAgree(held, bridge, ja - 1) || !WindowsAgree(bridge, next, jb - 1))
        return false;
    Repack r;
    r.room = std::size_t(MainDataBegin(held.FrameData(ja), HeaderOf(held, ja)));
    std::size_t heldArea = 0;
    for (std::int64_t k = held.keptFrom; k < ja; ++k)
        heldArea += AreaSize(held, k);
    if (heldArea < r.room)
        return false;
    r.heldIndex = HeaderOf(held, ja - 1).bitrateIndex;
    for (std::int64_t k = ja; k < jb; ++k) {
        const FrameHeader h = HeaderOf(bridge, k);
        r.data.emplace_back();
        r.index.push_back(h.bitrateIndex);
        if (!ReadStream(bridge, k, std::size_t(MainDataBegin(bridge.FrameData(k), h)),
                        MainDataBytes(bridge.FrameData(k), h), r.data.back()))
            return false;
    }
    const std::size_t need = std::size_t(MainDataBegin(next.FrameData(jb), HeaderOf(next, jb)));
    if (!ReadStream(next, jb, need, need, r.reservoir) || !Fit(held, bridge, ja, r))
        return false;
    const std::int64_t changed = Write(held, bridge, ja, jb, r);
    if (changedFrom)
        *changedFrom = changed;
    next.keptFrom = jb;
    return true;
}

} // namespace mp3
