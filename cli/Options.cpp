#include "cli/Options.h"

#include "audio/Probe.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <getopt.h>
#include <strings.h>

namespace tandrel::cli {
namespace {

constexpr int kMp3Kbps[] = {320, 256, 192, 128, 96, 64, 32};
constexpr int kWmaKbps[] = {160, 128, 96, 80, 64, 48};

template <std::size_t N> int IndexOf(const int (&list)[N], int value) {
    for (std::size_t i = 0; i < N; ++i)
        if (list[i] == value)
            return int(i);
    return -1;
}

// "128" or "128k" / "128kbps"; -1 for anything else.
int ParseKbps(const std::string &text) {
    int value = -1;
    const char *end = text.data() + text.size();
    auto [rest, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || rest == text.data())
        return -1;
    const std::string suffix(rest, end);
    if (!suffix.empty() && strcasecmp(suffix.c_str(), "k") != 0 &&
        strcasecmp(suffix.c_str(), "kbps") != 0)
        return -1;
    return value;
}

std::string ListText(const int *list, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i)
        out += (i ? ", " : "") + std::to_string(list[i]);
    return out;
}

} // namespace

const char *const kUsage =
    "Usage: tandrel-join [options] -o OUTPUT INPUT...\n"
    "       tandrel-join [options] -f FORMAT -o - INPUT... > OUTPUT\n"
    "       tandrel-join --list [--json] [--sort] INPUT...\n"
    "Joins audio files (WAV, MP3, WMA, FLAC, Ogg Vorbis, Opus, M4A, AIFF and whatever else\n"
    "FFmpeg decodes, told by their content) into one WAV, MP3 or WMA file. The inputs are\n"
    "brought to the highest sample rate, channel count and bits per sample among them.\n"
    "\n"
    "  -o, --output FILE      the joined file; - writes it to standard output (a pipe or\n"
    "                         a file, never a terminal) and then needs --format\n"
    "  -f, --format FORMAT    wav, mp3 or wma (default: from the output's extension)\n"
    "      --mp3-bitrate KBPS 320, 256, 192, 128 (default), 96, 64 or 32\n"
    "      --crc, --copyright, --original, --private\n"
    "                         set these flags in the MP3 frame headers\n"
    "      --wma-bitrate KBPS 160, 128, 96 (default), 80, 64 or 48\n"
    "      --mp3-copy         keep the MP3 inputs' frames: only a few frames at each seam\n"
    "                         are re-encoded (all inputs MP3 of one rate and channel\n"
    "                         count, else they are re-encoded as usual)\n"
    "      --threads N        workers that decode the compressed inputs ahead and encode\n"
    "                         MP3 (default 0: one per core); 1 does both serially\n"
    "      --resample MODE    how inputs reach the target sample rate: repeat (default,\n"
    "                         as the window does) or hq\n"
    "      --sort             join in the order the window adds files (by full name,\n"
    "                         ignoring case) instead of the order given\n"
    "      --force            replace an existing output file (its permissions, owner and\n"
    "                         other names are kept); a FIFO or device is written to as is\n"
    "      --skip-bad         leave out inputs that cannot be read instead of stopping\n"
    "      --list             join nothing: print each input's row (tab-separated) and the\n"
    "                         target format a join would use\n"
    "      --json             print the listing, or the join's summary, as one JSON document\n"
    "                         (on standard output; on standard error when the audio goes\n"
    "                         there): every input in join order, the target, the output\n"
    "      --tags             copy the first input's album, artist, date, genre and cover\n"
    "                         into the output (--no-tags: not, the default)\n"
    "      --chapters         one chapter per input, titled by its title tag or file name\n"
    "                         (MP3: ID3v2 CHAP/CTOC; WAV: cue points; WMA: markers)\n"
    "                         (--no-chapters: none, the default)\n"
    "      --title TEXT, --artist TEXT, --album TEXT\n"
    "                         set these tags of the output (and write tags)\n"
    "      --cue FILE         also write a CUE sheet of the join: one track per input\n"
    "  -q, --quiet            no progress bar and no summary\n"
    "  -h, --help             show this help\n"
    "  -V, --version          show the version\n"
    "\n"
    "Short options can be bundled (-qf wav); a long option takes its value as --opt=VALUE\n"
    "or --opt VALUE and may be shortened to any unique prefix (--mp3-bit 192); -- ends the\n"
    "options. Progress and the summary go to standard error.\n"
    "\n"
    "Exit status: 0 done, 1 an input was refused or the join failed, 2 wrong usage,\n"
    "130 interrupted by Ctrl-C, SIGTERM or SIGHUP (nothing is left behind).\n"
    "A WAV written to a pipe, FIFO or device carries its sizes in its header when every\n"
    "input is a WAV file at the target's rate (or --resample=hq), else the largest sizes.\n"
    "An MP3 starts with an Info frame (frame count, encoder delay and padding) for gapless\n"
    "players; on a pipe, FIFO or device it is there only when the length is known so.\n";

