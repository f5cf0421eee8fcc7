#include "encoders/SplicedMp3.h"

#include "common/Messages.h"
#include "encoders/Mp3Bitstream.h"
#include "encoders/Mp3InfoFrame.h"
#include "lang/MessageTexts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

using namespace bladeenc;
using tandrel::Msg;
using tandrel::MsgText;

namespace {

void Say(const std::string &text) {
    tandrel::ShowMessage(MsgText(Msg::LameCaption), text, tandrel::MsgIcon::None);
}

bool LegalRate(int rate) {
    for (int r : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000})
        if (r == rate)
            return true;
    return false;
}

} // namespace

SplicedMp3::SplicedMp3() = default;

SplicedMp3::SplicedMp3(const std::string &libraryFolder) : library_(libraryFolder) {}

SplicedMp3::~SplicedMp3() {
    Stop();
    Close();
}

int SplicedMp3::Open(int Fd, const std::string &FileName, bool seekable,
                     std::int64_t expectedSamples, int SampleRate, int Mode, unsigned Bitrate,
                     bool Copyright, bool Crc, bool Original, bool Private) {
    const Api *api = library_.Entries();
    if (!api || open_)
        return -1;
    api_ = *api;
    config_ = WavToMp3::MakeConfig(SampleRate, Mode, Bitrate, Copyright, Crc, Original, Private);
    DWORD samples = 0, bufferSize = 0;
    if (!OpenStream(api_, config_, samples, bufferSize, stream_)) {
        Say(MsgText(Msg::LameNotInitialized));
        return -1;
    }
    streamOpen_ = true;
    if (!file_.Open(Fd, FileName, seekable)) {
        const int err = errno;
        api_.closeStream(stream_);
        streamOpen_ = false;
        if (onFileError_)
            onFileError_(err);
        else
            Say(tandrel::MsgLines(Msg::CannotCreateFile, FileName, std::strerror(err)));
        return -1;
    }
    open_ = true;
    failed_ = false;
    stop_ = false;
    channels_ = config_.format.mp3.byMode == BE_MP3_MODE_MONO ? 1 : 2;
    chunkValues_ = int(samples);
    chunkOut_.assign(bufferSize, 0);
    fed_ = framesOut_ = samplesOut_ = nextSegment_ = 0;
    ended_ = false;
    reencoded_ = 0;
    inRate_ = SampleRate;
    total_ = expectedSamples;
    resampled_ = !LegalRate(SampleRate);
    BE_VERSION version{};
    api_.version(&version);
    mp3::InfoFields fields;
    fields.versionMajor = version.byMajorVersion;
    fields.versionMinor = version.byMinorVersion;
    frameSamples_ = samples / unsigned(channels_) == 576 ? 576 : 1152;
    fields.kbps = int(WavToMp3::SnapBitrate(Bitrate)); // the file sets the encoded one
    file_.Describe(resampled_ ? -1 : total_, frameSamples_, fields);
    mayRaise_ = !file_.CountsAhead();
    startGrid_ = mayRaise_ ? 1 : mp3::PaddingPeriod(frameSamples_, SampleRate);
    unsigned threads = threadsWanted_ ? threadsWanted_ : std::thread::hardware_concurrency();
    const std::int64_t few = 3 * std::int64_t(segmentFrames_) * frameSamples_;
    serial_ = threads <= 1 || resampled_ || (total_ >= 0 && total_ < few);
    buffering_ = !serial_ && total_ < 0;
    if (!serial_) {
        workers_.reserve(threads);
        try {
            for (unsigned i = 0; i < threads; ++i)
                workers_.emplace_back([this] { WorkerLoop(); });
        } catch (const std::system_error &) {
            // No more threads to be had: go on with those that started, or serially.
        }
        serial_ = workers_.empty();
        buffering_ = buffering_ && !serial_;
        if (!serial_) {
            api_.closeStream(stream_);
            streamOpen_ = false;
        }
    }
    return int(samples * 2);
}

