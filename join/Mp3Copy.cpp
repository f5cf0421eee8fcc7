#include "join/Mp3Copy.h"

#include "join/Mp3CopyInput.h"
#include "lang/MessageTexts.h"

#include <cmath>
#include <cstdio>

namespace tandrel {
namespace {

std::string Seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", s);
    return text;
}

} // namespace

Mp3CopyCheck CheckMp3Copy(const std::vector<JoinInput> &inputs) {
    Mp3CopyCheck check;
    Mp3CopyInput firstInput;
    const std::string *firstPath = nullptr;
    for (const JoinInput &in : inputs) {
        Mp3CopyInput mp3;
        Mp3CopyInput &now = firstPath ? mp3 : firstInput;
        if (ReaderOf(in) != InputReader::Mp3 || !now.Open(in.path)) {
            check.why = MsgText(Msg::FramesNotMp3, {in.path});
            return check;
        }
        if (!firstPath) {
            firstPath = &in.path;
        } else if (now.first.sampleRate != firstInput.first.sampleRate) {
            check.why =
                MsgText(Msg::FramesRate, {in.path, std::to_string(now.first.sampleRate), *firstPath,
                                          std::to_string(firstInput.first.sampleRate)});
            return check;
        } else if (now.Channels() != firstInput.Channels()) {
            check.why =
                MsgText(Msg::FramesChannels, {in.path, std::to_string(now.Channels()), *firstPath,
                                              std::to_string(firstInput.Channels())});
            return check;
        }
        const int least = CopyMinimumFrames(now.FrameSamples());
        if (inputs.size() > 1 && now.statedFrames < least) {
            const double s = double(least) * now.FrameSamples() / now.first.sampleRate;
            check.why = MsgText(Msg::FramesTooShort, {in.path, Seconds(std::ceil(s * 10) / 10)});
            return check;
        }
    }
    check.allowed = firstPath != nullptr;
    return check;
}

} // namespace tandrel
