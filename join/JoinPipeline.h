#pragma once

#include "join/Convert.h"
#include "join/JoinInputs.h"
#include "join/PcmTypes.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tandrel {

enum class OutputKind { None, Wav, Mp3, Wma };

// What the output wizard chose.
struct OutputSettings {
    OutputKind kind = OutputKind::Wav;
    int mp3BitrateIndex = 0; // 0 = 320 kbps ... 6 = 32 kbps
    bool mp3Copyright = false;
    bool mp3Crc = false;
    bool mp3Original = false;
    bool mp3Private = false;
    unsigned mp3Threads = 0;       // encoding workers; 0 = one per core
    unsigned mp3SegmentFrames = 0; // MP3 frames per parallel segment; 0 = the encoder's default
    // Keep the MP3 inputs' frames, re-encoding only a few at each seam (when the inputs allow).
    bool mp3Copy = false;
    int wmaBitrateIndex = 0; // 0 = 160000 ... 5 = 48000 bits per second
    std::string path;
};

// Highest rate (from 0), channel count (from 1) and bits (from 8) over the rows.
PcmFormat ComputeTargetFormat(const std::vector<PcmFormat> &rows);
// kbps for the MP3 bitrate list's index; at most 64 kbps for rates of 11025 Hz and below.
int Mp3Kbps(int index, int sampleRate);
// The MP3 encoder's mode: 1 (stereo) for two channels, 4 (mono) otherwise.
int Mp3Mode(int channels);
// Bits per second for the WMA bitrate list's index.
int WmaBitrate(int index);
// Bytes read per block of an input: 10240 when it needs no conversion or is 8-bit, else 20480.
std::size_t InputBlockBytes(const PcmFormat &input, const PcmFormat &target);

// How the join shows itself; the window's progress dialog in the program.
class JoinProgress {
public:
    virtual ~JoinProgress() = default;
    // The input being read; during the output stage, the output path.
    virtual void SetLabel(const std::string &text) = 0;
    virtual void Progress1(int percent) = 0; // within the current input
    virtual void Progress2(int percent) = 0; // of the output stage
    // Called after every block and chunk: let pending events run, then answer whether the
    // user asked to stop. Once true, the join treats the request as standing.
    virtual bool ProcessEventsAndShouldStop() = 0;
};

// Creates the MP3 or WMA stage for the settings; it takes signed 16-bit PCM and writes the
// file named at its Open. nullptr after the stage has shown its own message.
using EncoderFactory = std::function<std::unique_ptr<OutputSink>(const OutputSettings &)>;

enum class JoinStatus { Ok, Failed, Stopped };

struct JoinRequest {
    std::vector<JoinInput> inputs;
    PcmFormat target;
    OutputSettings output;
    // "<temporary folder>/AudioTemp.pcm": the join makes its own file of a unique name
    // beside it ("AudioTemp-XXXXXX.pcm"), readable by the user alone, and removes it.
    std::string tempPcmPath;
    // One pass: the converted PCM goes straight to the output, no temporary file, no
    // output stage (for the command-line joiner).
    bool direct = false;
    // After a stop, remove the partial output instead of giving it the chosen name (the
    // command-line joiner leaves nothing half-written; the window keeps what was joined).
    bool discardOnStop = false;
    // How inputs of another rate reach the target rate: by repeating frames (the window's
    // way, the default) or by libswresample's soxr engine.
    Resampling resampling = Resampling::Repeat;
    EncoderFactory makeEncoder;
    // How messages name the output ("standard output"); the output's path when empty.
    std::string outputName;
    // Tags, cover and chapters for the output; nothing when empty.
    OutputMetadata metadata;
};

// How one seam between two MP3 inputs whose frames were kept was bridged.
struct Mp3Seam {
    // The first output frame (Info frame not counted) not copied as it was: the spare bytes
    // of the first input's last frames take the bridge's reservoir.
    std::int64_t firstFrame = 0;
    int frames = 0;    // frames from firstFrame on not copied as they were
    int reencoded = 0; // the last ones of them, re-encoded
    int kbps = 0;      // the bridge's bitrate (a frame may be raised above it)
    // Samples the second input moved so that its frames stay on the frame grid: positive when
    // audio was added at the seam, negative when removed.
    int shift = 0;
    // Where the move was crossfaded: 0 nowhere (no move), 1 in the end of the first input,
    // 2 in the start of the second.
    int fadeIn = 0;
};

// What the join produced.
struct JoinSummary {
    std::uint64_t pcmBytes = 0; // PCM in the target format that went to the output
    // Where each input starts in the output, once the join is done.
    std::vector<Chapter> chapters;
    // When the MP3 inputs' frames were kept: the seams, the output's audio frames (the Info
    // frame not counted) and the sample frames a gapless decoder gives, frames copied as they were.
    bool framesKept = false;
    std::vector<Mp3Seam> seams;
    std::int64_t mp3Frames = 0, mp3Samples = 0;
    std::uint64_t copiedFrames = 0;
    // Asked to keep them, why the frames were not kept (the join re-encoded).
    std::string framesNotKept;
};

// The join: every input in order, converted to the target and stored, then written out as
// the chosen output. Failures have shown their message (caption "Error") when this returns.
JoinStatus RunJoin(const JoinRequest &request, JoinProgress &progress,
                   JoinSummary *summary = nullptr);

} // namespace tandrel
