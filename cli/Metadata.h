#pragma once

#include "join/Mp3Copy.h"

#include "audio/Track.h"
#include "cli/Json.h"
#include "cli/Options.h"
#include "join/OutputMetadata.h"

#include <string>
#include <vector>

namespace tandrel::cli {

// The tags and chapters the options ask for: --tags copies the first input's, --title,
// --artist and --album set their own (and ask for tags), --chapters one per input.
OutputMetadata RequestedMetadata(const CliOptions &options, const std::vector<Track> &inputs);

// A CUE sheet of the join: the output's file name, then one track per chapter with its
// title, performer and INDEX 01 at its start rounded to CD frames (1/75 s).
std::string CueSheet(const std::string &outputName, OutputKind kind, const OutputMetadata &metadata,
                     const std::vector<Chapter> &chapters,
                     const std::vector<std::string> &performers, int rate);

// Writes text to path in full, as the join's output is written (never half a file under the
// name). False with the reason in error.
bool WriteTextFile(const std::string &path, const std::string &text, std::string &error);

// "chapters": [{"start_frame", "start_ms", "title"}...] into an open object.
void JsonChapters(JsonWriter &json, const std::vector<Chapter> &chapters, int rate);
// Whether the MP3 frames were kept and, when they were, how each seam was bridged.
void JsonFramesKept(JsonWriter &json, const JoinSummary &summary, const Mp3CopyCheck &check);

} // namespace tandrel::cli
