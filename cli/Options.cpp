#include "cli/Options.h"

#include "audio/Probe.h"

#include <charconv>
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
    "       tandrel-join --list [--sort] INPUT...\n"
    "Joins WAV, MP3 and WMA files into one WAV, MP3 or WMA file. The inputs are brought to\n"
    "the highest sample rate, channel count and bits per sample among them.\n"
    "\n"
    "  -o, --output FILE      the joined file\n"
    "  -f, --format FORMAT    wav, mp3 or wma (default: from the output's extension)\n"
    "      --mp3-bitrate KBPS 320, 256, 192, 128 (default), 96, 64 or 32\n"
    "      --crc, --copyright, --original, --private\n"
    "                         set these flags in the MP3 frame headers\n"
    "      --wma-bitrate KBPS 160, 128, 96 (default), 80, 64 or 48\n"
    "      --sort             join in the order the window adds files (by full name,\n"
    "                         ignoring case) instead of the order given\n"
    "      --force            replace an existing output file (its permissions, owner and\n"
    "                         other names are kept); a FIFO or device is written to as is\n"
    "      --skip-bad         leave out inputs that cannot be read instead of stopping\n"
    "      --list             join nothing: print each input's row (tab-separated) and the\n"
    "                         target format a join would use\n"
    "  -q, --quiet            no progress bar and no summary\n"
    "  -h, --help             show this help\n"
    "  -V, --version          show the version\n"
    "\n"
    "Exit status: 0 done, 1 an input was refused or the join failed, 2 wrong usage,\n"
    "130 interrupted by Ctrl-C, SIGTERM or SIGHUP (nothing is left behind).\n"
    "A WAV written to a FIFO or device carries the largest sizes in its header.\n";

int Mp3BitrateIndexOf(int kbps) {
    return IndexOf(kMp3Kbps, kbps);
}

int WmaBitrateIndexOf(int kbps) {
    return IndexOf(kWmaKbps, kbps);
}

OutputKind KindOfExtension(const std::string &path) {
    switch (KindOf(path)) {
    case AudioKind::Wav:
        return OutputKind::Wav;
    case AudioKind::Mp3:
        return OutputKind::Mp3;
    case AudioKind::Wma:
        return OutputKind::Wma;
    default:
        return OutputKind::None;
    }
}

ParseOutcome ParseOptions(const std::vector<std::string> &args, CliOptions &o, std::string &error) {
    std::string format;
    bool mp3Only = false, wmaOnly = false, outputGiven = false;
    bool endOfOptions = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (endOfOptions || arg == "-" || arg.empty() || arg[0] != '-') {
            o.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            endOfOptions = true;
            continue;
        }
        std::string value;
        bool inlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.resize(eq);
                inlineValue = true;
            }
        } else if (arg.size() > 2) {
            value = arg.substr(2);
            arg.resize(2);
            inlineValue = true;
        }
        const auto takeValue = [&]() -> bool {
            if (inlineValue)
                return true;
            if (i + 1 >= args.size()) {
                error = "option '" + arg + "' needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        const auto flag = [&](bool &target) {
            if (inlineValue) {
                error = "option '" + arg + "' takes no value";
                return false;
            }
            target = true;
            return true;
        };
        bool ok = true;
        if (arg == "-h" || arg == "--help") {
            return ParseOutcome::Help;
        } else if (arg == "-V" || arg == "--version") {
            return ParseOutcome::Version;
        } else if (arg == "-o" || arg == "--output") {
            ok = takeValue();
            if (ok && outputGiven) {
                error = "only one output file can be given";
                ok = false;
            }
            o.output = value;
            outputGiven = true;
        } else if (arg == "-f" || arg == "--format") {
            ok = takeValue();
            format = value;
        } else if (arg == "--mp3-bitrate") {
            ok = takeValue();
            if (ok && (o.mp3BitrateIndex = Mp3BitrateIndexOf(ParseKbps(value))) < 0) {
                error = "MP3 bitrate '" + value + "' is not one of " +
                        ListText(kMp3Kbps, std::size(kMp3Kbps)) + " (kbps)";
                ok = false;
            }
            mp3Only = true;
        } else if (arg == "--wma-bitrate") {
            ok = takeValue();
            if (ok && (o.wmaBitrateIndex = WmaBitrateIndexOf(ParseKbps(value))) < 0) {
                error = "WMA bitrate '" + value + "' is not one of " +
                        ListText(kWmaKbps, std::size(kWmaKbps)) + " (kbps)";
                ok = false;
            }
            wmaOnly = true;
        } else if (bool *mp3Flag = arg == "--crc"         ? &o.mp3Crc
                                   : arg == "--copyright" ? &o.mp3Copyright
                                   : arg == "--original"  ? &o.mp3Original
                                   : arg == "--private"   ? &o.mp3Private
                                                          : nullptr) {
            ok = flag(*mp3Flag);
            mp3Only = true;
        } else if (bool *other = arg == "--sort"                   ? &o.sort
                                 : arg == "--force"                ? &o.force
                                 : arg == "--skip-bad"             ? &o.skipBad
                                 : arg == "--list"                 ? &o.list
                                 : arg == "-q" || arg == "--quiet" ? &o.quiet
                                                                   : nullptr) {
            ok = flag(*other);
        } else {
            error = "unknown option '" + args[i] + "'";
            ok = false;
        }
        if (!ok)
            return ParseOutcome::Usage;
    }

    if (o.inputs.empty()) {
        error = "no input files given";
        return ParseOutcome::Usage;
    }
    if (o.list) {
        if (outputGiven) {
            error = "--list joins nothing and takes no output file";
            return ParseOutcome::Usage;
        }
        return ParseOutcome::Run;
    }
    if (!outputGiven || o.output.empty()) {
        error = "no output file given (-o OUTPUT)";
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
        error = "--mp3-bitrate, --crc, --copyright, --original and --private apply to MP3 "
                "output only";
        return ParseOutcome::Usage;
    }
    if (wmaOnly && o.kind != OutputKind::Wma) {
        error = "--wma-bitrate applies to WMA output only";
        return ParseOutcome::Usage;
    }
    return ParseOutcome::Run;
}

} // namespace tandrel::cli
