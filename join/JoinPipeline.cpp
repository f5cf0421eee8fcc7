#include "join/JoinPipeline.h"

#include "audio/Probe.h"
#include "common/FileIo.h"
#include "common/Messages.h"
#include "join/Convert.h"
#include "join/DecodePool.h"
#include "join/EncoderFeed.h"
#include "join/JoinChapters.h"
#include "join/JoinInputs.h"
#include "join/Mp3Copy.h"
#include "join/OutputBackup.h"
#include "join/OutputFile.h"
#include "join/OutputStage.h"
#include "join/QueuedWriter.h"
#include "join/WavWriter.h"
#include "lang/MessageTexts.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tandrel {
namespace {

constexpr std::size_t kSmallBlock = 10240;
constexpr std::size_t kLargeBlock = 20480;

// Converted PCM appended to the join's temporary file.
class TempPcmSink : public PcmSink {
public:
    TempPcmSink(BufferedWriter &file, const std::string &path) : file_(file), path_(path) {}
    bool Write(const std::uint8_t *data, std::size_t count) override {
        if (file_.Write(data, count))
            return true;
        ShowMessage(MsgText(Msg::ErrorCaption),
                    MsgText(Msg::CouldNotWrite, {path_, SystemError(file_.Error())}));
        return false;
    }

private:
    BufferedWriter &file_;
    const std::string &path_;
};

// Passes PCM on and counts it.
class CountingSink : public PcmSink {
public:
    bool Write(const std::uint8_t *data, std::size_t count) override {
        bytes += count;
        return inner->Write(data, count);
    }
    bool TakesRanges() const override { return inner->TakesRanges(); }
    bool WorksInWrite() const override { return inner->WorksInWrite(); }
    RangeResult TakeRange(int fd, std::uint64_t offset, std::uint64_t count) override {
        const RangeResult r = inner->TakeRange(fd, offset, count);
        bytes += r.bytes;
        return r;
    }
    PcmSink *inner = nullptr;
    std::uint64_t bytes = 0;
};

// PCM handed to the sink on a thread of its own, so that its encoding runs beside the decoding
// and converting; ranges of files (the kernel's copies) follow what is queued.
class QueuedPcmSink : public PcmSink {
public:
    // Chunks small beside the encoders' own buffers: the memory stays flat.
    QueuedPcmSink(PcmSink &inner, bool threaded)
        : toInner_(inner), queue_(toInner_, threaded, 256 * 1024) {}
    bool Write(const std::uint8_t *data, std::size_t count) override {
        return queue_.Write(data, count);
    }
    bool TakesRanges() const override { return toInner_.sink.TakesRanges(); }
    RangeResult TakeRange(int fd, std::uint64_t offset, std::uint64_t count) override {
        if (!queue_.Drain())
            return {0, 0, false};
        return toInner_.sink.TakeRange(fd, offset, count);
    }
    bool Finish(bool stopped) {
        if (stopped)
            queue_.Drop();
        return queue_.Finish();
    }

private:
    struct ToSink : FrameWriter {
        explicit ToSink(PcmSink &s) : sink(s) {}
        bool Write(const std::uint8_t *data, std::size_t count) override {
            return sink.Write(data, count);
        }
        PcmSink &sink;
    };
    ToSink toInner_;
    QueuedWriter queue_;
};

class Join : private InputBlocks {
public:
    Join(const JoinRequest &request, JoinProgress &progress)
        : req_(request), progress_(progress), reader_(256 * 1024), block_(kLargeBlock) {}
    JoinStatus Run();
    std::uint64_t JoinedBytes() const { return counter_.bytes; }
    std::vector<Chapter> Chapters() const;

private:
    bool CheckInputs() const;
    bool ReadInputs(PcmSink &sink);
    bool ReadEach(DecodePool *pool);
    bool OutputIsInput() const;
    // A stopped join's output is thrown away (else it keeps what was joined).
    bool DiscardsOnStop() const { return req_.discardOnStop || OutputIsInput(); }
    std::unique_ptr<OutputSink> MakeEncoder() const;
    std::string TempModel() const;
    std::string TempFolder() const;
    int CreateTempPcm();
    void TwoPassJoin(bool discardIfStopped);
    void OutputStage(int pcmFd, std::uint64_t size, bool discardIfStopped);
    void DirectJoin(bool discardIfStopped);
    std::int64_t KnownPcmBytes() const;
    OutputMetadata FinalMetadata() const;
    bool Stop() {
        if (progress_.ProcessEventsAndShouldStop())
            stop_ = true;
        return stop_;
    }
    // Lets the window breathe without taking a stop: for steps that must finish.
    std::function<void()> KeepAlive() {
        return [this] { progress_.ProcessEventsAndShouldStop(); };
    }
    bool Block(const std::uint8_t *data, std::size_t count) override {
        return converter_.ConvertBlock(data, count, *sink_);
    }
    bool AfterBlock(int percent) override {
        progress_.Progress1(percent);
        return Stop();
    }
    // Only an input that needs no conversion: the converter holds nothing back then.
    bool TakesRanges() const override {
        return converter_.SameFormat() && !converter_.Resampled() && sink_->TakesRanges();
    }
    RangeResult TakeRange(int fd, std::uint64_t offset, std::uint64_t count) override {
        return sink_->TakeRange(fd, offset, count);
    }