// Segment s holds frames [s * N, (s + 1) * N); its stream starts kLeadIn granules before (or
// the few more frames down to the start grid) and runs kRunPast granules past it.
std::int64_t SplicedMp3::InStart(std::int64_t segment) const {
    const std::int64_t first = std::max<std::int64_t>(0, segment * segmentFrames_ - LeadIn());
    return first / startGrid_ * startGrid_ * frameSamples_;
}

std::int64_t SplicedMp3::InEnd(std::int64_t segment) const {
    const std::int64_t end = ((segment + 1) * segmentFrames_ + RunPast()) * frameSamples_;
    return ended_ ? std::min(end, fed_) : end;
}

SplicedMp3::Job *SplicedMp3::NewJob(std::int64_t segment) {
    Job *job;
    if (!spare_.empty()) {
        job = spare_.back();
        spare_.pop_back();
    } else {
        jobs_.push_back(std::make_unique<Job>());
        job = jobs_.back().get();
        job->pcm.reserve(std::size_t(segmentFrames_ + LeadIn() + startGrid_ + RunPast()) *
                         frameSamples_ * channels_);
    }
    job->pcm.clear();
    job->run.Clear();
    job->segment = segment;
    job->inStart = InStart(segment);
    job->inEnd = InEnd(segment);
    job->done = false;
    job->result = mp3::RunResult::Done;
    return job;
}

void SplicedMp3::Recycle(Job *job) {
    spare_.push_back(job);
}

void SplicedMp3::Dispatch(Job *job) {
    job->inEnd = job->inStart + std::int64_t(job->pcm.size()) / channels_;
    inflight_.push_back(job);
    if (buffering_)
        return;
    std::lock_guard<std::mutex> guard(lock_);
    queue_.push_back(job);
    wake_.notify_one();
}

void SplicedMp3::WorkerLoop() {
    std::vector<std::uint8_t> scratch;
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return quit_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        Job *job = queue_.front();
        queue_.pop_front();
        guard.unlock();
        job->run.firstFrame = job->inStart / frameSamples_;
        job->run.keptFrom = job->run.firstFrame;
        const mp3::PcmSpan span{job->pcm.data(), job->pcm.size()};
        const mp3::RunResult result =
            mp3::EncodeRun(api_, config_, &span, 1, job->run, stop_, scratch);
        guard.lock();
        job->result = result;
        job->done = true;
        finished_.notify_all();
    }
}

bool SplicedMp3::Failed(mp3::RunResult result) {
    if (!failed_ && result == mp3::RunResult::InitFailed)
        Say(MsgText(Msg::LameNotInitialized));
    else if (!failed_ && result == mp3::RunResult::EncodeFailed)
        Say(MsgText(Msg::LameCompressionFailed));
    failed_ = true;
    return false;
}

bool SplicedMp3::Write(const void *Samples, std::size_t ByteCount) {
    if (!open_ || failed_ || (!Samples && ByteCount > 0))
        return false;
    const auto *pcm = static_cast<const std::int16_t *>(Samples);
    if (serial_)
        return SerialEncode(pcm, ByteCount / 2);
    std::int64_t left = std::int64_t(ByteCount / 2 / std::size_t(channels_));
    while (left > 0) {
        if (InStart(nextSegment_) <= fed_) {
            // A bounded number of segments lives at once: the oldest is written out first.
            while (jobs_.size() - spare_.size() >= workers_.size() + 4 && !inflight_.empty() &&
                   !buffering_)
                if (!ConsumeOldest())
                    return false;
            filling_.push_back(NewJob(nextSegment_++));
            continue;
        }
        std::int64_t take = std::min(left, InStart(nextSegment_) - fed_);
        for (Job *job : filling_)
            take = std::min(take, job->inEnd - fed_);
        const std::size_t values = std::size_t(take) * std::size_t(channels_);
        for (Job *job : filling_)
            job->pcm.insert(job->pcm.end(), pcm, pcm + values);
        pcm += values;
        left -= take;
        fed_ += take;
        while (!filling_.empty() && filling_.front()->inEnd <= fed_) {
            Dispatch(filling_.front());
            filling_.pop_front();
        }
        if (buffering_ &&
            fed_ >= 3 * std::int64_t(segmentFrames_) * frameSamples_ + RunPast() * frameSamples_) {
            buffering_ = false;
            std::lock_guard<std::mutex> guard(lock_);
            queue_.insert(queue_.end(), inflight_.begin(), inflight_.end());
            wake_.notify_all();
        }
    }
    return true;
}

