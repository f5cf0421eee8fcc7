#pragma once

namespace tandrel {

// Readies the decoders once per run: false when they cannot be used (no MP3 decoder in the
// FFmpeg at hand), as a missing audio device once made it fail.
bool InitDecoding();
void EndDecoding();
// Whether InitDecoding succeeded and EndDecoding has not run since.
bool DecodingReady();
// Makes the next InitDecoding calls fail; for tests. The environment variable
// TANDREL_FAIL_AUDIO_INIT=1 does the same for a whole run.
void SetDecodingInitFailureForTesting(bool fail);

} // namespace tandrel
