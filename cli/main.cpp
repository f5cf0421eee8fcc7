// tandrel-join: the window's join from the command line.
#include "audio/Decoding.h"
#include "audio/Probe.h"
#include "audio/Sniff.h"
#include "audio/TrackTags.h"
#include "cli/Json.h"
#include "cli/Listing.h"
#include "cli/Metadata.h"
#include "cli/Options.h"
#include "cli/Terminal.h"
#include "common/AppFolders.h"
#include "common/FileIo.h"
#include "join/EncoderSinks.h"
#include "join/JoinPipeline.h"
#include "lang/Language.h"
#include "lang/MessageTexts.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <limits.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace tandrel;
using namespace tandrel::cli;

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;
// Track numbers of a CUE sheet run from 01 to 99.
constexpr std::size_t kMaxCueTracks = 99;

const char *FormatName(OutputKind kind) {
    return kind == OutputKind::Mp3 ? "mp3" : kind == OutputKind::Wma ? "wma" : "wav";
}

// The window works with full names: its folder column and messages show them.
std::string Absolute(const std::string &path) {
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd))
        return path;
    std::string dir(cwd);
    return (dir == "/" ? dir : dir + "/") + (path.rfind("./", 0) == 0 ? path.substr(2) : path);
}

std::string TempPcmPath() {
    const char *tmp = std::getenv("TMPDIR");
    std::string dir = tmp && *tmp ? tmp : "/tmp";
    if (dir.back() != '/')
        dir += '/';
    return dir + "AudioTemp.pcm";
}

// The output's status (standard output's when it is "-"); false when there is none yet.
bool StatOutput(bool toStdout, const std::string &output, struct stat &st) {
    return toStdout ? ::fstat(STDOUT_FILENO, &st) == 0 : ::stat(output.c_str(), &st) == 0;
}

// Whether path names the regular file behind our own standard output (/dev/stdout, /dev/fd/1):
// it is written through that descriptor, as "-", so that what the shell opened it for holds.
bool IsOwnStandardOutput(const std::string &path) {
    struct stat named {
    }, out{};
    return ::stat(path.c_str(), &named) == 0 && S_ISREG(named.st_mode) &&
           ::fstat(STDOUT_FILENO, &out) == 0 && named.st_dev == out.st_dev &&
           named.st_ino == out.st_ino;
}

// What a stop leaves: standard output's file opened without appending may have had its bytes
// from where the join began overwritten, up to its old size (what lies past it is cut off).
std::string StoppedText(bool toStdout, bool stream, off_t before, off_t oldSize) {
    if (toStdout && !stream && !(::fcntl(STDOUT_FILENO, F_GETFL) & O_APPEND)) {
        const off_t end = std::min(::lseek(STDOUT_FILENO, 0, SEEK_CUR), oldSize);
        if (end > before)
            return "interrupted; the unfinished join overwrote bytes " + std::to_string(before) +
                   " to " + std::to_string(end) + " of standard output's file";
    }
    return "interrupted; nothing was written";
}

// Where a write to fd lands next: the end of the file when it appends (size), else its offset.
off_t OffsetBefore(int fd, std::int64_t size) {
    if (::fcntl(fd, F_GETFL) & O_APPEND)
        return off_t(size);
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    return at < 0 ? 0 : at;
}

int NotJoined(JsonWriter *json, const char *why, int status) {
    if (json) {
        json->String("status", why);
        json->Null("output");
    }
    return status;
}

int PrintJson(const CliOptions &o, JsonWriter &json, int status);

// A pipe, FIFO, device or socket can hold a write until its reader reads, which one that
// never does would make a stop wait forever. Once a stop has had this long to be heard, the
// join is given up where it waits; nothing of it is ours to clean up on such an output.
class StopWatch {
public:
    StopWatch(bool stream, const std::function<void()> &giveUp) {
        if (stream)
            thread_ = std::thread([this, giveUp] { Watch(giveUp); });
    }
    ~StopWatch() { Finish(); }
    // The join has returned: the watch ends without a word.
    void Finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    void Watch(const std::function<void()> &giveUp) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(50), [this] { return finished_; })) {
            if (!StopRequested())
                continue;
            if (wake_.wait_for(lock, std::chrono::seconds(2), [this] { return finished_; }))
                return;
            giveUp(); // does not return
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    bool finished_ = false;
    std::thread thread_;
};