bool SplicedMp3::SerialEncode(const std::int16_t *pcm, std::size_t values) {
    for (std::size_t at = 0; at < values; at += std::size_t(chunkValues_)) {
        const DWORD count = DWORD(std::min<std::size_t>(std::size_t(chunkValues_), values - at));
        DWORD written = 0;
        if (api_.encodeChunk(stream_, count, pcm + at, chunkOut_.data(), &written) !=
            BE_ERR_SUCCESSFUL)
            return Failed(mp3::RunResult::EncodeFailed);
        if (!Emit(chunkOut_.data(), std::min<std::size_t>(written, chunkOut_.size())))
            return false;
    }
    fed_ += std::int64_t(values) / channels_;
    return true;
}

bool SplicedMp3::ConsumeOldest() {
    Job *job = inflight_.front();
    {
        std::unique_lock<std::mutex> guard(lock_);
        finished_.wait(guard, [job] { return job->done; });
    }
    inflight_.pop_front();
    if (job->result != mp3::RunResult::Done) {
        Recycle(job);
        return Failed(job->result);
    }
    if (held_.empty()) {
        held_.push_back(job);
        return true;
    }
    mp3::EncodedRun &held = held_.front()->run;
    const std::int64_t at = job->segment * segmentFrames_;
    const std::int64_t j = mp3::Splice(held, job->run, at, RunPast() - 1, mayRaise_);
    if (j < 0)
        return Merge(job);
    if (j > held.keptFrom && !Emit(held.FrameData(held.keptFrom), held.Span(held.keptFrom, j)))
        return false;
    framesOut_ += j - held.keptFrom;
    for (Job *h : held_)
        Recycle(h);
    held_.assign(1, job);
    return true;
}

// No frame near the seam splices: the held stream encodes on through job's segment.
bool SplicedMp3::Merge(Job *job) {
    ++reencoded_;
    held_.push_back(job);
    std::vector<mp3::PcmSpan> spans;
    for (std::size_t i = 0; i < held_.size(); ++i) {
        const Job *h = held_[i];
        const std::int64_t end = i + 1 < held_.size() ? held_[i + 1]->inStart : h->inEnd;
        spans.push_back({h->pcm.data(), std::size_t(end - h->inStart) * std::size_t(channels_)});
    }
    mp3::EncodedRun merged;
    merged.firstFrame = held_.front()->run.firstFrame;
    merged.keptFrom = held_.front()->run.keptFrom;
    std::vector<std::uint8_t> scratch;
    const std::atomic<bool> never{false};
    const mp3::RunResult result =
        mp3::EncodeRun(api_, config_, spans.data(), spans.size(), merged, never, scratch);
    if (result != mp3::RunResult::Done)
        return Failed(result);
    held_.front()->run = std::move(merged);
    return true;
}

void SplicedMp3::Stop() {
    stop_ = true;
}

void SplicedMp3::JoinWorkers() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        quit_ = true;
        wake_.notify_all();
    }
    for (std::thread &t : workers_)
        t.join();
    workers_.clear();
    quit_ = false;
}

bool SplicedMp3::EncodeSerially() {
    DWORD samples = 0, bufferSize = 0;
    if (!OpenStream(api_, config_, samples, bufferSize, stream_))
        return Failed(mp3::RunResult::InitFailed);
    streamOpen_ = true;
    serial_ = true;
    const std::int64_t counted = fed_;
    fed_ = 0;
    std::vector<Job *> all(inflight_.begin(), inflight_.end());
    all.insert(all.end(), filling_.begin(), filling_.end());
    for (Job *job : all) {
        const std::int64_t from = job->segment * segmentFrames_ * frameSamples_;
        const std::int64_t to =
            std::min(counted, from + std::int64_t(segmentFrames_) * frameSamples_);
        if (to > from && !SerialEncode(job->pcm.data() + (from - job->inStart) * channels_,
                                       std::size_t(to - from) * std::size_t(channels_)))
            return false;
    }
    return true;
}

