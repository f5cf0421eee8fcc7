// The frame-keeping MP3 join into its output: the frames of CopyJoin, and one new Info frame
// ahead of them.
#include "join/Mp3Copy.h"

#include "common/FileIo.h"
#include "encoders/Mp3OutputFile.h"
#include "encoders/Wavtomp3.h"
#include "join/Id3Tag.h"
#include "join/Mp3CopyInput.h"
#include "join/Mp3CopyJoin.h"
#include "join/Mp3FrameWriters.h"
#include "join/OutputBackup.h"
#include "join/OutputFile.h"
#include "join/OutputStage.h"

#include <algorithm>
#include <cerrno>
#include <thread>

namespace tandrel {
namespace {

// Whether the join uses a second thread: unless one thread is asked for or all there is.
bool Threaded(const JoinRequest &request) {
    return request.output.mp3Threads != 1 && std::thread::hardware_concurrency() > 1;
}

// The whole join into one output: a pipe's Info frame and chapters are counted by a first
// pass, a file's filled in at the end.
class CopyOutput {
public:
    CopyOutput(const JoinRequest &request, JoinProgress &progress)
        : req_(request), progress_(progress) {}
    JoinStatus Run(JoinSummary *summary);
    const std::string &NotKept() const { return notKept_; }

private:
    bool Pass(CopyJoin &join, mp3::OutputFile &out, const OutputMetadata &metadata, int rate);
    bool Open(OutputFile &file, mp3::OutputFile &out, JoinStatus &status);
    JoinStatus CountAhead(const bladeenc::Api &api, mp3::OutputFile &out, OutputMetadata &metadata);
    std::vector<CopyJoin::Identity> counted_; // the inputs as the counting pass found them
    JoinStatus Finish(const CopyJoin &join, OutputFile &file, mp3::OutputFile &out,
                      OutputMetadata &metadata, int rate);
    std::string Shown() const {
        return req_.outputName.empty() ? req_.output.path : req_.outputName;
    }

