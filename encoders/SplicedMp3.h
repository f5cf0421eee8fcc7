#pragma once

#include "encoders/BladeEnc.h"
#include "encoders/Mp3OutputFile.h"
#include "encoders/Mp3Splice.h"
#include "encoders/Wavtomp3.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Writes 16-bit PCM as one MP3 file through "lame_enc.so" on several cores: the PCM is cut
// into segments that start on frame boundaries, each segment is encoded by a stream of its
// own with a few frames of lead-in and run-past, and the streams are spliced frame by frame
// (see mp3::Splice). One worker, or a short output, gives the serial encoder's frames. The
// file starts with an Info frame (frame count, encoder delay and padding) for gapless
// decoding, filled in at Close when the output is seekable, computed up front on a pipe when
// the length is known, and left out on a pipe otherwise. A count computed up front holds
// because such an output has the serial encoder's frame lengths: its streams start where the
// serial one pads the same frames, and a seam that would need a raised bitrate is encoded on.
//
// Order of use: construct, Open, Write any number of times, optionally Stop, Close. Messages
// are WavToMp3's (caption "Lame Encoder"), each shown once.
class SplicedMp3 {
public:
    // Loads the library as WavToMp3 does.
    SplicedMp3();
    explicit SplicedMp3(const std::string &libraryFolder);
    ~SplicedMp3();
    SplicedMp3(const SplicedMp3 &) = delete;
    SplicedMp3 &operator=(const SplicedMp3 &) = delete;

    // Before Open: workers (0 = one per core) and MP3 frames per segment (0 = the default).
    void SetThreads(unsigned threads) { threadsWanted_ = threads; }
    void SetSegmentFrames(unsigned frames) { segmentFrames_ = frames ? frames : kDefaultSegment; }

    // Before Open: where the file's own failures (it cannot be written) are told, with the
    // errno, instead of WavToMp3's messages.
    void SetFileErrorHandler(std::function<void(int)> handler) {
        onFileError_ = handler;
        file_.SetErrorHandler(std::move(handler));
    }
    // A tag to go ahead of the Info frame (after Open, before the first Write), and the one to
    // take its place when the file is finished (same size, seekable files only).
    void SetLeadingTag(std::vector<std::uint8_t> tag) { file_.SetLeadingTag(std::move(tag)); }
    void SetFinalTag(std::vector<std::uint8_t> tag) { finalTag_ = std::move(tag); }
    // Writes into a duplicate of Fd. expectedSamples: sample frames to come, or -1. Mode,
    // Bitrate and the flags as for WavToMp3::Open. Returns the bytes one Write should carry, or
    // -1 after the message.
    int Open(int Fd, const std::string &FileName, bool seekable, std::int64_t expectedSamples,
             int SampleRate, int Mode, unsigned Bitrate, bool Copyright, bool Crc, bool Original,
             bool Private);
    // Interleaved signed 16-bit samples, whole sample frames. False after the message.
    bool Write(const void *Samples, std::size_t ByteCount);
    // The join stops: the workers drop what they do; Close ends the file with what is done.
    void Stop();
    // Finishes and closes the file. False when it is incomplete (the message was shown).
    bool Close();

    // Sample frames taken by Write whose frames are not in the file yet.
    std::int64_t Unfinished() const {
        return serial_ ? 0 : std::max<std::int64_t>(0, fed_ - framesOut_ * frameSamples_ + 576);
    }
    // Workers encoding in parallel since Open; 1 on the serial path.
    unsigned Workers() const { return unsigned(workers_.size() ? workers_.size() : 1); }
    // Seams since Open where no frame spliced and the earlier stream encoded on.
    unsigned Reencoded() const { return reencoded_; }

    static constexpr unsigned kDefaultSegment = 512;
    // In granules of 576 samples (MPEG-1 frames hold two, MPEG-2 and 2.5 frames one). The
    // lead-in lets a stream's psychoacoustic state and bit reservoir settle before its seam.
    static constexpr int kLeadIn = 24;
    static constexpr int kRunPast = 6;

private:
    struct Job {
        std::vector<std::int16_t> pcm;
        std::int64_t segment = 0, inStart = 0, inEnd = 0; // sample frames
        bool done = false;
        mp3::RunResult result = mp3::RunResult::Done;
        mp3::EncodedRun run;
    };

    int LeadIn() const { return kLeadIn * 576 / frameSamples_; }
    int RunPast() const { return kRunPast * 576 / frameSamples_; }
    std::int64_t InStart(std::int64_t segment) const;
    std::int64_t InEnd(std::int64_t segment) const;
    Job *NewJob(std::int64_t segment);
    void Recycle(Job *job);
    void Dispatch(Job *job);
    void WorkerLoop();
    bool ConsumeOldest();
    bool Merge(Job *job);
    bool EncodeSerially();
    bool SerialEncode(const std::int16_t *pcm, std::size_t values);
    bool FinishParallel();
    bool Failed(mp3::RunResult result);
    bool Emit(const std::uint8_t *data, std::size_t count);
    void JoinWorkers();

    WavToMp3 library_;
    bladeenc::Api api_{};
    bladeenc::BE_CONFIG config_{};
    unsigned threadsWanted_ = 0;
    unsigned segmentFrames_ = kDefaultSegment;
    int channels_ = 2, frameSamples_ = 1152, chunkValues_ = 0;
    int startGrid_ = 1;    // streams start on multiples of so many frames
    bool mayRaise_ = true; // a seam may raise a frame's bitrate
    bool resampled_ = false;
    std::int64_t total_ = -1, fed_ = 0, nextSegment_ = 0;
    bool ended_ = false;
    int inRate_ = 0;

    // The serial path.
    bool serial_ = true;
    bladeenc::HBE_STREAM stream_ = 0;
    bool streamOpen_ = false;
    std::vector<std::uint8_t> chunkOut_;

    // The parallel path.
    bool buffering_ = false; // length unknown: wait for three segments before deciding
    std::deque<Job *> filling_, inflight_;
    std::vector<Job *> held_; // sources of the run not yet written, the first holds the run
    std::vector<std::unique_ptr<Job>> jobs_;
    std::vector<Job *> spare_;
    std::vector<std::thread> workers_;
    std::mutex lock_;
    std::condition_variable wake_, finished_;
    std::deque<Job *> queue_;
    bool quit_ = false;
    std::atomic<bool> stop_{false};
    std::int64_t framesOut_ = 0, samplesOut_ = 0;

    mp3::OutputFile file_;
    std::vector<std::uint8_t> finalTag_;
    std::function<void(int)> onFileError_;
    bool open_ = false, failed_ = false;
    unsigned reencoded_ = 0;
};