bool SplicedMp3::FinishParallel() {
    if (buffering_ && !stop_) {
        buffering_ = false;
        JoinWorkers();
        return EncodeSerially();
    }
    if (!stop_) {
        // The input ended: the first segment whose stream reaches the end is the last one.
        ended_ = true;
        while (!filling_.empty()) {
            Job *job = filling_.front();
            filling_.pop_front();
            if (job->segment > 0 && InEnd(job->segment - 1) >= fed_)
                Recycle(job);
            else
                Dispatch(job);
        }
    }
    bool ok = true;
    while (ok && !inflight_.empty()) {
        if (stop_) {
            // Segments held back while the length was unknown never reached a worker.
            if (buffering_)
                break;
            const Job *job = inflight_.front();
            std::unique_lock<std::mutex> guard(lock_);
            finished_.wait(guard, [job] { return job->done; });
            if (job->result != mp3::RunResult::Done)
                break;
        }
        ok = ConsumeOldest();
    }
    JoinWorkers();
    if (ok && !held_.empty()) {
        mp3::EncodedRun &held = held_.front()->run;
        ok = Emit(held.FrameData(held.keptFrom), held.Span(held.keptFrom, held.EndFrame()));
        framesOut_ += held.EndFrame() - held.keptFrom;
        samplesOut_ = held_.back()->inEnd;
    }
    return ok;
}

bool SplicedMp3::Emit(const std::uint8_t *data, std::size_t count) {
    if (file_.Write(data, count))
        return true;
    failed_ = true;
    return false;
}

bool SplicedMp3::Close() {
    if (!open_) {
        JoinWorkers();
        return true;
    }
    bool ok = !failed_;
    if (serial_ || failed_) {
        stop_ = stop_ || failed_;
        JoinWorkers();
    }
    if (!serial_ && ok)
        ok = FinishParallel();
    if (streamOpen_) {
        DWORD written = 0;
        if (api_.deinitStream(stream_, chunkOut_.data(), &written) != BE_ERR_SUCCESSFUL)
            ok = false;
        else if (ok)
            ok = Emit(chunkOut_.data(), std::min<std::size_t>(written, chunkOut_.size()));
        api_.closeStream(stream_);
        streamOpen_ = false;
    }
    if (ok) {
        const mp3::FrameHeader h = file_.StreamHeader();
        std::int64_t samples = serial_ ? fed_ : samplesOut_;
        std::uint32_t frames = std::uint32_t(framesOut_);
        if (resampled_ && file_.AudioBytes() > 0 && h.samples > 0) {
            samples = samples * h.sampleRate / inRate_;
            // The padded frames keep the total within a byte of the nominal bitrate's (the
            // serial stream raises no frame).
            const std::uint64_t frameBits = std::uint64_t(mp3::Kbps(h.version, h.bitrateIndex)) *
                                            1000 * std::uint64_t(h.samples);
            frames = std::uint32_t(
                (file_.AudioBytes() * 8 * std::uint64_t(h.sampleRate) + frameBits / 2) / frameBits);
        } else if (serial_) {
            frames = mp3::StreamFrames(samples, frameSamples_);
        }
        if (!finalTag_.empty())
            file_.ReplaceLeadingTag(finalTag_);
        ok = file_.Finish(frames, samples);
    }
    ok = file_.Close() && ok;
    open_ = false;
    for (auto *list : {&filling_, &inflight_, &queue_})
        list->clear();
    held_.clear();
    spare_.clear();
    for (auto &job : jobs_)
        spare_.push_back(job.get());
    return ok;
}
