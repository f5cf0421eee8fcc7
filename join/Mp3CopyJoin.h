#pragma once

#include "encoders/BladeEnc.h"
#include "encoders/Mp3InfoFrame.h"
#include "join/JoinChapters.h"
#include "join/JoinPipeline.h"
#include "join/Mp3Bridge.h"
#include "join/Mp3CopyInput.h"
#include "join/Mp3FrameSpans.h"
#include "join/Mp3SeamJobs.h"
#include "join/QueuedWriter.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tandrel {

// The join that keeps the MP3 inputs' frames: each input's frames are copied as they are, a
// few re-encoded frames bridge each seam. Every input is scanned a few inputs ahead of the
// copying: its frames are counted and placed, and the frames its seams need are held, so
// that the bridges are made (on a second thread when threaded) while earlier inputs are
// copied.
class CopyJoin {
public:
    CopyJoin(const JoinRequest &request, JoinProgress &progress, const bladeenc::Api &api,
             bool threaded);
    ~CopyJoin();
    // Joins into writer; false after a failure (message shown) or a stop.
    bool Run(FrameWriter &writer);
    bool Stopped() const { return stop_; }
    // Why the frames could not be kept after all (a seam no bridge fits); empty otherwise.
    const std::string &NotKept() const { return notKept_; }
    mp3::InfoFields Fields() const;
    std::vector<Chapter> Chapters() const;
    const std::uint8_t *FirstBytes() const { return firstBytes_; }
    void Summarize(JoinSummary &summary) const;
    // What the file of an input was when scanned.
    struct Identity {
        std::string path;
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t modified = 0, changed = 0; // ns: the content's time, the inode's
    };
    const std::vector<Identity> &Identities() const { return identities_; }
    // The inputs as a first pass over them found them (the counts of a pipe's Info frame): an
    // input that differs when scanned fails the join.
    void Expect(std::vector<Identity> inputs) { expected_ = std::move(inputs); }
    // Reports the first input that changed since its scan (false), or that could not be
    // read while copied (sourceError, the copies made in full before it); true otherwise.
    bool InputsUnchanged(int sourceError = 0, std::size_t copiesDone = 0);

private:
    struct Scanned;
    bool Scan(std::size_t i);
    bool ScanRest(Scanned &s, bool last);
    bool HoldTail(Scanned &s, const std::vector<Mp3FramePlace> &places, std::int64_t from);
    void EndInput(Scanned &s);
    bool HoldsWhatWasListed(std::size_t i, const Scanned &s);
    bool Copy(std::size_t i);
    bool EmitSeam(std::size_t i);
    bool CopySpans(const Scanned &s, std::size_t i);
    bool Accepts(const Mp3Frame &f);
    bool ReadFrames(Mp3CopyInput &in, mp3::EncodedRun &run, std::int64_t count);
    bool Emit(const mp3::EncodedRun &run, std::int64_t from, std::int64_t to, bool copied);
    void Note(const std::uint8_t *header, int bitrateIndex, std::size_t count, bool copied);
    bool Changed(const std::string &path, std::uint64_t then);
    bool Fail(const std::string &text);
    bool ShouldStop();

    const JoinRequest &req_;
    JoinProgress &progress_;
    const bladeenc::Api &api_;
    bool threaded_;
    FrameWriter *writer_ = nullptr;
    std::atomic<bool> stopFlag_{false};
    std::unique_ptr<Mp3Bridger> bridger_; // for where frames go, not for bridges
    std::unique_ptr<SeamJobs> jobs_;
    std::vector<std::unique_ptr<Scanned>> scanned_;
    std::vector<Identity> identities_; // of the inputs scanned
    std::vector<Identity> expected_;
    std::vector<std::size_t> copyInputs_; // the input of each copy asked of the writer
    std::int64_t framesRead_ = 0;         // of the input being scanned
    int n_ = 1152;
    Mp3Frame format_;          // the first input's first frame: every frame's rate and channels
    std::size_t current_ = 0;  // the input being scanned
    std::int64_t end_ = 0;     // output sample (decoded) where the last input's audio ends
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
    std::string notKept_;
    bool stop_ = false;
    std::uint64_t totalBytes_ = 0, doneBytes_ = 0;
};

} // namespace tandrel
