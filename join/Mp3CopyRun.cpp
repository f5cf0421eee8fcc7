// The join that keeps the MP3 inputs' frames: each input's frames are copied as they are,
// a few re-encoded frames bridge each seam, and one new Info frame heads the output.
#include "join/Mp3Copy.h"

#include "audio/FileAccess.h"
#include "common/FileIo.h"
#include "common/Messages.h"
#include "encoders/Mp3Bitstream.h"
#include "encoders/Mp3OutputFile.h"
#include "encoders/Wavtomp3.h"
#include "join/Id3Tag.h"
#include "join/JoinChapters.h"
#include "join/Mp3Bridge.h"
#include "join/Mp3CopyInput.h"
#include "join/Mp3FrameWriters.h"
#include "join/OutputBackup.h"
#include "join/OutputFile.h"
#include "join/OutputStage.h"
#include "lang/MessageTexts.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <thread>
#include <unistd.h>

namespace tandrel {
namespace {

constexpr int kDecoderDelay = 529;
constexpr std::size_t kTocMarks = 4096; // byte positions kept for the seek table

// Whether the join uses a second thread: unless one thread is asked for or all there is.
bool Threaded(const JoinRequest &request) {
    return request.output.mp3Threads != 1 && std::thread::hardware_concurrency() > 1;
}

void AppendFrame(mp3::EncodedRun &run, const std::uint8_t *data, std::size_t count) {
    if (run.offsets.empty())
        run.offsets.push_back(0);
    run.bytes.insert(run.bytes.end(), data, data + count);
    run.offsets.push_back(std::uint32_t(run.bytes.size()));
}

// Drops run's frames before `frame`.
void DropBefore(mp3::EncodedRun &run, std::int64_t frame) {
    const std::size_t k = std::size_t(
        std::clamp<std::int64_t>(frame - run.firstFrame, 0, std::int64_t(run.Frames())));
    const std::uint32_t cut = run.offsets[k];
    run.bytes.erase(run.bytes.begin(), run.bytes.begin() + cut);
    run.offsets.erase(run.offsets.begin(), run.offsets.begin() + std::ptrdiff_t(k));
    for (std::uint32_t &o : run.offsets)
        o -= cut;
    run.firstFrame += std::int64_t(k);
    run.keptFrom = std::max(run.keptFrom, run.firstFrame);
}

class CopyJoin {
public:
    CopyJoin(const JoinRequest &request, JoinProgress &progress, const bladeenc::Api &api)
        : req_(request), progress_(progress), api_(api) {}
    // Joins into writer; false after a failure (message shown) or a stop.
    bool Run(FrameWriter &writer);
    bool Stopped() const { return stop_; }
    // Why the frames could not be kept after all (a seam no bridge fits); empty otherwise.
    const std::string &NotKept() const { return notKept_; }
    mp3::InfoFields Fields() const;
    std::vector<Chapter> Chapters() const;
    const mp3::FrameHeader &FirstHeader() const { return firstHeader_; }
    const std::uint8_t *FirstBytes() const { return firstBytes_; }
    void Summarize(JoinSummary &summary) const;

private:
    bool OpenInput(std::size_t i, Mp3CopyInput &in);
    bool ReadFrames(Mp3CopyInput &in, mp3::EncodedRun &run, std::int64_t count);
    bool Seam(std::size_t i, Mp3CopyInput &in);
    bool CopyRest(Mp3CopyInput &in);
    bool Emit(const mp3::EncodedRun &run, std::int64_t from, std::int64_t to, bool copied);
    void EndInput(const Mp3CopyInput &in);
    bool Fail(const std::string &text);
    bool ShouldStop();

