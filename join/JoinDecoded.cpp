#include "join/JoinInputs.h"

#include "audio/Bass.h"
#include "common/Messages.h"
#include "join/OutputStage.h"
#include "lang/MessageTexts.h"

#include <algorithm>

namespace tandrel {
namespace {

// Whether the stream, having stopped, gave all the audio its file or its list row promised.
InputResult CheckComplete(const JoinInput &input, HSTREAM stream, QWORD given) {
    StreamCompleteness c;
    if (!GetStreamCompleteness(stream, c))
        return InputResult::Done;
    QWORD promised = c.endedEarly ? c.promisedBytes : given;
    if (input.expectedBytes > 0 && QWORD(input.expectedBytes) > given)
        promised = std::max(promised, QWORD(input.expectedBytes));
    if (promised > given)
        return ReportEndedEarly(input, promised, given);
    return InputResult::Done;
}

} // namespace

InputResult ReadDecodedInput(const JoinInput &input, bool wma, std::size_t blockBytes,
                             std::uint8_t *buffer, InputBlocks &blocks) {
    const std::string &path = input.path;
    const HSTREAM stream =
        wma ? BASS_WMA_StreamCreateFile(0, path.c_str(), 0, 0, BASS_STREAM_DECODE)
            : BASS_StreamCreateFile(0, path.c_str(), 0, 0, BASS_STREAM_DECODE);
    if (stream == 0)
        return ReportCannotOpen(path, MsgText(Msg::InputNotDecodable));
    BASS_CHANNELINFO info{};
    BASS_ChannelGetInfo(stream, &info);
    const PcmFormat now{std::int32_t(info.freq), std::int32_t(info.chans), 16};
    if (now.sampleRate != input.format.sampleRate || now.channels != input.format.channels) {
        BASS_StreamFree(stream);
        return ReportFormatChanged(input, now);
    }
    InputResult result = InputResult::Done;
    bool failed = false;
    QWORD given = 0;
    while (BASS_ChannelIsActive(stream) != 0) {
        const DWORD n = BASS_ChannelGetData(stream, buffer, DWORD(blockBytes));
        // An error, or nothing more although the stream still claims to be active.
        if (n == DWORD(-1) || n == 0) {
            failed = true;
            break;
        }
        given += n;
        if (!blocks.Block(buffer, n)) {
            result = InputResult::Failed;
            break;
        }
        const QWORD position = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
        const QWORD length = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
        const int percent = length == QWORD(-1) ? 0 : Percent(position, length);
        if (blocks.AfterBlock(percent)) {
            result = InputResult::Stopped;
            break;
        }
    }
    if (result == InputResult::Done)
        result = failed
                     ? ReportEndedEarly(input, BASS_ChannelGetLength(stream, BASS_POS_BYTE), given)
                     : CheckComplete(input, stream, given);
    BASS_StreamFree(stream);
    return result;
}

} // namespace tandrel
