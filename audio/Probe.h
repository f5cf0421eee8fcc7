#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tandrel {

// Why a file was not added; each has its text under [OpenDialog] in the language file.
enum class Refusal { None, NotPCM, NotMP3Info, NotWMAInfo, NotSupport, NoAudio };

// The [OpenDialog] key of a refusal ("NotPCM", ...); empty for None.
const char *RefusalKey(Refusal refusal);
// The English text of a refusal, for a language file without its key; empty for None.
const char *RefusalEnglish(Refusal refusal);

enum class AudioKind { Wav, Mp3, Wma, Other };

// What adding a file needs to know about it.
struct ProbedFile {
    AudioKind kind = AudioKind::Other;
    std::uint32_t sampleRate = 0;
    std::uint32_t channels = 0;
    std::uint32_t bits = 0;
    std::uint64_t sizeKB = 0;
    std::uint32_t seconds = 0;
    // The PCM bytes (in the file's own format) that joining it must yield, when the file
    // states them exactly; -1 when its length is only an estimate.
    std::int64_t exactBytes = -1;
    // For listings: the file's size, the PCM it decodes to (an estimate unless exactBytes
    // says it), and its container ("WAV", "RF64", "MP3", "ASF") and codec ("pcm_s16le", "mp3").
    std::uint64_t fileBytes = 0;
    std::uint64_t pcmBytes = 0;
    const char *container = "";
    const char *codec = "";
};

// Text from the last "." of the file-name part on, dot included; empty when there is none.
std::string ExtensionOf(const std::string &path);
// The file-name part (after the last "/").
std::string FileNameOf(const std::string &path);
// The folder part ending in "/", or empty for a bare name.
std::string FolderOf(const std::string &path);
// By extension alone, without regard to case.
AudioKind KindOf(const std::string &path);

// Probes one file by its extension: WAV through ReadWaveInfo (which shows its own message on
// failure), MP3 and WMA through the decoding layer. Shows nothing else.
Refusal ProbeFile(const std::string &path, ProbedFile &out);

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
RowTexts BuildRow(const std::string &path, const ProbedFile &file, const std::string &bitsWord,
                  const std::string &monoWord, const std::string &stereoWord);

// Sorts full names ascending, without regard to case, by the user's locale collation; runs of
// digits compare by their value ("Part 2" before "Part 10"), as file managers sort.
void SortNamesForAdding(std::vector<std::string> &names);

} // namespace tandrel