    const JoinRequest &req_;
    JoinProgress &progress_;
    const bladeenc::Api &api_;
    FrameWriter *writer_ = nullptr;
    std::unique_ptr<Mp3Bridger> bridger_;
    SeamSide held_;               // the current input's frames not written yet
    std::int64_t framesRead_ = 0; // of the current input
    int n_ = 1152;
    Mp3Frame format_;          // the first input's first frame: every frame's rate and channels
    std::size_t current_ = 0;  // the input being read
    std::int64_t written_ = 0; // frames
    std::uint64_t bytes_ = 0;
    std::uint64_t copied_ = 0;
    bool variable_ = false;
    mp3::FrameHeader firstHeader_;
    std::uint8_t firstBytes_[4] = {};
    std::vector<std::uint64_t> marks_; // bytes before every tocStep_-th frame
    std::int64_t tocStep_ = 1;
    std::int64_t skipFirst_ = 0;
    std::vector<std::int64_t> starts_; // each input's first sample in the output's decoding
    std::vector<Mp3Seam> seams_;
    std::atomic<bool> stopFlag_{false};
    std::string notKept_;
    bool stop_ = false;
    std::uint64_t totalBytes_ = 0, doneBytes_ = 0;
};

bool CopyJoin::Fail(const std::string &text) {
    ShowMessage(MsgText(Msg::ErrorCaption), text);
    return false;
}

bool CopyJoin::ShouldStop() {
    if (progress_.ProcessEventsAndShouldStop())
        stop_ = true;
    stopFlag_ = stop_;
    return stop_;
}

bool CopyJoin::Emit(const mp3::EncodedRun &run, std::int64_t from, std::int64_t to, bool copied) {
    for (std::int64_t k = from; k < to; ++k) {
        const std::uint8_t *frame = run.FrameData(k);
        const std::size_t count = run.Span(k, k + 1);
        if (written_ == 0) {
            mp3::ParseHeader(frame, 4, firstHeader_);
            std::copy(frame, frame + 4, firstBytes_);
        }
        variable_ = variable_ || (frame[2] >> 4) != firstHeader_.bitrateIndex;
        if (written_ % tocStep_ == 0) {
            if (marks_.size() == kTocMarks) {
                for (std::size_t i = 0; i < kTocMarks / 2; ++i)
                    marks_[i] = marks_[2 * i];
                marks_.resize(kTocMarks / 2);
                tocStep_ *= 2;
            }
            if (written_ % tocStep_ == 0)
                marks_.push_back(bytes_);
        }
        if (!writer_->Write(frame, count))
            return false;
        bytes_ += count;
        ++written_;
        copied_ += copied ? 1 : 0;
    }
    return true;
}

bool CopyJoin::OpenInput(std::size_t i, Mp3CopyInput &in) {
    const JoinInput &input = req_.inputs[i];
    progress_.SetLabel(input.path);
    progress_.Progress1(0);
    if (!in.Open(input.path))
        return Fail(
            MsgText(Msg::CannotJoin, {input.path, MsgText(Msg::FramesNotMp3, {input.path})}));
    framesRead_ = 0;
    return true;
}

// False when a frame changes the rate or the channel count part-way (two files joined by cat):
// such frames cannot be copied, and notKept_ says why.
bool CopyJoin::ReadFrames(Mp3CopyInput &in, mp3::EncodedRun &run, std::int64_t count) {
    Mp3Frame f;
    for (std::int64_t k = 0; k < count; ++k) {
        const std::uint8_t *data = in.frames->Next(f);
        if (!data)
            break;
        if (f.sampleRate != format_.sampleRate || f.samples != format_.samples) {
            notKept_ =
                MsgText(Msg::FramesRate, {req_.inputs[current_].path, std::to_string(f.sampleRate),
                                          req_.inputs[0].path, std::to_string(format_.sampleRate)});
            return false;
        }
        if (f.mono != format_.mono) {
            notKept_ =
                MsgText(Msg::FramesChannels, {req_.inputs[current_].path, f.mono ? "1" : "2",
                                              req_.inputs[0].path, format_.mono ? "1" : "2"});
            return false;
        }
        AppendFrame(run, data, std::size_t(f.bytes));
        ++framesRead_;
    }
    return true;
}

// The current input has ended: where its audio ends.
// A stated end is kept to only where the frames agree with the count that states it: the
// first of two files joined by cat states its own end, with the second one's frames after it.
void CopyJoin::EndInput(const Mp3CopyInput &in) {
    const std::int64_t all = framesRead_ * n_;
    const bool counted = in.header.hasFrameCount && std::int64_t(in.header.frames) == framesRead_;
    held_.audioTo = in.endAt >= 0 && counted ? std::min(in.endAt, all) : all;
    held_.audioTo = std::max(held_.audioTo, std::min(held_.audioFrom, all));
    doneBytes_ += in.size;
}

bool CopyJoin::Seam(std::size_t i, Mp3CopyInput &in) {
    // The bridge decodes what it is given: only the frames it may need are held back for it.
    const std::int64_t keep = held_.run.EndFrame() - bridger_->TailFrames();
    if (keep > held_.run.firstFrame) {
        if (!Emit(held_.run, held_.run.firstFrame, keep, true))
            return false;
        DropBefore(held_.run, keep);
    }
    SeamSide next;
    next.audioFrom = in.skip;
    next.base = bridger_->Place(held_, next.audioFrom);
    next.run.firstFrame = next.run.keptFrom = next.base;
    if (!ReadFrames(in, next.run, bridger_->HeadFrames(next.audioFrom)))
        return false;
    mp3::EncodedRun bridge;
    Mp3Seam seam;
    const BridgeResult r = bridger_->Bridge(held_, next, bridge, seam, stopFlag_);
    if (r == BridgeResult::Stopped || ShouldStop() || !notKept_.empty())
        return false;
    if (r != BridgeResult::Done) {
        // The join is made again by re-encoding; nothing of this one is kept.
        notKept_ = MsgText(Msg::FramesSeamFailed, {req_.inputs[i - 1].path, req_.inputs[i].path});
        return false;
    }
    if (!Emit(held_.run, held_.run.firstFrame, seam.firstFrame, true) ||
        !Emit(held_.run, seam.firstFrame, held_.run.EndFrame(), false) ||
        !Emit(bridge, bridge.firstFrame, bridge.EndFrame(), false))
        return false;
    seams_.push_back(seam);
    DropBefore(next.run, next.run.keptFrom);
    held_ = std::move(next);
    return true;
}

// Copies the rest of the current input, holding back its last frames for the next seam.
bool CopyJoin::CopyRest(Mp3CopyInput &in) {
    const std::int64_t tail = bridger_->TailFrames();
    const std::int64_t batch = 64;
    for (;;) {
        const std::int64_t before = framesRead_;
        if (!ReadFrames(in, held_.run, batch))
            return false;
        if (std::int64_t(held_.run.Frames()) > tail + batch) {
            const std::int64_t upTo = held_.run.EndFrame() - tail;
            if (!Emit(held_.run, held_.run.firstFrame, upTo, true))
                return false;
            DropBefore(held_.run, upTo);
        }
        progress_.Progress1(Percent(in.frames->Position(), in.size));
        progress_.Progress2(Percent(doneBytes_ + in.frames->Position(), totalBytes_));
        if (ShouldStop())
            return false;
        if (framesRead_ - before < batch)
            return true;
    }
}

bool CopyJoin::Run(FrameWriter &writer) {
    writer_ = &writer;
    for (const JoinInput &input : req_.inputs) {
        std::uint64_t size = 0;
        const int fd = OpenRegularFile(input.path, size);
        if (fd >= 0)
            ::close(fd);
        totalBytes_ += size;
    }
    for (std::size_t i = 0; i < req_.inputs.size(); ++i) {
        Mp3CopyInput in;
        if (!OpenInput(i, in))
            return false;
        current_ = i;
        if (i == 0) {
            format_ = in.first;
            n_ = in.FrameSamples();
            bridger_ = std::make_unique<Mp3Bridger>(api_, in.first.sampleRate, in.Channels(), n_);
            held_.audioFrom = in.skip;
            skipFirst_ = std::max<std::int64_t>(in.skip, kDecoderDelay);
            starts_.push_back(0);
        } else if (!Seam(i, in)) {
            return false;
        } else {
            starts_.push_back(held_.base * n_ + held_.audioFrom - skipFirst_);
        }
        if (!CopyRest(in))
            return false;
        EndInput(in);
    }
    return Emit(held_.run, held_.run.firstFrame, held_.run.EndFrame(), true);
}

mp3::InfoFields CopyJoin::Fields() const {
    mp3::InfoFields f;
    f.frames = std::uint32_t(written_);
    f.delay = int(skipFirst_ - kDecoderDelay);
    const std::int64_t end = held_.base * n_ + held_.audioTo;
    f.padding = int(std::clamp<std::int64_t>(written_ * n_ + kDecoderDelay - end, 0, 4095));
    const double seconds = double(written_) * n_ / std::max(1, firstHeader_.sampleRate);
    f.kbps = seconds > 0 ? int(double(bytes_) * 8 / seconds / 1000 + 0.5) : 0;
    f.variable = variable_;
    const std::uint64_t info = mp3::InfoFrameLength(firstBytes_);
    const std::uint64_t total = info + bytes_;
    for (int i = 0; i < 100 && !marks_.empty(); ++i) {
        const std::size_t at =
            std::min<std::size_t>(std::size_t(written_ * i / 100 / tocStep_), marks_.size() - 1);
        f.toc[std::size_t(i)] =
            std::uint8_t(std::min<std::uint64_t>(255, (info + marks_[at]) * 256 / total));
    }
    bladeenc::BE_VERSION version{};
    api_.version(&version);
    f.versionMajor = version.byMajorVersion;
    f.versionMinor = version.byMinorVersion;
    return f;
}

std::int64_t CopyJoinSamples(const mp3::InfoFields &f, int n) {
    return std::max<std::int64_t>(0, std::int64_t(f.frames) * n - f.delay - f.padding);
}

std::vector<Chapter> CopyJoin::Chapters() const {
    std::vector<std::uint64_t> starts;
    for (std::int64_t s : starts_)
        starts.push_back(std::uint64_t(std::max<std::int64_t>(0, s)));
    return ChaptersOf(req_.inputs, starts, std::uint64_t(CopyJoinSamples(Fields(), n_)));
}

void CopyJoin::Summarize(JoinSummary &summary) const {
    const mp3::InfoFields f = Fields();
    summary.framesKept = true;
    summary.seams = seams_;
    summary.mp3Frames = written_;
    summary.mp3Samples = CopyJoinSamples(f, n_);
    summary.copiedFrames = copied_;
    summary.pcmBytes = std::uint64_t(summary.mp3Samples) * 2 * std::uint64_t(firstHeader_.channels);
    summary.chapters = Chapters();
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

bool CopyOutput::Pass(CopyJoin &join, mp3::OutputFile &out, const OutputMetadata &metadata,
                      int rate) {
    if (!metadata.Empty())
        out.SetLeadingTag(RenderId3Tag(metadata, rate, metadata.writeChapters));
    FileWriter file(out);
    QueuedWriter writer(file, Threaded(req_));
    const bool joined = join.Run(writer);
    return writer.Finish() && joined;
}

bool OutputIsInput(const JoinRequest &request) {
    return std::any_of(request.inputs.begin(), request.inputs.end(),
                       [&](const JoinInput &in) { return SameFile(in.path, request.output.path); });
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
    CopyJoin first(req_, progress_, api);
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
    CopyJoin join(req_, progress_, *api);
    const bool joined = Pass(join, out, metadata, rate);
    const bool discard = req_.discardOnStop || OutputIsInput(req_);
    if ((!joined && !join.Stopped()) || (join.Stopped() && discard) || out.Failed()) {
        notKept_ = join.NotKept();
        out.Close();
        file.Discard();
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
