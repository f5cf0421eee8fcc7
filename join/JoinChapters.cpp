#include "join/JoinChapters.h"

#include "audio/Probe.h"

namespace tandrel {

std::int64_t ForeseenFrames(const JoinInput &in, const PcmFormat &target, Resampling resampling) {
    const auto frameBytes = std::int64_t(FrameBytes(in.format));
    if (in.expectedBytes < 0 || frameBytes == 0 || in.expectedBytes % frameBytes != 0)
        return -1;
    const std::uint64_t n = std::uint64_t(in.expectedBytes / frameBytes);
    if (in.format.sampleRate == target.sampleRate)
        return std::int64_t(n);
    if (resampling == Resampling::Hq)
        return std::int64_t(HqFrameCount(n, in.format.sampleRate, target.sampleRate));
    return -1;
}

std::vector<Chapter> ChaptersOf(const std::vector<JoinInput> &inputs,
                                const std::vector<std::uint64_t> &starts, std::uint64_t endFrame) {
    std::vector<Chapter> chapters;
    for (std::size_t i = 0; i < inputs.size() && i < starts.size(); ++i) {
        Chapter c;
        c.startFrame = starts[i];
        c.endFrame = i + 1 < starts.size() ? starts[i + 1] : endFrame;
        c.title = inputs[i].title.empty() ? FileNameOf(inputs[i].path) : inputs[i].title;
        chapters.push_back(std::move(c));
    }
    return chapters;
}

OutputMetadata ForeseenMetadata(const JoinRequest &request) {
    OutputMetadata m = request.metadata;
    if (!m.writeChapters)
        return m;
    std::vector<std::uint64_t> starts;
    std::uint64_t at = 0;
    bool known = true;
    for (const JoinInput &in : request.inputs) {
        starts.push_back(at);
        // Only a wave file's length is sure before it is read: a decoder may give more or
        // less than its container states.
        const bool wave = ReaderOf(in) == InputReader::Wav;
        const std::int64_t frames =
            wave ? ForeseenFrames(in, request.target, request.resampling) : -1;
        known = known && frames >= 0;
        at += frames > 0 ? std::uint64_t(frames) : 0;
    }
    if (!known) {
        at = 0;
        starts.assign(starts.size(), 0);
    }
    m.chapters = ChaptersOf(request.inputs, starts, at);
    m.chaptersFinal = known;
    return m;
}

} // namespace tandrel
