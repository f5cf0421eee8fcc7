#pragma once

#include "join/Mp3Copy.h"

#include "audio/Probe.h"
#include "cli/Json.h"
#include "cli/Terminal.h"
#include "join/PcmTypes.h"
#include "lang/Language.h"

#include <string>
#include <vector>

// Probing the inputs and listing them, as text rows or as JSON.
namespace tandrel::cli {

struct Accepted {
    std::string path;
    Track file;
};

// An input as probed; refusal says why it was refused, empty when it was accepted.
struct Entry {
    std::string path;
    Track file;
    std::string refusal;
};

// English texts of the rows and the refusals, as the window shows them.
class Texts {
public:
    Texts();
    std::string Get(const char *section, const char *key, const char *fallback) const;
    std::string Reason(Refusal refusal, const Track &track) const;

private:
    LanguageFile file_;
};

// Probes every input as the Add button does; refused ones are reported. Every input keeps
// its place in entries; the accepted ones are also copied to accepted. framesOnly: MP3 files'
// frames are described, not decoded (a join that keeps frames).
int ProbeAll(const std::vector<std::string> &names, const Texts &texts, StderrMessages &messages,
             std::vector<Entry> &entries, std::vector<Accepted> &accepted, bool framesOnly = false);
PcmFormat FormatOf(const Track &f);
PcmFormat TargetOf(const std::vector<Accepted> &accepted);
// Every input in join order and the target format a join would use.
void JsonInputs(JsonWriter &json, const std::vector<Entry> &entries,
                const std::vector<Accepted> &accepted);
// The rows as tab-separated lines, then the target; the exit status.
int List(const std::vector<Accepted> &accepted, const Texts &texts, int refused);
// Whether an MP3 join of the accepted inputs can keep their frames, and why not.
Mp3CopyCheck CopyCheckOf(const std::vector<Accepted> &accepted);

} // namespace tandrel::cli
