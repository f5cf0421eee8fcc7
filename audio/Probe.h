#pragma once

#include "audio/Track.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tandrel {

// Why a file was not added; each has its text under [OpenDialog] in the language file. Some
// come with a detail (the track's refusalDetail) that the message shows after the text.
enum class Refusal {
    None,
    NotPCM,
    NotMP3Info,
    NotWMAInfo,
    NotSupport,
    NoAudio,
    NoDecoder,       // the container is known, its codec (the detail) is not
    NoLength,        // nothing tells how long the audio is
    TooManyChannels, // more than 8; the detail gives the count
    RateTooHigh,     // above 768,000 Hz; the detail gives the rate
    NotReadable,     // named or made as audio of another kind, and nothing in it decodes
};

// The [OpenDialog] key of a refusal ("NotPCM", ...); empty for None.
const char *RefusalKey(Refusal refusal);
// The English text of a refusal, for a language file without its key; empty for None.
const char *RefusalEnglish(Refusal refusal);

// Text from the last "." of the file-name part on, dot included; empty when there is none.
std::string ExtensionOf(const std::string &path);
// Whether the extension of the path is extension (lower case, with its dot), whatever its case.
bool ExtensionIs(const std::string &path, const char *extension);
// The file-name part (after the last "/").
std::string FileNameOf(const std::string &path);
// The folder part ending in "/", or empty for a bare name.
std::string FolderOf(const std::string &path);
// The extensions of the audio files people keep, lower case with the dot (".wav", ".flac",
// ".m4a"...): what the Add dialog's "All audio files" line lists. Files are recognised by
// their content; these only pick them out of a folder.
const std::vector<std::string> &AudioExtensions();
// Whether the name ends in one of AudioExtensions, without regard to case.
bool HasAudioExtension(const std::string &path);

// The reader for a file, by its content: a RIFF or RF64 wave file of PCM samples (or one
// whose chunks are damaged, so that its reader says why) takes the WAV reader; MPEG audio
// layer III the MP3 frame reader, as does anything named ".mp3" that announces no other
// container; everything else FFmpeg's demuxers. None when the file cannot be read.
InputReader ReaderFor(const std::string &path);
// Whether the file's first bytes are those of an audio container other than MP3 (FLAC, Ogg,
// MP4, AIFF, ASF, RIFF WAVE...).
bool AnnouncesAudio(const std::string &path);
// For an AIFC file whose compression type no decoder here knows: that type ("codec 'ABCD'");
// empty otherwise.
std::string UnknownAifcCodec(const std::string &path);

// Probes one file by its content: a PCM wave file through ReadWaveInfo (which shows its own
// message on failure), everything else through the decoder its reader picks. Shows nothing
// else. describeOnly: an MP3 file's frames are described, not decoded (no FFmpeg is opened for
// them), for a join that copies frames and never decodes all of them.
Refusal ProbeFile(const std::string &path, Track &out, bool describeOnly = false);
// The text of a refusal for a message: the translated text (the English one when it is
// empty), followed by the track's detail in parentheses when there is one.
std::string RefusalText(const std::string &translated, Refusal refusal, const Track &track);

// Size column: "812 KB", "3.2 MB"; 0 counts as 1.
std::string SizeText(std::uint64_t kb);
// Time column: "03:25", hours only when there are any: "1:02:05".
std::string TimeText(std::uint32_t seconds);
// Status bar total: hours always, at least two figures: "01:02:05", "125:00:00".
std::string StatusTimeText(std::int64_t totalSeconds);

// The caption and the ten sub-item texts of one list row.
struct RowTexts {
    std::string caption;
    std::array<std::string, 10> subItems;
};
RowTexts BuildRow(const std::string &path, const Track &file, const std::string &bitsWord,
                  const std::string &monoWord, const std::string &stereoWord);

// Sorts full names ascending, without regard to case, by the user's locale collation; runs of
// digits compare by their value ("Part 2" before "Part 10"), as file managers sort.
void SortNamesForAdding(std::vector<std::string> &names);

} // namespace tandrel
