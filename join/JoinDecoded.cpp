#include "join/JoinInputs.h"

#include "audio/Decoder.h"
#include "common/Messages.h"
#include "join/OutputStage.h"
#include "lang/MessageTexts.h"

#include <algorithm>

namespace tandrel {
namespace {

// Whether the decoder, having stopped, gave all the audio its file or its list row promised.
InputResult CheckComplete(const JoinInput &input, const Decoder &decoder, std::uint64_t given) {
    std::uint64_t promised = 0;
    if (!decoder.EndedEarly(promised))
        promised = given;
    if (input.expectedBytes > 0 && std::uint64_t(input.expectedBytes) > given)
        promised = std::max(promised, std::uint64_t(input.expectedBytes));
    if (promised > given)
        return ReportEndedEarly(input, promised, given);
    return InputResult::Done;
}

} // namespace

InputResult ReadDecodedInput(const JoinInput &input, InputReader reader, std::size_t blockBytes,
                             std::uint8_t *buffer, InputBlocks &blocks) {
    const std::unique_ptr<Decoder> decoder = Decoder::Open(input.path, reader);
    if (!decoder)
        return ReportCannotOpen(input.path, MsgText(Msg::InputNotDecodable));
    const PcmFormat now{decoder->Rate(), decoder->Channels(), decoder->Bits()};
    if (now != input.format)
        return ReportFormatChanged(input, now);
    std::uint64_t given = 0;
    while (decoder->HasData()) {
        const std::size_t n = decoder->Read(buffer, blockBytes);
        // Nothing more although the decoder still claims to have data.
        if (n == 0)
            return ReportEndedEarly(input, decoder->LengthBytes(), given);
        given += n;
        if (!blocks.Block(buffer, n))
            return InputResult::Failed;
        if (blocks.AfterBlock(Percent(decoder->PositionBytes(), decoder->LengthBytes())))
            return InputResult::Stopped;
    }
    return CheckComplete(input, *decoder, given);
}

} // namespace tandrel
