#pragma once

namespace tandrel {

// Readies the decoders once per run: false when they cannot be used (no MP3 decoder in the
// FFmpeg at hand), as a missing audio device once made it fail.
bool InitDecoding();
// The same for a program that may never decode (joining WAV files opens no FFmpeg library):
// the check waits for the first DecodingReady().
void InitDecodingOnFirstUse();
void EndDecoding();
// Whether InitDecoding succeeded (or the check on first use does) and EndDecoding has not run
// since.
bool DecodingReady();
// Makes the next InitDecoding calls fail; for tests. The environment variable
// TANDREL_FAIL_AUDIO_INIT=1 does the same for a whole run.
void SetDecodingInitFailureForTesting(bool fail);

} // namespace tandrel
