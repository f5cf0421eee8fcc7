#include "join/Mp3CopyJoin.h"

#include "audio/FileAccess.h"
#include "audio/Probe.h"
#include "common/FileIo.h"
#include "common/Messages.h"
#include "encoders/Mp3Bitstream.h"
#include "join/OutputStage.h"
#include "lang/MessageTexts.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace tandrel {
namespace {

constexpr int kDecoderDelay = 529;
constexpr std::size_t kTocMarks = 4096; // byte positions kept for the seek table
constexpr std::size_t kScanAhead = 3;   // inputs scanned ahead of the one copied
constexpr std::int64_t kStopCheckFrames = 1024;
constexpr std::uint64_t kSpanBytes = 4 << 20; // copied at a time
constexpr std::size_t kReadBytes = 256 << 10; // an input's frames read at a time

void AppendFrame(mp3::EncodedRun &run, const std::uint8_t *data, std::size_t count) {
    if (run.offsets.empty())
        run.offsets.push_back(0);
    run.bytes.insert(run.bytes.end(), data, data + count);
    run.offsets.push_back(std::uint32_t(run.bytes.size()));
}

// A body frame as the copy notes it: its bitrate index and length.
std::uint16_t FrameNote(const std::uint8_t *header, int bytes) {
    return std::uint16_t((header[2] >> 4) << 12 | bytes);
}

} // namespace

// An input as the scan left it for the copy.
struct CopyJoin::Scanned {
    Mp3CopyInput in;
    std::string path;
    SeamSide side;                    // its audio's place; run: its last frames, for the next seam
    std::int64_t headFrames = 0;      // its first frames, held by the seam before it
    std::vector<Mp3FrameSpan> body;   // the frames between, copied from the file
    std::vector<std::uint16_t> notes; // FrameNote of each of them
    std::uint8_t firstHeader[4] = {}; // of the first of them
};

CopyJoin::CopyJoin(const JoinRequest &request, JoinProgress &progress, const bladeenc::Api &api,
                   bool threaded)
    : req_(request), progress_(progress), api_(api), threaded_(threaded) {}

CopyJoin::~CopyJoin() = default;

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

// The file at path no longer holds what it held when scanned (then bytes).
bool CopyJoin::Changed(const std::string &path, std::uint64_t then) {
    struct stat st {};
    const std::uint64_t now = ::stat(path.c_str(), &st) == 0 ? std::uint64_t(st.st_size) : 0;
    return Fail(MsgText(Msg::CannotJoin,
                        {path, MsgText(Msg::InputChanged, {SizeText((now + 1023) / 1024),
                                                           SizeText((then + 1023) / 1024)})}));
}

