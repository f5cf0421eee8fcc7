#pragma once

#include "audio/Track.h"
#include "common/FileIo.h"
#include "join/PcmTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tandrel {

// One row of the list: the full path and the format the row states.
struct JoinInput {
    std::string path;
    PcmFormat format;
    // The PCM bytes the file held when it was listed, when known exactly; -1 otherwise.
    std::int64_t expectedBytes = -1;
    // The reader that listed it; None: the one its content calls for now.
    InputReader reader = InputReader::None;
    // Its chapter's title, when the output gets chapters.
    std::string title = {};
};

// The reader the row names, else the one the file's content calls for now.
InputReader ReaderOf(const JoinInput &input);

// What the join does with the blocks of one input.
class InputBlocks {
public:
    virtual ~InputBlocks() = default;
    // A block of the input's PCM; false when it could not be stored (message shown).
    virtual bool Block(const std::uint8_t *data, std::size_t count) = 0;
    // After each block, with the input's progress; true when the join is to stop.
    virtual bool AfterBlock(int percent) = 0;
    // Whether the input's bytes go on unchanged to a sink that takes ranges of files: then
    // its whole frames come through TakeRange instead of Block (see PcmSink::TakeRange).
    virtual bool TakesRanges() const { return false; }
    virtual RangeResult TakeRange(int, std::uint64_t, std::uint64_t) { return {0, 0, false}; }
};

enum class InputResult { Done, Stopped, Failed };

// "Can not join '<path>': it ended after X of the Y bytes of audio it held when it was
// added (a of b seconds)": shown when an input yields less than it promised. Returns Failed.
InputResult ReportEndedEarly(const JoinInput &input, std::uint64_t expectedBytes,
                             std::uint64_t actualBytes);
std::string EndedEarlyText(const JoinInput &input, std::uint64_t expectedBytes,
                           std::uint64_t actualBytes);
// "Can not join '<path>': it has changed since it was added (now R Hz, C channels, B bits;
// the list says ...)". Returns Failed.
InputResult ReportFormatChanged(const JoinInput &input, const PcmFormat &now);

// "Could not open '<path>': <reason>": the system's, or what the file really is, else otherwise.
// Returns Failed.
InputResult ReportCannotOpen(const std::string &path, const std::string &otherwise);

// Reads the data chunk of a WAV file (input.path) in blocks of at most blockBytes: the bytes
// it held when listed (input.expectedBytes), else what it holds when opened. Blocks that take
// ranges get the whole frames as ranges of kRangeBytes, AfterBlock after each. Messages (caption
// "Error"): ReportCannotOpen's, "Can not join '<path>': it is not a valid Wave file (it is an
// MP3 file)", "...: it is a compressed Wave file", and those of ReportFormatChanged and
// ReportEndedEarly.
InputResult ReadWavInput(const JoinInput &input, std::size_t blockBytes, BlockReader &reader,
                         InputBlocks &blocks);

// Decodes a file through the decoder of reader (the MP3 frame reader or FFmpeg's), in blocks
// of at most blockBytes placed in buffer.
InputResult ReadDecodedInput(const JoinInput &input, InputReader reader, std::size_t blockBytes,
                             std::uint8_t *buffer, InputBlocks &blocks);

} // namespace tandrel
