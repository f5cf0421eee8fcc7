#include "cli/Metadata.h"

#include "audio/Probe.h"
#include "audio/TrackTags.h"
#include "common/FileIo.h"
#include "join/OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace tandrel::cli {
namespace {

// CUE sheets have no way to quote a quote.
std::string Quoted(std::string text) {
    for (char &c : text)
        if (c == '"' || c == '\n' || c == '\r')
            c = c == '"' ? '\'' : ' ';
    return "\"" + text + "\"";
}

std::string CdTime(std::uint64_t frame, int rate) {
    const std::uint64_t cd =
        rate > 0 ? (frame * 75 + std::uint64_t(rate) / 2) / std::uint64_t(rate) : 0;
    char text[32];
    std::snprintf(
        text, sizeof text, "%02llu:%02llu:%02llu", static_cast<unsigned long long>(cd / (75 * 60)),
        static_cast<unsigned long long>(cd / 75 % 60), static_cast<unsigned long long>(cd % 75));
    return text;
}

} // namespace

OutputMetadata RequestedMetadata(const CliOptions &o, const std::vector<Track> &inputs) {
    OutputMetadata m;
    if (o.tags && !inputs.empty()) {
        Track first = inputs.front();
        ReadTrackTags(first, true);
        m = AlbumMetadata(first);
    }
    SetOutputTag(m, "title", o.title);
    SetOutputTag(m, "artist", o.artist);
    SetOutputTag(m, "album", o.album);
    m.writeChapters = o.chapters;
    return m;
}

std::string CueSheet(const std::string &outputName, OutputKind kind, const OutputMetadata &metadata,
                     const std::vector<Chapter> &chapters,
                     const std::vector<std::string> &performers, int rate) {
    std::string cue;
    const std::string performer = metadata.Tag("artist");
    if (!performer.empty())
        cue += "PERFORMER " + Quoted(performer) + "\n";
    const std::string title =
        metadata.Tag("album").empty() ? metadata.Tag("title") : metadata.Tag("album");
    if (!title.empty())
        cue += "TITLE " + Quoted(title) + "\n";
    cue +=
        "FILE " + Quoted(FileNameOf(outputName)) + (kind == OutputKind::Mp3 ? " MP3\n" : " WAVE\n");
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        char number[24];
        std::snprintf(number, sizeof number, "%02zu", i + 1);
        cue += std::string("  TRACK ") + number + " AUDIO\n";
        cue += "    TITLE " + Quoted(chapters[i].title) + "\n";
        if (i < performers.size() && !performers[i].empty())
            cue += "    PERFORMER " + Quoted(performers[i]) + "\n";
        cue += "    INDEX 01 " + CdTime(chapters[i].startFrame, rate) + "\n";
    }
    return cue;
}

bool WriteTextFile(const std::string &path, const std::string &text, std::string &error) {
    OutputFile file;
    if (!file.Open(path, [] { return false; })) {
        error = SystemError(file.Error());
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(file.Fd(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = SystemError(n < 0 ? errno : EIO);
            file.Discard();
            return false;
        }
        done += std::size_t(n);
    }
    if (!file.Commit()) {
        error = SystemError(file.Error());
        return false;
    }
    return true;
}

void JsonChapters(JsonWriter &json, const std::vector<Chapter> &chapters, int rate) {
    json.BeginArray("chapters");
    for (const Chapter &c : chapters) {
        json.BeginObject();
        json.Number("start_frame", c.startFrame);
        json.Number("start_ms", std::uint64_t(FramesToMs(c.startFrame, rate)));
        json.String("title", c.title);
        json.EndObject();
    }
    json.EndArray();
}

void JsonFramesKept(JsonWriter &json, const JoinSummary &summary, const Mp3CopyCheck &check) {
    json.Bool("frames_kept", summary.framesKept);
    if (!summary.framesKept) {
        json.String("frames_not_kept",
                    summary.framesNotKept.empty() ? check.why : summary.framesNotKept);
        return;
    }
    json.Number("mp3_frames", std::uint64_t(summary.mp3Frames));
    json.Number("copied_frames", summary.copiedFrames);
    json.BeginArray("seams");
    static const char *const fades[] = {"none", "end of first", "start of second"};
    for (const Mp3Seam &seam : summary.seams) {
        json.BeginObject();
        json.Number("first_frame", std::uint64_t(seam.firstFrame));
        json.Number("frames", std::uint64_t(seam.frames));
        json.Number("reencoded_frames", std::uint64_t(seam.reencoded));
        json.Number("kbps", std::uint64_t(seam.kbps));
        json.Number("shift_samples", double(seam.shift));
        json.String("crossfade", fades[seam.fadeIn]);
        json.EndObject();
    }
    json.EndArray();
}

} // namespace tandrel::cli
