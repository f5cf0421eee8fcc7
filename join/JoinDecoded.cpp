#include "join/JoinInputs.h"

#include "audio/Bass.h"
#include "common/Messages.h"
#include "join/OutputStage.h"

namespace tandrel {

InputResult ReadDecodedInput(const JoinInput &input, bool wma, std::size_t blockBytes,
                             std::uint8_t *buffer, InputBlocks &blocks) {
    const std::string &path = input.path;
    const HSTREAM stream =
        wma ? BASS_WMA_StreamCreateFile(0, path.c_str(), 0, 0, BASS_STREAM_DECODE)
            : BASS_StreamCreateFile(0, path.c_str(), 0, 0, BASS_STREAM_DECODE);
    if (stream == 0) {
        ShowMessage("Error", "Could not open '" + path + "'");
        return InputResult::Failed;
    }
    InputResult result = InputResult::Done;
    while (BASS_ChannelIsActive(stream) != 0) {
        const DWORD n = BASS_ChannelGetData(stream, buffer, DWORD(blockBytes));
        // An error, or nothing more although the stream still claims to be active.
        if (n == DWORD(-1) || n == 0)
            break;
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
    BASS_StreamFree(stream);
    return result;
}

} // namespace tandrel