    const JoinRequest &req_;
    JoinProgress &progress_;
    WavToMp3 library_;
    std::string notKept_;
};

bool OutputIsInput(const JoinRequest &request) {
    return std::any_of(request.inputs.begin(), request.inputs.end(),
                       [&](const JoinInput &in) { return SameFile(in.path, request.output.path); });
}

bool CopyOutput::Pass(CopyJoin &join, mp3::OutputFile &out, const OutputMetadata &metadata,
                      int rate) {
    if (!metadata.Empty())
        out.SetLeadingTag(RenderId3Tag(metadata, rate, metadata.writeChapters));
    FileWriter file(out);
    QueuedWriter writer(file, Threaded(req_));
    const bool joined = join.Run(writer);
    if (join.Stopped() && (req_.discardOnStop || OutputIsInput(req_)))
        writer.Drop(); // what is queued would be thrown away with the output
    const bool written = writer.Finish();
    // A join that failed on its own, or an output that did, has said why.
    if (out.Failed() || (!joined && written))
        return false;
    // The kernel copied the inputs' frames as the files are now: as the scan found them only
    // when the files did not change in between.
    return join.InputsUnchanged(out.SourceError(), writer.CopiesDone()) && joined && written;
}

// The first input's rate, for the chapter times of a tag written ahead of the audio.
int FirstRate(const JoinRequest &request) {
    Mp3CopyInput first;
    return !request.inputs.empty() && first.Open(request.inputs[0].path) ? first.first.sampleRate
                                                                         : 44100;
}

bool CopyOutput::Open(OutputFile &file, mp3::OutputFile &out, JoinStatus &status) {
    const std::string shown = Shown();
    const std::string spare =
        DirName(req_.tempPcmPath.empty() ? "/tmp/AudioTemp.pcm" : req_.tempPcmPath);
    status = JoinStatus::Failed;
    if (!RestoreLeftBackup(req_.output.path, spare))
        return false;
    if (!file.Open(req_.output.path, [&] { return progress_.ProcessEventsAndShouldStop(); },
                   {true, spare})) {
        if (file.Error() == 0)
            status = JoinStatus::Stopped;
        else
            ShowOutputError(shown, file.Error());
        return false;
    }
    out.SetErrorHandler([shown](int err) { ShowOutputError(shown, err); });
    if (!out.Open(file.Fd(), shown, file.Seekable(), file.SyncedAtCommit())) {
        ShowOutputError(shown, errno);
        return false;
    }
    return true;
}

// Everything the Info frame and the chapters say, counted before the first byte of a pipe.
JoinStatus CopyOutput::CountAhead(const bladeenc::Api &api, mp3::OutputFile &out,
                                  OutputMetadata &metadata) {
    CopyJoin first(req_, progress_, api, Threaded(req_));
    CountingWriter counter;
    QueuedWriter queued(counter, Threaded(req_));
    if (!first.Run(queued) || !queued.Finish()) {
        notKept_ = first.NotKept();
        return first.Stopped() ? JoinStatus::Stopped : JoinStatus::Failed;
    }
    mp3::InfoFields f = first.Fields();
    f.bytes = std::uint32_t(mp3::InfoFrameLength(first.FirstBytes()) + counter.bytes);
    f.musicCrc = counter.crc;
    out.DescribeExactly(f);
    metadata.chapters = first.Chapters();
    metadata.chaptersFinal = true;
    counted_ = first.Identities();
    return JoinStatus::Ok;
}

// The chapters' final times, the Info frame, and the file under its name.
JoinStatus CopyOutput::Finish(const CopyJoin &join, OutputFile &file, mp3::OutputFile &out,
                              OutputMetadata &metadata, int rate) {
    if (metadata.writeChapters && !metadata.chaptersFinal) {
        metadata.chapters = join.Chapters();
        metadata.chaptersFinal = true;
        out.ReplaceLeadingTag(RenderId3Tag(metadata, rate, true));
    }
    if (!out.Finish(join.Fields()) || !out.Close()) {
        file.Discard();
        return JoinStatus::Failed;
    }
    if (!file.Commit([this] { progress_.ProcessEventsAndShouldStop(); })) {
        ShowOutputError(Shown(), file.Error());
        return JoinStatus::Failed;
    }
    return JoinStatus::Ok;
}

JoinStatus CopyOutput::Run(JoinSummary *summary) {
    const bladeenc::Api *api = library_.Entries();
    if (!api)
        return JoinStatus::Failed;
    OutputFile file;
    mp3::OutputFile out;
    JoinStatus status = JoinStatus::Failed;
    if (!Open(file, out, status))
        return status;
    const int rate = FirstRate(req_);
    OutputMetadata metadata = ForeseenMetadata(req_);
    if (!file.Seekable() && (status = CountAhead(*api, out, metadata)) != JoinStatus::Ok)
        return status;
    CopyJoin join(req_, progress_, *api, Threaded(req_));
    join.Expect(counted_);
    const bool joined = Pass(join, out, metadata, rate);
    const bool discard = req_.discardOnStop || OutputIsInput(req_);
    if ((!joined && !join.Stopped()) || (join.Stopped() && discard) || out.Failed()) {
        notKept_ = join.NotKept();
        out.Close();
        file.Discard(!notKept_.empty()); // made again by re-encoding
        return join.Stopped() && !out.Failed() ? JoinStatus::Stopped : JoinStatus::Failed;
    }
    if (Finish(join, file, out, metadata, rate) != JoinStatus::Ok)
        return JoinStatus::Failed;
    if (summary && joined)
        join.Summarize(*summary);
    return joined ? JoinStatus::Ok : JoinStatus::Stopped;
}

} // namespace

JoinStatus RunMp3Copy(const JoinRequest &request, JoinProgress &progress, JoinSummary *summary,
                      std::string *notKept) {
    progress.Progress1(0);
    progress.Progress2(0);
    CopyOutput output(request, progress);
    const JoinStatus status = output.Run(summary);
    if (notKept)
        *notKept = output.NotKept();
    return status;
}

} // namespace tandrel
