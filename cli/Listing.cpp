#include "cli/Listing.h"

#include "audio/Sniff.h"
#include "common/AppFolders.h"
#include "join/JoinPipeline.h"

#include <cstdio>
#include <sys/stat.h>

namespace tandrel::cli {

Texts::Texts() : file_(ProgramFolders().languages + "English.ini") {}

std::string Texts::Get(const char *section, const char *key, const char *fallback) const {
    const std::string text = file_.ReadString(section, key, "");
    return text.empty() ? fallback : text;
}

std::string Texts::Reason(Refusal refusal, const Track &track) const {
    return RefusalText(Get("OpenDialog", RefusalKey(refusal), RefusalEnglish(refusal)), refusal,
                       track);
}

// Probes every input as the Add button does; refused ones are reported. Every input keeps
// its place in entries; the accepted ones are also copied to accepted.
int ProbeAll(const std::vector<std::string> &names, const Texts &texts, StderrMessages &messages,
             std::vector<Entry> &entries, std::vector<Accepted> &accepted, bool framesOnly) {
    int refused = 0;
    for (const std::string &name : names) {
        Entry in{name, {}, {}};
        messages.Collect(true);
        const Refusal refusal = ProbeFile(name, in.file, framesOnly);
        messages.Collect(false);
        std::string detail;
        for (const std::string &line : messages.TakeCollected())
            detail += (detail.empty() ? " (" : "; ") + line;
        if (refusal == Refusal::None) {
            accepted.push_back({name, in.file});
            entries.push_back(std::move(in));
            continue;
        }
        ++refused;
        // The path, the window's reason, what the reader said, and why as the file tells it.
        const std::string why = WhyUnreadable(name);
        if (!why.empty())
            detail += (detail.empty() ? " (" : "; ") + why;
        in.refusal = texts.Reason(refusal, in.file) + (detail.empty() ? "" : detail + ")");
        PrintError(name + ": " + in.refusal);
        entries.push_back(std::move(in));
    }
    return refused;
}

PcmFormat FormatOf(const Track &f) {
    return PcmFormat{std::int32_t(f.sampleRate), std::int32_t(f.channels), std::int32_t(f.bits)};
}

PcmFormat TargetOf(const std::vector<Accepted> &accepted) {
    std::vector<PcmFormat> rows;
    for (const Accepted &in : accepted)
        rows.push_back(FormatOf(in.file));
    return ComputeTargetFormat(rows);
}

// Every input in join order and the target format a join would use.
void JsonInputs(JsonWriter &json, const std::vector<Entry> &entries,
                const std::vector<Accepted> &accepted) {
    json.BeginArray("inputs");
    for (const Entry &e : entries) {
        json.BeginObject();
        json.String("path", e.path);
        const Track &f = e.file;
        if (!e.refusal.empty()) {
            json.String("verdict", "refused");
            json.String("reason", e.refusal);
            struct stat st;
            if (::stat(e.path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                json.Number("bytes", std::uint64_t(st.st_size));
            json.EndObject();
            continue;
        }
        json.String("verdict", "accepted");
        json.String("container", f.container);
        json.String("codec", f.codec);
        json.Number("sample_rate", std::uint64_t(f.sampleRate));
        json.Number("channels", std::uint64_t(f.channels));
        json.Number("bits", std::uint64_t(f.bits));
        json.Number("bytes", f.fileBytes);
        const std::size_t frameBytes = FrameBytes(FormatOf(f));
        const std::uint64_t frames = frameBytes ? f.pcmBytes / frameBytes : 0;
        json.Number("duration_seconds", f.sampleRate ? double(frames) / f.sampleRate : 0.0);
        json.Number("duration_frames", frames);
        // An MP3 without a frame count or a WMA states its length only roughly.
        json.Bool("duration_exact", f.exactBytes >= 0);
        json.BeginObject("tags");
        for (const auto &[name, value] : f.tags)
            json.String(name.c_str(), value);
        json.EndObject();
        json.Bool("picture", f.hasPicture);
        json.EndObject();
    }
    json.EndArray();
    if (accepted.empty()) {
        json.Null("target");
        return;
    }
    const PcmFormat t = TargetOf(accepted);
    json.BeginObject("target");
    json.Number("sample_rate", std::uint64_t(t.sampleRate));
    json.Number("channels", std::uint64_t(t.channels));
    json.Number("bits", std::uint64_t(t.bits));
    json.EndObject();
    const Mp3CopyCheck copy = CopyCheckOf(accepted);
    json.BeginObject("mp3_copy");
    json.Bool("allowed", copy.allowed);
    if (!copy.allowed)
        json.String("why", copy.why);
    json.EndObject();
}

Mp3CopyCheck CopyCheckOf(const std::vector<Accepted> &accepted) {
    std::vector<JoinInput> inputs;
    for (const Accepted &in : accepted)
        inputs.push_back(JoinInput{in.path, FormatOf(in.file), in.file.exactBytes, in.file.reader});
    return CheckMp3Copy(inputs);
}

// A tab, newline or backslash in a name or folder must not split or shift the row.
static std::string Escaped(const std::string &text) {
    std::string out;
    for (const char c : text) {
        if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

int List(const std::vector<Accepted> &accepted, const Texts &texts, int refused) {
    const std::string bits = texts.Get("ListView", "Bits", "Bits");
    const std::string mono = texts.Get("ListView", "Mono", "Mono");
    const std::string stereo = texts.Get("ListView", "Stereo", "Stereo");
    for (const Accepted &in : accepted) {
        const RowTexts row = BuildRow(in.path, in.file, bits, mono, stereo);
        std::string line = Escaped(row.caption);
        for (const std::string &item : row.subItems)
            line += "\t" + Escaped(item);
        // Then what the file is: its container and codec.
        line += "\t" + in.file.container + "\t" + in.file.codec;
        std::printf("%s\n", line.c_str());
    }
    // No target without an input to take it from.
    if (!accepted.empty()) {
        const PcmFormat t = TargetOf(accepted);
        std::printf("target\t%d\t%d\t%d\n", t.sampleRate, t.channels, t.bits);
        const Mp3CopyCheck copy = CopyCheckOf(accepted);
        std::printf("mp3-copy\t%s%s%s\n", copy.allowed ? "yes" : "no", copy.allowed ? "" : "\t",
                    Escaped(copy.why).c_str());
    }
    return refused ? 1 : 0; // 1: an input was refused
}

} // namespace tandrel::cli
