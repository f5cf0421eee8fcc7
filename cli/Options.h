#pragma once

#include "join/JoinPipeline.h"

#include <string>
#include <vector>

namespace tandrel::cli {

struct CliOptions {
    bool list = false;
    bool sort = false;
    bool force = false;
    bool quiet = false;
    bool skipBad = false;
    bool json = false; // the listing or the join's summary as one JSON document
    std::string output;
    OutputKind kind = OutputKind::None;
    int mp3BitrateIndex = 3; // 128 kbps, as the wizard opens
    bool mp3Crc = false;
    bool mp3Copyright = false;
    bool mp3Original = false;
    bool mp3Private = false;
    int wmaBitrateIndex = 2; // 96 kbps
    bool resampleHq = false; // --resample=hq instead of repeating samples
    unsigned threads = 0;    // MP3 encoding workers; 0 = one per core
    bool mp3Copy = false;    // keep MP3 inputs' frames, re-encoding only at the seams
    bool tags = false;       // the first input's album-level tags and cover into the output
    bool chapters = false;   // one chapter per input
    std::string title, artist, album; // set by hand (and so asked for)
    std::string cue;                  // a CUE sheet of the join written to this file
    std::vector<std::string> inputs;
};

enum class ParseOutcome { Run, Help, Version, Usage };

// Reads the arguments after the program name. Usage: error holds the reason.
ParseOutcome ParseOptions(const std::vector<std::string> &args, CliOptions &options,
                          std::string &error);

// Index in the wizard's bitrate list for a kbps value, or -1.
int Mp3BitrateIndexOf(int kbps);
int WmaBitrateIndexOf(int kbps);

// Output kind for an extension (".wav", ".MP3", ...), None when it names no output format.
OutputKind KindOfExtension(const std::string &path);

extern const char *const kUsage;
inline constexpr unsigned kMaxThreads = 256;

} // namespace tandrel::cli