// The CUE sheet of a finished join, with the performer of each input.
bool WriteCue(const CliOptions &o, const JoinRequest &req, const JoinSummary &summary,
              const std::vector<Track> &tracks) {
    std::vector<std::string> performers;
    for (const Track &t : tracks)
        performers.push_back(TrackTag(t, "artist"));
    const std::string sheet = CueSheet(o.output == "-" ? "-" : o.output, o.kind, req.metadata,
                                       summary.chapters, performers, req.target.sampleRate);
    std::string error;
    if (WriteTextFile(Absolute(o.cue), sheet, error))
        return true;
    PrintError("could not write the CUE sheet '" + o.cue + "': " + error);
    return false;
}

// Why the CUE sheet cannot be written where asked, found before joining; empty when it can.
std::string CueProblem(const CliOptions &o, const std::string &output, bool toStdout,
                       const std::vector<Accepted> &accepted) {
    const std::string cue = Absolute(o.cue);
    const std::string quoted = "'" + o.cue + "'";
    struct stat st;
    if (accepted.size() > kMaxCueTracks)
        return "a CUE sheet holds at most 99 tracks; " + std::to_string(accepted.size()) +
               " inputs were given";
    if ((!toStdout && (cue == output || SameFile(cue, output))) ||
        std::any_of(accepted.begin(), accepted.end(),
                    [&](const Accepted &in) { return SameFile(cue, in.path); }))
        return "the CUE sheet " + quoted + " would take the place of the audio";
    if (::stat(cue.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return quoted + " is a folder";
    if (::stat(cue.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !o.force)
        return quoted + " already exists; give --force to overwrite it";
    const std::string folder = cue.substr(0, cue.rfind('/') + 1);
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return "the folder of the CUE sheet " + quoted + " does not exist";
    return "";
}

// json: the document with the inputs and the target, when --json was given.
int Join(const CliOptions &o, const std::vector<Accepted> &accepted, StderrMessages &messages,
         JsonWriter *json) {
    // Standard output is written through as it is: whatever the shell opened is the join's.
    const bool toStdout = o.output == "-" || IsOwnStandardOutput(Absolute(o.output));
    const std::string output =
        toStdout ? "/proc/self/fd/" + std::to_string(STDOUT_FILENO) : Absolute(o.output);
    struct stat st;
    if (!toStdout && ::stat(output.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            PrintError("'" + o.output + "' is a folder");
            return NotJoined(json, "failed", kExitFailed);
        }
        // A FIFO, device or socket is written through; nothing in it is overwritten.
        if (S_ISREG(st.st_mode) && !o.force) {
            PrintError("'" + o.output + "' already exists; give --force to overwrite it");
            return NotJoined(json, "failed", kExitFailed);
        }
    }

    if (!o.cue.empty()) {
        const std::string why = CueProblem(o, output, toStdout, accepted);
        if (!why.empty()) {
            PrintError(why);
            return NotJoined(json, "failed", kExitFailed);
        }
    }

    JoinRequest req;
    std::vector<std::uint32_t> seconds;
    std::vector<Track> tracks;
    for (const Accepted &in : accepted) {
        req.inputs.push_back(JoinInput{in.path, FormatOf(in.file), in.file.exactBytes,
                                       in.file.reader, ChapterTitle(in.file)});
        seconds.push_back(in.file.seconds);
        tracks.push_back(in.file);
    }
    req.metadata = RequestedMetadata(o, tracks);
    req.target = TargetOf(accepted);
    req.output.kind = o.kind;
    req.output.mp3BitrateIndex = o.mp3BitrateIndex;
    req.output.mp3Crc = o.mp3Crc;
    req.output.mp3Copyright = o.mp3Copyright;
    req.output.mp3Original = o.mp3Original;
    req.output.mp3Private = o.mp3Private;
    req.output.mp3Threads = o.threads;
    req.output.mp3Copy = o.mp3Copy;
    const Mp3CopyCheck copy = o.mp3Copy ? CheckMp3Copy(req.inputs) : Mp3CopyCheck{};
    if (o.mp3Copy && !copy.allowed && !o.quiet)
        PrintError(MsgText(Msg::FramesNotKept, {copy.why}));
    req.output.wmaBitrateIndex = o.wmaBitrateIndex;
    req.output.path = output;
    req.tempPcmPath = TempPcmPath();
    req.direct = true;
    req.resampling = o.resampleHq ? Resampling::Hq : Resampling::Repeat;
    req.discardOnStop = true;
    req.makeEncoder = MakeEncoderSink;
    if (toStdout)
        req.outputName = "standard output";

    ProgressBar bar(seconds, !o.quiet && isatty(STDERR_FILENO));
    messages.SetBar(&bar);
    const auto start = std::chrono::steady_clock::now();
    JoinSummary summary;
    const bool stream = StatOutput(toStdout, output, st) && !S_ISREG(st.st_mode);
    // Standard output may already hold something (>>, or an earlier command's part): the
    // join's size is what it adds.
    const off_t before =
        toStdout && !stream ? OffsetBefore(STDOUT_FILENO, std::int64_t(st.st_size)) : 0;
    const off_t oldSize = toStdout && !stream ? st.st_size : 0;
    StopWatch watch(stream, [&] {
        bar.Clear();
        PrintError("interrupted; nothing was written");
        if (json)
            PrintJson(o, *json, NotJoined(json, "interrupted", kExitStopped));
        std::fflush(nullptr);
        std::_Exit(kExitStopped);
    });
    JoinStatus status = RunJoin(req, bar, &summary);
    watch.Finish();
    // A seam that took no bridge after all: the join was made again by re-encoding.
    if (copy.allowed && !summary.framesKept && !summary.framesNotKept.empty() && !o.quiet) {
        bar.Clear();
        PrintError(MsgText(Msg::FramesNotKept, {summary.framesNotKept}));
    }
    // Ctrl-C ends the whole pipeline: a write that failed as the reader went with it is the
    // stop's doing.
    if (status == JoinStatus::Failed && StopRequested())
        status = JoinStatus::Stopped;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    bar.Clear();
    messages.SetBar(nullptr);

    const bool file = StatOutput(toStdout, output, st) && S_ISREG(st.st_mode);
    if (file && toStdout) {
        const off_t after = ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
        st.st_size = after >= before ? after - before : 0;
    }
    if (json) {
        json->String("status", status == JoinStatus::Ok       ? "joined"
                               : status == JoinStatus::Failed ? "failed"
                                                              : "interrupted");
        if (status == JoinStatus::Ok) {
            const std::uint64_t frames = summary.pcmBytes / FrameBytes(req.target);
            json->BeginObject("output");
            json->String("path", toStdout ? "-" : output);
            json->String("format", FormatName(o.kind));
            json->Number("duration_frames", frames);
            json->Number("duration_seconds", double(frames) / req.target.sampleRate);
            if (file)
                json->Number("bytes", std::uint64_t(st.st_size));
            else
                json->Null("bytes");
            json->Number("seconds_taken", elapsed);
            if (req.metadata.writeChapters || !o.cue.empty())
                JsonChapters(*json, summary.chapters, req.target.sampleRate);
            if (o.mp3Copy)
                JsonFramesKept(*json, summary, copy);
            json->EndObject();
        } else {
            json->Null("output");
        }
    }
    if (status == JoinStatus::Stopped) {
        PrintError(StoppedText(toStdout, stream, before, oldSize));
        return kExitStopped;
    }
    if (status == JoinStatus::Failed)
        return kExitFailed;
    if (!o.cue.empty() && !WriteCue(o, req, summary, tracks))
        return kExitFailed;
    if (!o.quiet && !json) {
        std::uint64_t total = 0;
        for (std::uint32_t s : seconds)
            total += s;
        const std::string size = file ? SizeText(std::uint64_t(st.st_size) / 1024) + " " : "";
        const std::string shown = toStdout ? "standard output" : Printable(o.output);
        std::fprintf(stderr, "Joined %zu file%s (%s) into %s: %sin %.2f s\n", accepted.size(),
                     accepted.size() == 1 ? "" : "s", TimeText(std::uint32_t(total)).c_str(),
                     shown.c_str(), size.c_str(), elapsed);
    }
    return 0;
}

// The document ends the run: on standard output, or standard error when the audio went there.
int PrintJson(const CliOptions &o, JsonWriter &json, int status) {
    json.EndObject();
    std::FILE *to = !o.list && o.output == "-" ? stderr : stdout;
    std::fputs(json.Text().c_str(), to);
    return status;
}

int Main(const std::vector<std::string> &args) {
    CliOptions o;
    std::string error;
    switch (ParseOptions(args, o, error)) {
    case ParseOutcome::Help:
        std::fputs(kUsage, stdout);
        return 0;
    case ParseOutcome::Version:
        std::printf("tandrel-join 2.5\n");
        return 0;
    case ParseOutcome::Usage:
        PrintError(error);
        std::fprintf(stderr, "Try 'tandrel-join --help' for more information.\n");
        return kExitUsage;
    case ParseOutcome::Run:
        break;
    }
    if (!o.list && o.output == "-" && isatty(STDOUT_FILENO)) {
        PrintError("will not write audio to a terminal (-o -); redirect standard output");
        std::fprintf(stderr, "Try 'tandrel-join --help' for more information.\n");
        return kExitUsage;
    }

    InstallStopSignals();
    // A reader that goes away is a failed write with its message and exit status 1.
    std::signal(SIGPIPE, SIG_IGN);
    StderrMessages messages;
    SetMessages(&messages);
    const Texts texts;
    std::vector<std::string> names;
    for (const std::string &name : o.inputs)
        names.push_back(Absolute(name));
    if (o.sort)
        SortNamesForAdding(names);

    std::vector<Entry> entries;
    std::vector<Accepted> accepted;
    const int refused = ProbeAll(names, texts, messages, entries, accepted, o.mp3Copy);
    JsonWriter json;
    if (o.json) {
        json.BeginObject();
        JsonInputs(json, entries, accepted);
    }
    // A stop while the inputs were probed: no listing that looks whole, no join.
    if (StopRequested()) {
        if (o.list) {
            PrintError("interrupted");
            return kExitStopped;
        }
        PrintError("interrupted; nothing was written");
        return o.json ? PrintJson(o, json, NotJoined(&json, "interrupted", kExitStopped))
                      : kExitStopped;
    }
    if (o.list) {
        if (o.json)
            return PrintJson(o, json, refused ? kExitFailed : 0);
        return List(accepted, texts, refused);
    }
    int status = -1;
    if (refused && !o.skipBad) {
        PrintError(std::to_string(refused) + " input" + (refused == 1 ? "" : "s") +
                   " could not be read; nothing was written (--skip-bad leaves them out)");
        status = kExitFailed;
    } else if (accepted.empty()) {
        PrintError("no input could be read; nothing was written");
        status = kExitFailed;
    }
    if (status >= 0)
        return o.json ? PrintJson(o, json, NotJoined(&json, "refused", status)) : status;
    status = Join(o, accepted, messages, o.json ? &json : nullptr);
    return o.json ? PrintJson(o, json, status) : status;
}

} // namespace

int main(int argc, char **argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    // Without the decoders only PCM wave files are taken; a join of those never loads them.
    InitDecodingOnFirstUse();
    int status = Main(args);
    EndDecoding();
    SetMessages(nullptr);
    // A listing, document or help that did not reach standard output in full is a failure.
    const int err = std::fflush(stdout) != 0 ? errno : std::ferror(stdout) ? EIO : 0;
    if (err != 0) {
        PrintError(std::string("standard output: ") + std::strerror(err));
        if (status == 0)
            status = kExitFailed;
    }
    return status;
}