    const JoinRequest &req_;
    JoinProgress &progress_;
    PcmConverter converter_;
    BlockReader reader_;
    std::vector<std::uint8_t> block_;
    PcmSink *sink_ = nullptr;
    CountingSink counter_;
    std::string tempPath_;
    std::vector<std::uint64_t> starts_; // each input's first frame in the output
    bool stop_ = false;
    bool failed_ = false;
};

bool Join::CheckInputs() const {
    const OutputKind kind = req_.output.kind;
    const bool encoded = kind == OutputKind::Mp3 || kind == OutputKind::Wma;
    const std::string encoding = kind == OutputKind::Mp3 ? "MP3" : "WMA";
    for (const JoinInput &in : req_.inputs) {
        const PcmFormat &f = in.format;
        std::string why;
        switch (CheckConversion(f, req_.target)) {
        case ConversionCheck::Ok:
            break;
        case ConversionCheck::TooManyChannels:
            why = MsgText(Msg::TooManyChannels);
            break;
        case ConversionCheck::UnsupportedBits:
            why = MsgText(Msg::BitsNotConvertible,
                          {std::to_string(f.bits), std::to_string(req_.target.bits)});
            break;
        case ConversionCheck::UnsupportedRate:
            why = MsgText(Msg::RateNotConvertible,
                          {std::to_string(f.sampleRate), std::to_string(req_.target.sampleRate)});
            break;
        case ConversionCheck::FewerChannels:
            why = MsgText(Msg::ChannelsNotConvertible,
                          {std::to_string(f.channels), std::to_string(req_.target.channels)});
            break;
        }
        if (why.empty() && encoded && f.channels > 2)
            why = MsgText(Msg::EncodedTwoChannels, {encoding});
        if (why.empty() && encoded && !IsPcmWidth(req_.target.bits))
            why = MsgText(Msg::EncodedBits, {encoding, std::to_string(f.bits)});
        if (!why.empty()) {
            ShowMessage(MsgText(Msg::ErrorCaption), MsgText(Msg::CannotJoin, {in.path, why}));
            return false;
        }
    }
    return true;
}

bool Join::ReadInputs(PcmSink &sink) {
    const std::unique_ptr<DecodePool> pool =
        MakeDecodePool(req_.inputs, req_.target, req_.output.mp3Threads);
    // An encoder that works as it is fed takes a thread of its own, beside the decoding.
    QueuedPcmSink queued(sink,
                         DecodePool::WorkersFor(req_.output.mp3Threads) > 1 && sink.WorksInWrite());
    counter_.inner = &queued;
    sink_ = &counter_;
    const bool read = ReadEach(pool.get());
    const bool written = queued.Finish(stop_ || !read);
    return read && written;
}

bool Join::ReadEach(DecodePool *pool) {
    for (std::size_t i = 0; i < req_.inputs.size(); ++i) {
        const JoinInput &in = req_.inputs[i];
        progress_.SetLabel(in.path);
        starts_.push_back(counter_.bytes / FrameBytes(req_.target));
        const InputReader reader = ReaderOf(in);
        if (!converter_.PrepareConversion(in.format, req_.target, req_.resampling)) {
            ShowMessage(MsgText(Msg::ErrorCaption),
                        MsgText(Msg::CannotJoin, {in.path, MsgText(Msg::ConverterNotStarted)}));
            return false;
        }
        const std::size_t block = InputBlockBytes(in.format, req_.target);
        const InputResult result =
            reader == InputReader::Wav ? ReadWavInput(in, block, reader_, *this)
            : pool                     ? pool->Read(i, reader, block_.data(), *this)
                                       : ReadDecodedInput(in, reader, block, block_.data(), *this);
        if (result == InputResult::Failed)
            return false;
        // The resampler's held-back tail belongs to a finished input only.
        if (result != InputResult::Stopped) {
            if (!converter_.FinishInput(*sink_))
                return false;
            continue;
        }
        converter_.EndInput();
        // A stopped join whose output is thrown away reads no further; the window's, which
        // keeps what was joined, still takes a first block of each later input as it always has.
        if (DiscardsOnStop())
            return true;
    }
    return true;
}

bool Join::OutputIsInput() const {
    return std::any_of(req_.inputs.begin(), req_.inputs.end(),
                       [&](const JoinInput &in) { return SameFile(in.path, req_.output.path); });
}

std::unique_ptr<OutputSink> Join::MakeEncoder() const {
    if (!req_.makeEncoder) {
        ShowMessage(MsgText(Msg::ErrorCaption), MsgText(Msg::NoEncoders));
        return nullptr;
    }
    return req_.makeEncoder(req_.output);
}

void Join::OutputStage(int pcmFd, std::uint64_t size, bool discardIfStopped) {
    const OutputSettings &out = req_.output;
    progress_.SetLabel(out.path);
    const ProgressReport report = [this](int percent) {
        progress_.Progress2(percent);
        return Stop();
    };
    StageResult result = StageResult::Failed;
    const OutputMetadata metadata = FinalMetadata();
    if (out.kind == OutputKind::Wav) {
        WavFileWriter wav;
        wav.SetMetadata(metadata);
        result = WriteOutput(pcmFd, size, tempPath_, wav, req_.target, out.path, report,
                             discardIfStopped, TempFolder(), KeepAlive());
    } else if (std::unique_ptr<OutputSink> encoder = MakeEncoder()) {
        Pcm16Feed feed(*encoder);
        feed.SetMetadata(metadata);
        result = WriteOutput(pcmFd, size, tempPath_, feed, req_.target, out.path, report,
                             discardIfStopped, TempFolder(), KeepAlive());
    }
    if (result == StageResult::Failed)
        failed_ = true;
}

std::string Join::TempModel() const {
    return req_.tempPcmPath.empty() ? "/tmp/AudioTemp.pcm" : req_.tempPcmPath;
}

std::string Join::TempFolder() const {
    return DirName(TempModel());
}

// The temporary PCM file: unnamed ("AudioTemp-XXXXXX.pcm" where it cannot be).
int Join::CreateTempPcm() {
    const std::string model = TempModel();
    const std::string name = BaseName(model);
    const auto dot = name.find_last_of('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    std::string named;
    const int fd = CreateUnnamedFile(TempFolder(), 0600, stem + "-", ext, named);
    tempPath_ = named.empty() ? model : named;
    return fd;
}

void Join::TwoPassJoin(bool discardIfStopped) {
    const int fd = CreateTempPcm();
    if (fd < 0) {
        ShowMessage(MsgText(Msg::ErrorCaption),
                    MsgText(Msg::CannotCreateTemp, {TempFolder(), SystemError(errno)}));
        failed_ = true;
        return;
    }
    BufferedWriter temp;
    temp.Attach(fd);
    TempPcmSink sink(temp, tempPath_);
    if (!ReadInputs(sink)) {
        failed_ = true;
    } else if (!temp.Flush()) {
        ShowMessage(MsgText(Msg::ErrorCaption),
                    MsgText(Msg::CouldNotWrite, {tempPath_, SystemError(temp.Error())}));
        failed_ = true;
    }
    if (!failed_ && req_.output.kind != OutputKind::None) {
        if (::lseek(fd, 0, SEEK_SET) == 0) {
            OutputStage(fd, temp.Written(), discardIfStopped);
        } else {
            ShowMessage(MsgText(Msg::ErrorCaption),
                        MsgText(Msg::CouldNotRead, {tempPath_, SystemError(errno)}));
            failed_ = true;
        }
    }
    temp.Close();
    if (tempPath_ != TempModel())
        ::unlink(tempPath_.c_str());
}

void Join::DirectJoin(bool discardIfStopped) {
    const OutputSettings &out = req_.output;
    if (out.kind == OutputKind::None)
        return;
    const std::string &shown = req_.outputName.empty() ? out.path : req_.outputName;
    OutputFile file;
    if (!file.Open(out.path, [this] { return Stop(); }, {true, TempFolder()})) {
        if (file.Error() != 0) {
            ShowOutputError(shown, file.Error());
            failed_ = true;
        }
        return;
    }
    WavFileWriter wav;
    wav.SetStopCheck([this] { return Stop(); });
    std::unique_ptr<OutputSink> encoder;
    std::unique_ptr<Pcm16Feed> feed;
    OutputSink *dest = &wav;
    if (out.kind != OutputKind::Wav) {
        encoder = MakeEncoder();
        if (!encoder) {
            failed_ = true;
            return;
        }
        feed = std::make_unique<Pcm16Feed>(*encoder);
        dest = feed.get();
    }
    // A pipe's header and Info frame cannot be gone back to: they get the length when the
    // inputs tell it before the first byte.
    const std::int64_t known = file.Seekable() ? -1 : KnownPcmBytes();
    dest->SetMetadata(ForeseenMetadata(req_));
    if (!dest->Open({file.Fd(), file.WritePath(), shown, file.Seekable(), file.SyncedAtCommit()},
                    req_.target, known)) {
        failed_ = true;
        return;
    }
    if (!ReadInputs(*dest))
        failed_ = true;
    if (stop_)
        dest->Stop();
    else if (!failed_ && req_.metadata.writeChapters)
        dest->SetChapters(Chapters());
    if (!dest->Close() && !wav.Interrupted())
        failed_ = true;
    if (failed_ || (stop_ && discardIfStopped) || wav.Interrupted())
        return;
    if (!file.Commit(KeepAlive())) {
        ShowOutputError(shown, file.Error());
        failed_ = true;
    }
}

// The joined PCM's bytes when every input tells its length exactly before it is read: whole
// frames of WAV data, at the target's rate or resampled with Hq; -1 otherwise (decoded
// inputs tell theirs only once decoded, and frame repetition counts as it goes).
std::int64_t Join::KnownPcmBytes() const {
    std::uint64_t frames = 0;
    for (const JoinInput &in : req_.inputs) {
        const std::int64_t n = ForeseenFrames(in, req_.target, req_.resampling);
        if (ReaderOf(in) != InputReader::Wav || n < 0)
            return -1;
        frames += std::uint64_t(n);
    }
    return std::int64_t(frames * FrameBytes(req_.target));
}

std::vector<Chapter> Join::Chapters() const {
    return ChaptersOf(req_.inputs, starts_, counter_.bytes / FrameBytes(req_.target));
}

// The output's metadata once every input has been placed.
OutputMetadata Join::FinalMetadata() const {
    OutputMetadata m = req_.metadata;
    if (m.writeChapters) {
        m.chapters = Chapters();
        m.chaptersFinal = true;
    }
    return m;
}

JoinStatus Join::Run() {
    // Before anything else: old contents that a killed join left in a backup go back.
    if (req_.output.kind != OutputKind::None && !RestoreLeftBackup(req_.output.path, TempFolder()))
        return JoinStatus::Failed;
    if (!CheckInputs())
        return JoinStatus::Failed;
    // Cancelling a join onto one of its own inputs must leave that input as it was.
    const bool discardIfStopped = DiscardsOnStop();
    progress_.Progress1(0);
    progress_.Progress2(0);
    if (req_.direct)
        DirectJoin(discardIfStopped);
    else
        TwoPassJoin(discardIfStopped);
    return failed_ ? JoinStatus::Failed : stop_ ? JoinStatus::Stopped : JoinStatus::Ok;
}

} // namespace

PcmFormat ComputeTargetFormat(const std::vector<PcmFormat> &rows) {
    PcmFormat target{0, 1, 8};
    for (const PcmFormat &row : rows) {
        target.sampleRate = std::max(target.sampleRate, row.sampleRate);
        target.channels = std::max(target.channels, row.channels);
        target.bits = std::max(target.bits, row.bits);
    }
    return target;
}

int Mp3Kbps(int index, int sampleRate) {
    static const int kKbps[] = {320, 256, 192, 128, 96, 64, 32};
    const int kbps = kKbps[std::clamp(index, 0, 6)];
    return sampleRate <= 11025 && kbps > 64 ? 64 : kbps;
}

int Mp3Mode(int channels) {
    return channels == 2 ? 1 : 4;
}

int WmaBitrate(int index) {
    static const int kBitrates[] = {160000, 128000, 96000, 80000, 64000, 48000};
    return kBitrates[std::clamp(index, 0, 5)];
}

std::size_t InputBlockBytes(const PcmFormat &input, const PcmFormat &target) {
    return input == target || input.bits == 8 ? kSmallBlock : kLargeBlock;
}

JoinStatus RunJoin(const JoinRequest &request, JoinProgress &progress, JoinSummary *summary) {
    std::string notKept;
    if (request.output.kind == OutputKind::Mp3 && request.output.mp3Copy) {
        const Mp3CopyCheck check = CheckMp3Copy(request.inputs);
        notKept = check.why;
        if (check.allowed) {
            const JoinStatus status = RunMp3Copy(request, progress, summary, &notKept);
            if (status != JoinStatus::Failed || notKept.empty())
                return status;
        }
    }
    Join join(request, progress);
    const JoinStatus status = join.Run();
    if (summary) {
        summary->pcmBytes = join.JoinedBytes();
        summary->framesNotKept = notKept;
        if (status == JoinStatus::Ok)
            summary->chapters = join.Chapters();
    }
    return status;
}

} // namespace tandrel