namespace {

CopyJoin::Identity IdentityOf(const std::string &path, const struct stat &st) {
    const auto ns = [](const timespec &t) {
        return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    return {path,
            std::uint64_t(st.st_dev),
            std::uint64_t(st.st_ino),
            std::uint64_t(st.st_size),
            ns(st.st_mtim),
            ns(st.st_ctim)};
}

bool Same(const CopyJoin::Identity &a, const CopyJoin::Identity &b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified == b.modified && a.changed == b.changed;
}

} // namespace

bool CopyJoin::InputsUnchanged(int sourceError, std::size_t copiesDone) {
    for (const Identity &was : identities_) {
        struct stat st {};
        if (::stat(was.path.c_str(), &st) != 0 || !Same(IdentityOf(was.path, st), was))
            return Changed(was.path, was.size);
    }
    if (sourceError == 0)
        return true;
    const std::size_t input = copiesDone < copyInputs_.size() ? copyInputs_[copiesDone] : 0;
    return Fail(MsgText(Msg::CouldNotRead, {req_.inputs[input].path, SystemError(sourceError)}));
}

// False when a frame changes the rate or the channel count part-way (two files joined by cat):
// such frames cannot be copied, and notKept_ says why.
bool CopyJoin::Accepts(const Mp3Frame &f) {
    if (f.sampleRate != format_.sampleRate || f.samples != format_.samples) {
        notKept_ =
            MsgText(Msg::FramesRate, {req_.inputs[current_].path, std::to_string(f.sampleRate),
                                      req_.inputs[0].path, std::to_string(format_.sampleRate)});
        return false;
    }
    if (f.mono != format_.mono) {
        notKept_ = MsgText(Msg::FramesChannels, {req_.inputs[current_].path, f.mono ? "1" : "2",
                                                 req_.inputs[0].path, format_.mono ? "1" : "2"});
        return false;
    }
    return true;
}

bool CopyJoin::ReadFrames(Mp3CopyInput &in, mp3::EncodedRun &run, std::int64_t count) {
    Mp3Frame f;
    for (std::int64_t k = 0; k < count; ++k) {
        const std::uint8_t *data = in.frames->Next(f);
        if (!data)
            break;
        if (!Accepts(f))
            return false;
        AppendFrame(run, data, std::size_t(f.bytes));
        ++framesRead_;
    }
    return true;
}

// The bookkeeping of one frame on its way out: the Info frame's counts and seek table. header:
// the frame's first bytes, looked at for the first frame written.
void CopyJoin::Note(const std::uint8_t *header, int bitrateIndex, std::size_t count, bool copied) {
    if (written_ == 0) {
        mp3::ParseHeader(header, 4, firstHeader_);
        std::copy(header, header + 4, firstBytes_);
    }
    variable_ = variable_ || bitrateIndex != firstHeader_.bitrateIndex;
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
    bytes_ += count;
    ++written_;
    copied_ += copied ? 1 : 0;
}

bool CopyJoin::Emit(const mp3::EncodedRun &run, std::int64_t from, std::int64_t to, bool copied) {
    if (to <= from)
        return true;
    for (std::int64_t k = from; k < to; ++k)
        Note(run.FrameData(k), run.FrameData(k)[2] >> 4, run.Span(k, k + 1), copied);
    return writer_->Write(run.FrameData(from), run.Span(from, to));
}

// Opens input i and reads its frames: its first ones go to the seam before it, whose bridge
// can then be made, its last ones are held for the seam after it, the places of the others
// are kept for the copy.
bool CopyJoin::Scan(std::size_t i) {
    auto s = std::make_unique<Scanned>();
    s->path = req_.inputs[i].path;
    current_ = i;
    framesRead_ = 0;
    struct stat st {};
    if (!s->in.Open(s->path, kReadBytes) || ::fstat(s->in.fd, &st) != 0)
        return Fail(s->in.fd < 0 ? MsgText(Msg::CouldNotOpen, {s->path, SystemError(errno)})
                                 : MsgText(Msg::CannotJoin,
                                           {s->path, MsgText(Msg::FramesNotMp3, {s->path})}));
    identities_.push_back(IdentityOf(s->path, st));
    if (i < expected_.size() && !Same(identities_.back(), expected_[i]))
        return Changed(s->path, expected_[i].size);
    s->side.audioFrom = s->in.skip;
    if (i == 0) {
        format_ = s->in.first;
        n_ = s->in.FrameSamples();
        const int rate = format_.sampleRate, channels = s->in.Channels(), n = n_;
        const bladeenc::Api &api = api_;
        const auto make = [&api, rate, channels, n] {
            return std::make_unique<Mp3Bridger>(api, rate, channels, n);
        };
        bridger_ = make();
        jobs_ = std::make_unique<SeamJobs>(make, threaded_, stopFlag_);
        skipFirst_ = std::max<std::int64_t>(s->in.skip, kDecoderDelay);
    } else {
        Scanned &previous = *scanned_[i - 1];
        s->side.base = bridger_->Place(previous.side, s->side.audioFrom);
        auto job = std::make_unique<SeamJob>();
        job->a = std::move(previous.side);
        job->b.audioFrom = s->side.audioFrom;
        job->b.base = s->side.base;
        job->b.run.firstFrame = job->b.run.keptFrom = s->side.base;
        if (!ReadFrames(s->in, job->b.run, bridger_->HeadFrames(s->side.audioFrom)))
            return false;
        s->headFrames = framesRead_;
        jobs_->Add(std::move(job));
    }
    if (!ScanRest(*s, i + 1 == req_.inputs.size()))
        return false;
    EndInput(*s);
    if (!HoldsWhatWasListed(i, *s))
        return false;
    scanned_[i] = std::move(s);
    return true;
}

// An input cut since it was listed fails the join, as it fails the re-encoding one: its audio
// is shorter than its row says by more than a frame (the row may count its ends otherwise).
bool CopyJoin::HoldsWhatWasListed(std::size_t i, const Scanned &s) {
    const JoinInput &row = req_.inputs[i];
    const std::int64_t frameBytes = std::int64_t(FrameBytes(row.format));
    if (row.expectedBytes <= 0 || frameBytes == 0)
        return true;
    const std::int64_t holds = std::max<std::int64_t>(s.side.audioTo - s.side.audioFrom, 0);
    if (holds + n_ >= row.expectedBytes / frameBytes)
        return true;
    return Fail(
        EndedEarlyText(row, std::uint64_t(row.expectedBytes), std::uint64_t(holds * frameBytes)));
}

// Reads the frames after the first ones: where they are, their CRC and what the copy notes of
// them; the last ones (none for the last input) are held.
bool CopyJoin::ScanRest(Scanned &s, bool last) {
    const std::int64_t tail = last ? 0 : bridger_->TailFrames();
    Mp3FrameSpans spans(s.body, *s.in.frames, s.in.fd, std::size_t(tail), kSpanBytes);
    Mp3Frame f;
    while (const std::uint8_t *data = s.in.frames->Next(f)) {
        if (!Accepts(f))
            return false;
        if (s.notes.empty())
            std::copy(data, data + 4, s.firstHeader);
        s.notes.push_back(FrameNote(data, f.bytes));
        const std::uint64_t at = s.in.frames->Position() - std::uint64_t(f.bytes);
        if (!spans.Add(at, std::uint64_t(f.bytes)))
            return Changed(s.path, s.in.size);
        if (++framesRead_ % kStopCheckFrames == 0 && ShouldStop())
            return false;
    }
    if (!spans.Finish())
        return Changed(s.path, s.in.size);
    if (tail == 0)
        return true;
    std::vector<Mp3FramePlace> recent = spans.Last();
    const std::int64_t from = std::max(s.headFrames, framesRead_ - tail);
    const std::int64_t held = framesRead_ - from;
    recent.erase(recent.begin(), recent.end() - std::ptrdiff_t(held));
    if (held > 0)
        DropLastFrames(s.body, held, recent.front());
    s.notes.resize(s.notes.size() - std::size_t(held));
    return HoldTail(s, recent, from);
}

// Reads the frames at places (input frames from `from` on) into the side held for the next seam.
bool CopyJoin::HoldTail(Scanned &s, const std::vector<Mp3FramePlace> &places, std::int64_t from) {
    mp3::EncodedRun &run = s.side.run;
    run = mp3::EncodedRun();
    run.firstFrame = run.keptFrom = s.side.base + from;
    run.offsets.push_back(0);
    for (const Mp3FramePlace &p : places) {
        const std::size_t at = run.bytes.size();
        run.bytes.resize(at + p.bytes);
        mp3::FrameHeader h;
        if (!ReadAt(s.in.fd, p.offset, run.bytes.data() + at, p.bytes) ||
            !mp3::ParseHeader(run.bytes.data() + at, p.bytes, h) ||
            std::uint64_t(h.length) != p.bytes)
            return Changed(s.path, s.in.size);
        run.offsets.push_back(std::uint32_t(run.bytes.size()));
    }
    return true;
}

// Where the input's audio ends. A stated end is kept to only where the frames agree with the
// count that states it: the first of two files joined by cat states its own end, with the
// second one's frames after it.
void CopyJoin::EndInput(Scanned &s) {
    const std::int64_t all = framesRead_ * n_;
    const bool counted =
        s.in.header.hasFrameCount && std::int64_t(s.in.header.frames) == framesRead_;
    SeamSide &side = s.side;
    side.audioTo = s.in.endAt >= 0 && counted ? std::min(s.in.endAt, all) : all;
    side.audioTo = std::max(side.audioTo, std::min(side.audioFrom, all));
    end_ = side.base * n_ + side.audioTo;
}

// The seam before input i: the end of the input before it, the bridge, and its own first frames.
bool CopyJoin::EmitSeam(std::size_t i) {
    const std::unique_ptr<SeamJob> job = jobs_->Take(i - 1);
    if (job->result == BridgeResult::Stopped || ShouldStop())
        return false;
    if (job->result != BridgeResult::Done) {
        // The join is made again by re-encoding; nothing of this one is kept.
        notKept_ = MsgText(Msg::FramesSeamFailed, {req_.inputs[i - 1].path, req_.inputs[i].path});
        return false;
    }
    const mp3::EncodedRun &a = job->a.run, &b = job->b.run;
    if (!Emit(a, a.firstFrame, job->seam.firstFrame, true) ||
        !Emit(a, job->seam.firstFrame, a.EndFrame(), false) ||
        !Emit(job->bridge, job->bridge.firstFrame, job->bridge.EndFrame(), false) ||
        !Emit(b, b.keptFrom, b.EndFrame(), true))
        return false;
    seams_.push_back(job->seam);
    return true;
}

bool CopyJoin::Copy(std::size_t i) {
    const Scanned &s = *scanned_[i];
    progress_.SetLabel(s.path);
    progress_.Progress1(0);
    if (i > 0 && !EmitSeam(i))
        return false;
    // Its chapter, once its first frames are out.
    starts_.push_back(i == 0 ? 0 : s.side.base * n_ + s.side.audioFrom - skipFirst_);
    if (!CopySpans(s, i))
        return false;
    doneBytes_ += s.in.size;
    return true;
}

// Has the writer copy the spans' frames of input i from its file, as the scan found them.
bool CopyJoin::CopySpans(const Scanned &s, std::size_t i) {
    std::size_t k = 0; // in s.notes
    std::uint64_t done = 0;
    for (const Mp3FrameSpan &span : s.body) {
        for (std::int64_t frame = 0; frame < span.frames; ++frame, ++k)
            Note(s.firstHeader, s.notes[k] >> 12, s.notes[k] & 0x0FFF, true);
        copyInputs_.push_back(i);
        if (!writer_->CopyFrom(s.in.fd, span.offset, span.bytes, span.crc))
            return false;
        done += span.bytes;
        progress_.Progress1(Percent(done, s.in.size));
        progress_.Progress2(Percent(doneBytes_ + done, totalBytes_));
        if (ShouldStop())
            return false;
    }
    return true;
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
    const std::size_t count = req_.inputs.size();
    scanned_.resize(count);
    std::size_t scanned = 0;
    for (std::size_t i = 0; i < count; ++i) {
        // The input and the one after it, whose first frames its seam needs; then more ahead
        // while the seam before it is bridged, so that the copying of what is ready starts
        // early and the bridges of later seams wait ready.
        for (; scanned < count &&
               (scanned <= i + 1 || (scanned <= i + kScanAhead && i > 0 && !jobs_->Done(i - 1)));
             ++scanned)
            if (!Scan(scanned))
                return false;
        if (!Copy(i))
            return false;
        scanned_[i].reset();
    }
    return true;
}

mp3::InfoFields CopyJoin::Fields() const {
    mp3::InfoFields f;
    f.frames = std::uint32_t(written_);
    f.delay = int(skipFirst_ - kDecoderDelay);
    f.padding = int(std::clamp<std::int64_t>(written_ * n_ + kDecoderDelay - end_, 0, 4095));
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

namespace {

std::int64_t CopyJoinSamples(const mp3::InfoFields &f, int n) {
    return std::max<std::int64_t>(0, std::int64_t(f.frames) * n - f.delay - f.padding);
}

} // namespace

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

} // namespace tandrel
