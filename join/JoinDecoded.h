#pragma once

#include "join/JoinInputs.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tandrel {

class Decoder;

// How decoding an input ended, told by ReportDecodedEnd when the join reaches the input.
struct DecodedEnd {
    enum Kind { Done, Stopped, Failed, CannotOpen, FormatChanged, EndedEarly } kind = Done;
    PcmFormat now = {};                    // FormatChanged: what the file is now
    std::uint64_t promised = 0, given = 0; // EndedEarly: bytes promised and given
};

// Opens input's decoder into decoder; CannotOpen or FormatChanged when it does not match.
DecodedEnd OpenDecodedInput(const JoinInput &input, InputReader reader,
                            std::unique_ptr<Decoder> &decoder);
// Gives the opened decoder's audio to blocks in blocks of at most blockBytes placed in buffer.
DecodedEnd StreamDecodedInput(const JoinInput &input, Decoder &decoder, std::size_t blockBytes,
                              std::uint8_t *buffer, InputBlocks &blocks);
// Once decoder has stopped after giving `given` bytes: Done, or EndedEarly when the file or
// its list row promised more.
DecodedEnd CheckDecodedComplete(const JoinInput &input, const Decoder &decoder,
                                std::uint64_t given);
// Shows the message of an end (ReportCannotOpen's, ReportFormatChanged's, ReportEndedEarly's).
InputResult ReportDecodedEnd(const JoinInput &input, const DecodedEnd &end);

} // namespace tandrel
