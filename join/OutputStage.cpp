#include "join/OutputStage.h"

#include "common/FileIo.h"
#include "common/Messages.h"
#include "join/OutputFile.h"
#include "lang/MessageTexts.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <vector>

namespace tandrel {

void ShowOutputError(const std::string &path, int err) {
    if (err == ECANCELED)
        return; // a write given up for a stop: no failure to tell
    ShowMessage(MsgText(Msg::ErrorCaption),
                MsgLines(Msg::CannotCreateOutput, path, SystemError(err)));
}

int Percent(std::uint64_t done, std::uint64_t total) {
    if (total == 0)
        return 0;
    const unsigned __int128 p = static_cast<unsigned __int128>(done) * 100 / total;
    return p > 100 ? 100 : int(p);
}

namespace {

StageResult ReadFailed(const std::string &pcmName, int err) {
    ShowMessage(MsgText(Msg::ErrorCaption),
                MsgText(Msg::CouldNotRead, {pcmName, SystemError(err)}));
    return StageResult::Failed;
}

// The file's bytes from start on, as ranges the sink takes; a file that ends early ends the
// data, as it does read block by block.
StageResult CopyRanges(int pcmFd, std::uint64_t start, std::uint64_t size, OutputSink &sink,
                       const ProgressReport &progress, const std::string &pcmName) {
    std::uint64_t total = 0;
    while (total < size) {
        const RangeResult r =
            sink.TakeRange(pcmFd, start + total, std::min(kRangeBytes, size - total));
        total += r.bytes;
        if (!r.ok)
            return StageResult::Failed;
        if (r.readError != 0)
            return ReadFailed(pcmName, r.readError);
        if (r.bytes == 0)
            break;
        if (progress && progress(Percent(total, size)))
            return StageResult::Stopped;
    }
    return StageResult::Done;
}

} // namespace

StageResult CopyToSink(int pcmFd, std::uint64_t size, OutputSink &sink,
                       const ProgressReport &progress, const std::string &pcmName) {
    if (const off_t start = ::lseek(pcmFd, 0, SEEK_CUR); start >= 0 && sink.TakesRanges())
        return CopyRanges(pcmFd, std::uint64_t(start), size, sink, progress, pcmName);
    const std::size_t chunk = sink.ChunkBytes();
    if (chunk == 0)
        return StageResult::Failed;
    BlockReader reader(std::max<std::size_t>(chunk, 256 * 1024));
    reader.Attach(pcmFd);
    std::uint64_t total = 0;
    while (total < size) {
        const std::uint8_t *data;
        const std::size_t n = reader.Next(chunk, &data);
        if (n == 0) {
            if (reader.Error() == 0)
                break;
            return ReadFailed(pcmName, reader.Error());
        }
        if (!sink.Write(data, n))
            return StageResult::Failed;
        total += n;
        if (progress && progress(Percent(total - std::min(total, sink.Unfinished()), size)))
            return StageResult::Stopped;
    }
    return StageResult::Done;
}

StageResult WriteOutput(int pcmFd, std::uint64_t size, const std::string &pcmName, OutputSink &sink,
                        const PcmFormat &format, const std::string &outputPath,
                        const ProgressReport &progress, bool discardIfStopped,
                        const std::string &spareFolder, const std::function<void()> &keepAlive) {
    int lastPercent = 0;
    const ProgressReport report = [&](int percent) {
        lastPercent = percent;
        return progress && progress(percent);
    };
    const auto shouldStop = [&] { return report(lastPercent); };
    OutputFile out;
    if (!out.Open(outputPath, shouldStop, {true, spareFolder})) {
        if (out.Error() == 0)
            return StageResult::Stopped;
        ShowOutputError(outputPath, out.Error());
        return StageResult::Failed;
    }
    if (!sink.Open({out.Fd(), out.WritePath(), outputPath, out.Seekable(), out.SyncedAtCommit()},
                   format, std::int64_t(size)))
        return StageResult::Failed;
    StageResult result = CopyToSink(pcmFd, size, sink, report, pcmName);
    if (result == StageResult::Stopped)
        sink.Stop();
    if (!sink.Close())
        result = StageResult::Failed;
    // An encoder that worked on after the last Write has finished now.
    if (result == StageResult::Done && lastPercent < 100 && size > 0 && report(100))
        result = StageResult::Stopped;
    if (result == StageResult::Failed || (result == StageResult::Stopped && discardIfStopped))
        return result;
    if (!out.Commit(keepAlive)) {
        ShowOutputError(outputPath, out.Error());
        return StageResult::Failed;
    }
    return result;
}

} // namespace tandrel
