#include "join/JoinDecoded.h"

#include "audio/Decoder.h"
#include "common/Messages.h"
#include "join/OutputStage.h"
#include "lang/MessageTexts.h"

#include <algorithm>

namespace tandrel {

DecodedEnd OpenDecodedInput(const JoinInput &input, InputReader reader,
                            std::unique_ptr<Decoder> &decoder) {
    decoder = Decoder::Open(input.path, reader);
    if (!decoder)
        return {DecodedEnd::CannotOpen};
    const PcmFormat now{decoder->Rate(), decoder->Channels(), decoder->Bits()};
    if (now != input.format)
        return {DecodedEnd::FormatChanged, now};
    return {};
}

// Whether the decoder, having stopped, gave all the audio its file or its list row promised.
DecodedEnd CheckDecodedComplete(const JoinInput &input, const Decoder &decoder,
                                std::uint64_t given) {
    std::uint64_t promised = 0;
    if (!decoder.EndedEarly(promised))
        promised = given;
    if (input.expectedBytes > 0 && std::uint64_t(input.expectedBytes) > given)
        promised = std::max(promised, std::uint64_t(input.expectedBytes));
    if (promised > given)
        return {DecodedEnd::EndedEarly, {}, promised, given};
    return {};
}

DecodedEnd StreamDecodedInput(const JoinInput &input, Decoder &decoder, std::size_t blockBytes,
                              std::uint8_t *buffer, InputBlocks &blocks) {
    std::uint64_t given = 0;
    while (decoder.HasData()) {
        const std::size_t n = decoder.Read(buffer, blockBytes);
        // Nothing more although the decoder still claims to have data.
        if (n == 0)
            return {DecodedEnd::EndedEarly, {}, decoder.LengthBytes(), given};
        given += n;
        if (!blocks.Block(buffer, n))
            return {DecodedEnd::Failed};
        if (blocks.AfterBlock(Percent(decoder.PositionBytes(), decoder.LengthBytes())))
            return {DecodedEnd::Stopped};
    }
    return CheckDecodedComplete(input, decoder, given);
}

InputResult ReportDecodedEnd(const JoinInput &input, const DecodedEnd &end) {
    switch (end.kind) {
    case DecodedEnd::Done:
        return InputResult::Done;
    case DecodedEnd::Stopped:
        return InputResult::Stopped;
    case DecodedEnd::Failed:
        return InputResult::Failed;
    case DecodedEnd::CannotOpen:
        return ReportCannotOpen(input.path, MsgText(Msg::InputNotDecodable));
    case DecodedEnd::FormatChanged:
        return ReportFormatChanged(input, end.now);
    case DecodedEnd::EndedEarly:
        break;
    }
    return ReportEndedEarly(input, end.promised, end.given);
}

InputResult ReadDecodedInput(const JoinInput &input, InputReader reader, std::size_t blockBytes,
                             std::uint8_t *buffer, InputBlocks &blocks) {
    std::unique_ptr<Decoder> decoder;
    DecodedEnd end = OpenDecodedInput(input, reader, decoder);
    if (end.kind == DecodedEnd::Done)
        end = StreamDecodedInput(input, *decoder, blockBytes, buffer, blocks);
    return ReportDecodedEnd(input, end);
}

} // namespace tandrel
