#pragma once

#include <string>

#include "TestUtil.h"
#include "join/JoinInputs.h"

// A stereo MP3 of a sine tone, seconds long at rate Hz, made with sox and lame in dir as
// name.mp3 (beside its name.wav); its path, or "" when a tool failed.
inline std::string ToneMp3(const testutil::TempDir &dir, const std::string &name, int seconds,
                           int rate) {
    const std::string wav = dir.File(name + ".wav");
    const std::string mp3 = dir.File(name + ".mp3");
    const std::string make = "sox -n -r " + std::to_string(rate) + " -c 2 -b 16 " +
                             testutil::Quote(wav) + " synth " + std::to_string(seconds) +
                             " sine 440 gain -3 && lame --quiet -b 128 " + testutil::Quote(wav) +
                             " " + testutil::Quote(mp3);
    return testutil::Run(make).exitCode == 0 ? mp3 : std::string();
}

// A row of the list as the join takes it: the file, the format it was listed with and the
// reader that listed it.
inline tandrel::JoinInput ListedInput(const std::string &path, int rate,
                                      tandrel::InputReader reader) {
    return {path, {rate, 2, 16}, -1, reader};
}