int Mp3BitrateIndexOf(int kbps) {
    return IndexOf(kMp3Kbps, kbps);
}

int WmaBitrateIndexOf(int kbps) {
    return IndexOf(kWmaKbps, kbps);
}

OutputKind KindOfExtension(const std::string &path) {
    static const std::pair<const char *, OutputKind> kOutputs[] = {
        {".wav", OutputKind::Wav}, {".mp3", OutputKind::Mp3}, {".wma", OutputKind::Wma}};
    for (const auto &[name, kind] : kOutputs)
        if (ExtensionIs(path, name))
            return kind;
    return OutputKind::None;
}

ParseOutcome ParseOptions(const std::vector<std::string> &args, CliOptions &o, std::string &error) {
    enum : int {
        kMp3Bitrate = 256,
        kWmaBitrate,
        kCrc,
        kCopyright,
        kOriginal,
        kPrivate,
        kSort,
        kForce,
        kSkipBad,
        kList,
        kResample,
        kJson,
        kThreads,
        kTags,
        kNoTags,
        kChapters,
        kNoChapters,
        kTitle,
        kArtist,
        kAlbum,
        kCue,
        kMp3Copy,
    };
    static const option kLong[] = {
        {"output", required_argument, nullptr, 'o'},
        {"format", required_argument, nullptr, 'f'},
        {"mp3-bitrate", required_argument, nullptr, kMp3Bitrate},
        {"wma-bitrate", required_argument, nullptr, kWmaBitrate},
        {"crc", no_argument, nullptr, kCrc},
        {"copyright", no_argument, nullptr, kCopyright},
        {"original", no_argument, nullptr, kOriginal},
        {"private", no_argument, nullptr, kPrivate},
        {"sort", no_argument, nullptr, kSort},
        {"force", no_argument, nullptr, kForce},
        {"skip-bad", no_argument, nullptr, kSkipBad},
        {"list", no_argument, nullptr, kList},
        {"json", no_argument, nullptr, kJson},
        {"resample", required_argument, nullptr, kResample},
        {"tags", no_argument, nullptr, kTags},
        {"no-tags", no_argument, nullptr, kNoTags},
        {"chapters", no_argument, nullptr, kChapters},
        {"no-chapters", no_argument, nullptr, kNoChapters},
        {"title", required_argument, nullptr, kTitle},
        {"artist", required_argument, nullptr, kArtist},
        {"album", required_argument, nullptr, kAlbum},
        {"cue", required_argument, nullptr, kCue},
        {"threads", required_argument, nullptr, kThreads},
        {"mp3-copy", no_argument, nullptr, kMp3Copy},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    // "-": inputs come back in their place (code 1); ":": a missing value is told apart.
    static const char kShort[] = "-:o:f:qhV";

    std::vector<std::string> copies(1, "tandrel-join");
    copies.insert(copies.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int argc = int(copies.size());

    // The option as it was meant: its long name when written long, else its letter.
    const auto nameOf = [&](int code, bool writtenLong) -> std::string {
        for (const option *l = kLong; l->name; ++l)
            if (l->val == code && (writtenLong || code >= 256))
                return std::string("--") + l->name;
        return std::string("-") + char(code);
    };
    // The long options a written prefix could stand for.
    const auto candidates = [&](const std::string &written) {
        const std::string name = written.substr(2, written.find('=') - 2);
        std::vector<std::string> found;
        for (const option *l = kLong; l->name; ++l)
            if (std::string(l->name).rfind(name, 0) == 0)
                found.push_back(std::string("--") + l->name);
        return found;
    };

    std::string format;
    bool mp3Only = false, wmaOnly = false, outputGiven = false;
    opterr = 0;
    optind = 0; // starts afresh, whatever an earlier call left
    for (;;) {
        const int code = getopt_long(argc, argv.data(), kShort, kLong, nullptr);
        if (code == -1)
            break;
        const std::string value = optarg ? optarg : "";
        // For errors in a long option, optind has already moved past it.
        const std::string last =
            optind > 0 && optind <= argc ? copies[std::size_t(optind - 1)] : "";
        const bool writtenLong = last.rfind("--", 0) == 0;
        bool ok = true;
        switch (code) {
        case 1:
            o.inputs.push_back(value);
            break;
        case 'h':
            return ParseOutcome::Help;
        case 'V':
            return ParseOutcome::Version;
        case 'o':
            if (outputGiven) {
                error = "only one output file can be given";
                ok = false;
            }
            o.output = value;
            outputGiven = true;
            break;
        case 'f':
            format = value;
            break;
        case kMp3Bitrate:
            if ((o.mp3BitrateIndex = Mp3BitrateIndexOf(ParseKbps(value))) < 0) {
                error = "MP3 bitrate '" + value + "' is not one of " +
                        ListText(kMp3Kbps, std::size(kMp3Kbps)) + " (kbps)";
                ok = false;
            }
            mp3Only = true;
            break;
        case kWmaBitrate:
            if ((o.wmaBitrateIndex = WmaBitrateIndexOf(ParseKbps(value))) < 0) {
                error = "WMA bitrate '" + value + "' is not one of " +
                        ListText(kWmaKbps, std::size(kWmaKbps)) + " (kbps)";
                ok = false;
            }
            wmaOnly = true;
            break;
        case kCrc:
        case kCopyright:
        case kOriginal:
        case kPrivate:
            (code == kCrc         ? o.mp3Crc
             : code == kCopyright ? o.mp3Copyright
             : code == kOriginal  ? o.mp3Original
                                  : o.mp3Private) = true;
            mp3Only = true;
            break;
        case kSort:
            o.sort = true;
            break;
        case kForce:
            o.force = true;
            break;
        case kSkipBad:
            o.skipBad = true;
            break;
        case kList:
            o.list = true;
            break;
        case kJson:
            o.json = true;
            break;
        case 'q':
            o.quiet = true;
            break;
        case kResample:
            if (value == "repeat" || value == "hq") {
                o.resampleHq = value == "hq";
            } else {
                error = "resample mode '" + value + "' is not repeat or hq";
                ok = false;
            }
            break;
        case kTags:
        case kNoTags:
            o.tags = code == kTags;
            break;
        case kChapters:
        case kNoChapters:
            o.chapters = code == kChapters;
            break;
        case kTitle:
            o.title = value;
            break;
        case kArtist:
            o.artist = value;
            break;
        case kAlbum:
            o.album = value;
            break;
        case kCue:
            if (value.empty()) {
                error = "--cue needs a file name";
                ok = false;
            }
            o.cue = value;
            break;
        case kMp3Copy:
            o.mp3Copy = true;
            mp3Only = true;
            break;
        case kThreads: {
            unsigned n = 0;
            const char *end = value.data() + value.size();
            const auto [rest, ec] = std::from_chars(value.data(), end, n);
            if (value.empty() || ec != std::errc() || rest != end || n > kMaxThreads) {
                error = "thread count '" + value + "' is not a number from 0 to " +
                        std::to_string(kMaxThreads);
                ok = false;
            }
            o.threads = n;
            break;
        }
        case ':':
            error = "option '" + nameOf(optopt, writtenLong) + "' needs a value";
            ok = false;
            break;
        default: // '?'
            ok = false;
            if (optopt >= 256 || (optopt > 0 && std::strchr("ofqhV", optopt))) {
                // A known option refused: only a long one given a value it does not take.
                error = "option '" + nameOf(optopt, true) + "' takes no value";
            } else if (optopt != 0) {
                error = "unknown option '-" + std::string(1, char(optopt)) + "'";
            } else if (const auto found = candidates(last); found.size() > 1) {
                error = "option '" + last.substr(0, last.find('=')) + "' is ambiguous (";
                for (std::size_t i = 0; i < found.size(); ++i)
                    error += (i ? ", " : "") + found[i];
                error += ")";
            } else {
                error = "unknown option '" + last + "'";
            }
            break;
        }
        if (!ok)
            return ParseOutcome::Usage;
    }
    // After "--" everything is an input.
    for (int i = optind; i < argc; ++i)
        o.inputs.push_back(copies[std::size_t(i)]);

    if (o.inputs.empty()) {
        error = "no input files given";
        return ParseOutcome::Usage;
    }
    if (o.list) {
        if (outputGiven || !o.cue.empty()) {
            error = std::string("--list joins nothing and takes no ") +
                    (outputGiven ? "output file" : "CUE sheet");
            return ParseOutcome::Usage;
        }
        return ParseOutcome::Run;
    }
    if (!outputGiven || o.output.empty()) {
        error = "no output file given (-o OUTPUT)";
        return ParseOutcome::Usage;
    }
    if (o.output == "-" && format.empty()) {
        error = "writing to standard output (-o -) needs --format wav, mp3 or wma";
        return ParseOutcome::Usage;
    }
    if (!format.empty()) {
        o.kind = KindOfExtension("." + format);
        if (o.kind == OutputKind::None) {
            error = "unknown format '" + format + "' (wav, mp3 or wma)";
            return ParseOutcome::Usage;
        }
    } else {
        o.kind = KindOfExtension(o.output);
        if (o.kind == OutputKind::None) {
            error = "cannot tell the output format from '" + o.output +
                    "'; give --format wav, mp3 or wma";
            return ParseOutcome::Usage;
        }
    }
    if (mp3Only && o.kind != OutputKind::Mp3) {
        error = "--mp3-bitrate, --mp3-copy, --crc, --copyright, --original and --private apply "
                "to MP3 output only";
        return ParseOutcome::Usage;
    }
    if (wmaOnly && o.kind != OutputKind::Wma) {
        error = "--wma-bitrate applies to WMA output only";
        return ParseOutcome::Usage;
    }
    return ParseOutcome::Run;
}

} // namespace tandrel::cli
