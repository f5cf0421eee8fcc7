#pragma once

// The decoding layer: the operations and arguments of the classic BASS interface,
// implemented over FFmpeg. Nothing is ever played; streams deliver interleaved signed
// 16-bit PCM at the file's own rate and channel count.

#include <cstdint>

using DWORD = std::uint32_t;
using QWORD = std::uint64_t;
using BOOL = int;
using HSTREAM = DWORD;

inline constexpr DWORD BASS_STREAM_DECODE = 0x200000;
inline constexpr DWORD BASS_POS_BYTE = 0;
inline constexpr DWORD BASS_SAMPLE_8BITS = 1;
inline constexpr DWORD BASS_SAMPLE_FLOAT = 256;
inline constexpr DWORD BASS_ACTIVE_STOPPED = 0;
inline constexpr DWORD BASS_ACTIVE_PLAYING = 1;

struct BASS_CHANNELINFO {
    DWORD freq;
    DWORD chans;
    DWORD flags;
    DWORD ctype;
    DWORD origres;
    DWORD plugin;
    DWORD sample;
    const char *filename;
};

BOOL BASS_Init(int device, DWORD freq, DWORD flags, void *win, void *dsguid);
BOOL BASS_Free();

HSTREAM BASS_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags);
HSTREAM BASS_WMA_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length,
                                  DWORD flags);
BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO *info);
QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode);
double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos);
DWORD BASS_ChannelIsActive(DWORD handle);
// Returns the bytes placed in buffer (never more than length), or (DWORD)-1 on error.
DWORD BASS_ChannelGetData(DWORD handle, void *buffer, DWORD length);
QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode);
BOOL BASS_StreamFree(HSTREAM handle);

namespace tandrel {
// What a stream's file promised, beside the operations above.
struct StreamCompleteness {
    // The length was stated by the file (an MP3 frame count), not estimated.
    bool exactLength = false;
    // Once the stream has stopped: it ended before the audio its file promised, the file
    // having been cut short or its decoding having failed.
    bool endedEarly = false;
    // The bytes the stream should give in all.
    QWORD promisedBytes = 0;
};
// False for an unknown handle.
bool GetStreamCompleteness(DWORD handle, StreamCompleteness &out);
// FFmpeg's name of the stream's codec ("mp3", "wmav2"); empty for an unknown handle.
const char *GetStreamCodecName(DWORD handle);

// Whether BASS_Init succeeded and BASS_Free has not run since.
bool BassReady();
// Makes the next BASS_Init calls fail, as a missing output device would; for tests.
// The environment variable TANDREL_FAIL_AUDIO_INIT=1 does the same for a whole run.
void SetBassInitFailureForTesting(bool fail);
} // namespace tandrel
