#include "CliTestSupport.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

#include "audio/Probe.h"

using namespace testutil;
using namespace clitest;

namespace {

std::string RealDir(const TempDir &dir) {
    char buf[PATH_MAX];
    return realpath(dir.Path().c_str(), buf) ? std::string(buf) + "/" : dir.Path() + "/";
}

TEST(CliOptions, WrongUsageExitsWithTwoAndWritesNothing) {
    TempDir dir;
    WavFile(dir, "a.wav", 4000, '\0');
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no input files given"},
        {{"a.wav"}, "no output file given"},
        {{"-o"}, "option '-o' needs a value"},
        {{"--bogus", "-o", "o.wav", "a.wav"}, "unknown option '--bogus'"},
        {{"-o", "o.flac", "a.wav"}, "cannot tell the output format from 'o.flac'"},
        {{"--format", "ogg", "-o", "o.wav", "a.wav"}, "unknown format 'ogg'"},
        {{"--mp3-bitrate", "100", "-o", "o.mp3", "a.wav"}, "is not one of 320, 256, 192"},
        {{"--wma-bitrate=192", "-o", "o.wma", "a.wav"}, "is not one of 160, 128, 96, 80"},
        {{"--crc", "-o", "o.wav", "a.wav"}, "apply to MP3 output only"},
        {{"--wma-bitrate", "96", "-o", "o.mp3", "a.wav"}, "applies to WMA output only"},
        {{"--force=yes", "-o", "o.wav", "a.wav"}, "option '--force' takes no value"},
        {{"--list", "-o", "o.wav", "a.wav"}, "takes no output file"},
        {{"--outp=o.wav", "--out", "p.wav", "a.wav"}, "only one output file"},
        {{"-q", "--output"}, "option '--output' needs a value"},
        {{"--s", "-o", "o.wav", "a.wav"}, "option '--s' is ambiguous (--sort, --skip-bad)"},
        {{"-qx", "-o", "o.wav", "a.wav"}, "unknown option '-x'"},
        {{"--sort", "-xq", "-o", "o.wav", "a.wav"}, "unknown option '-x'"},
        {{"--qui=1", "-o", "o.wav", "a.wav"}, "option '--quiet' takes no value"},
        {{"--resample=fast", "-o", "o.wav", "a.wav"}, "resample mode 'fast' is not repeat or hq"},
        {{"-o", "-", "a.wav"}, "standard output (-o -) needs --format"},
        {{"--threads", "many", "-o", "o.mp3", "a.wav"}, "thread count 'many' is not a number"},
        {{"--threads=257", "-o", "o.mp3", "a.wav"}, "is not a number from 0 to 256"},
    };
    for (const auto &[args, message] : cases) {
        const CliResult r = RunCli(dir.Path(), args);
        EXPECT_EQ(r.exitCode, 2) << message;
        EXPECT_EQ(r.err.rfind("tandrel-join: ", 0), 0u) << r.err;
        EXPECT_TRUE(Contains(r.err, message)) << r.err;
        EXPECT_TRUE(Contains(r.err, "--help")) << r.err;
    }
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"a.wav"});

    const CliResult help = RunCli(dir.Path(), {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(Contains(help.out, "Usage: tandrel-join [options] -o OUTPUT INPUT..."));
    const CliResult version = RunCli(dir.Path(), {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "tandrel-join 2.5\n");
}

TEST(CliOptions, BundlesPrefixesValuesAfterEqualsAndDoubleDash) {
    TempDir dir;
    WavFile(dir, "a.wav", 44100, '\0', 1, 22050);
    WavFile(dir, "-b.wav", 44100, '\0', 1, 22050);
    struct Case {
        std::vector<std::string> args;
        std::string output, field, value;
        double seconds;
    };
    const Case cases[] = {
        {{"-qf", "mp3", "-o", "x.bin", "a.wav"}, "x.bin", "codec_name", "mp3", 1.0},
        {{"--thr=3", "-qo", "t.MP3", "a.wav"}, "t.MP3", "codec_name", "mp3", 1.0},
        {{"-qfwav", "-oy.mp3", "a.wav"}, "y.mp3", "codec_name", "pcm_s16le", 1.0},
        {{"--mp3-bit", "96", "--outp=z.mp3", "--qu", "a.wav"}, "z.mp3", "bit_rate", "96000", 1.0},
        {{"--format=wma", "--wma-bitrate=64", "--output", "w", "-q", "a.wav"},
         "w",
         "bit_rate",
         "64000",
         1.0},
        // Options may follow inputs; after "--" a leading dash names a file.
        {{"a.wav", "-q", "--resample=hq", "-o", "v.wav", "--", "-b.wav"},
         "v.wav",
         "codec_name",
         "pcm_s16le",
         2.0},
        {{"--resample", "repeat", "-qo", "u.wav", "a.wav", "a.wav"},
         "u.wav",
         "sample_rate",
         "22050",
         2.0},
    };
    for (const Case &c : cases) {
        const CliResult r = RunCli(dir.Path(), c.args);
        ASSERT_EQ(r.exitCode, 0) << c.output << ": " << r.err;
        EXPECT_EQ(r.err, "") << c.output;
        EXPECT_EQ(ProbeStreamField(dir.File(c.output), c.field), c.value) << c.output;
        // The WMA writer holds back a few frames.
        EXPECT_NEAR(ProbeDuration(dir.File(c.output)), c.seconds, 0.2) << c.output;
    }
    // "--sort" after "--" was an input that could not be read, not an option.
    const CliResult r = RunCli(dir.Path(), {"-q", "-o", "t.wav", "--", "a.wav", "--sort"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "--sort: This type of file is not supported.")) << r.err;
}

TEST(CliOptions, ListShowsTheRowsAndTheTargetAsTheWindowWould) {
    TempDir dir;
    const std::string folder = RealDir(dir);
    WavFile(dir, "c.WAV", 1764000, '\0');
    WavFile(dir, "b.wav", 44100, '\x80', 1, 22050, 8);
    Synth(dir, "A.mp3", "-r 48000 -c 1", "2 sine 440");
    WriteFile(dir.File("bad.wav"), "not a wave file");
    WriteFile(dir.File("notes.txt"), "text");

    const std::string cRow = "c.WAV\t44100 Hz\tStereo\t16 Bits\t1.6 MB\t00:10\t" + folder +
                             "\t44100\t2\t16\t10\tWAV\tpcm_s16le\n";
    const std::string bRow = "b.wav\t22050 Hz\tMono\t8 Bits\t43 KB\t00:02\t" + folder +
                             "\t22050\t1\t8\t2\tWAV\tpcm_u8\n";
    CliResult r = RunCli(dir.Path(), {"--list", "c.WAV", "bad.wav", "b.wav", "notes.txt"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, cRow + bRow + "target\t44100\t2\t16\nmp3-copy\tno\t'" + folder +
                         "c.WAV' is not an MP3 file\n");
    EXPECT_TRUE(Contains(r.err, folder + "bad.wav: This file is not a PCM wave file that can "
                                         "be joined."))
        << r.err;
    EXPECT_TRUE(Contains(r.err, folder + "notes.txt: This type of file is not supported."));

    // --sort lists in the window's add order; an MP3's row comes from its stream.
    r = RunCli(dir.Path(), {"--list", "--sort", "c.WAV", "b.wav", "A.mp3"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string mp3Row = r.out.substr(0, r.out.find('\n') + 1);
    std::vector<std::string> fields;
    for (std::size_t at = 0, tab; at < mp3Row.size(); at = tab + 1) {
        tab = mp3Row.find_first_of("\t\n", at);
        fields.push_back(mp3Row.substr(at, tab - at));
    }
    fields.erase(fields.begin() + 4); // the size depends on the encoder
    EXPECT_EQ(fields, (std::vector<std::string>{"A.mp3", "48000 Hz", "Mono", "16 Bits", "00:02",
                                                folder, "48000", "1", "16", "2", "MP3", "mp3"}));
    EXPECT_EQ(r.out.substr(mp3Row.size()), bRow + cRow + "target\t48000\t2\t16\nmp3-copy\tno\t'" +
                                               folder + "b.wav' is not an MP3 file\n");

    // A tab, newline or backslash in a name or its folder is escaped: one row, thirteen fields,
    // and so is the reason the frames cannot be kept.
    ASSERT_EQ(mkdir(dir.File("back\\slash\ttab").c_str(), 0700), 0);
    WavFile(dir, "back\\slash\ttab/two\tparts\nlines.wav", 44100, '\0', 1, 22050, 8);
    r = RunCli(dir.Path(), {"--list", "back\\slash\ttab/two\tparts\nlines.wav", "b.wav"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "two\\tparts\\nlines.wav\t22050 Hz\tMono\t8 Bits\t43 KB\t00:02\t" + folder +
                         "back\\\\slash\\ttab/\t22050\t1\t8\t2\tWAV\tpcm_u8\n" + bRow +
                         "target\t22050\t1\t8\nmp3-copy\tno\t'" + folder +
                         "back\\\\slash\\ttab/two\\tparts\\nlines.wav' is not an MP3 file\n");
}

// Python's json module reads the document; each input, the target and the output come back
// as one line of "field=value" pairs (the path as the hex of its bytes).
std::string ReadJson(const std::string &file) {
    return Python(file,
                  "keys = ('verdict', 'container', 'codec', 'sample_rate', 'channels', 'bits',\n"
                  "        'duration_frames', 'duration_exact', 'format')\n"
                  "def line(o):\n"
                  "    f = ['%s=%s' % (k, o[k]) for k in keys if k in o]\n"
                  "    if 'path' in o: f.insert(0, os.fsencode(o['path']).hex())\n"
                  "    if 'reason' in o: f.append('reason=' + o['reason'])\n"
                  "    if 'duration_seconds' in o:\n"
                  "        f.append('seconds=%.6f' % o['duration_seconds'])\n"
                  "    if o.get('bytes') is not None: f.append('bytes=%d' % o['bytes'])\n"
                  "    return ' '.join(f)\n"
                  "for i in d['inputs']: print(line(i))\n"
                  "print('target', d['target'] and line(d['target']))\n"
                  "if 'status' in d: print(d['status'], d['output'] and line(d['output']))\n");
}

std::string Hex(const std::string &bytes) {
    std::string out;
    char two[3];
    for (const unsigned char c : bytes) {
        std::snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

TEST(CliOptions, JsonListingAndSummaryParseAndAddUp) {
    TempDir dir;
    const std::string folder = RealDir(dir);
    // Any bytes may make a name: quotes, a tab, a newline, a backslash, invalid UTF-8.
    const std::string odd = "q\"b\\t\tn\nx\xff\xc3.wav";
    WavFile(dir, odd, 88200, '\0', 1, 22050, 16);
    // lame's own Info frame states the length exactly.
    testutil::Run("lame --quiet " +
                  Quote(Synth(dir, "m.wav", "-r 44100 -c 2 -b 16", "1 sine 440")) + " " +
                  Quote(dir.File("m.mp3")));
    // A damaged FLAC file named .mp3.
    WriteFile(dir.File("w.mp3"), "fLaC" + std::string(40, '\0'));
    const std::string oddRow = Hex(folder + odd) +
                               " verdict=accepted container=WAV codec=pcm_s16le sample_rate=22050 "
                               "channels=1 bits=16 duration_frames=44100 duration_exact=True "
                               "seconds=2.000000 bytes=88244\n";
    const std::string mp3Row = Hex(folder + "m.mp3") +
                               " verdict=accepted container=MP3 codec=mp3 sample_rate=44100 "
                               "channels=2 bits=16 duration_frames=44100 duration_exact=True "
                               "seconds=1.000000 bytes=";
    const std::string refusedRow = Hex(folder + "w.mp3") +
                                   " verdict=refused reason=This MP3 file cannot be read. (it is "
                                   "a FLAC file) bytes=44\n";

    CliResult r = RunCli(dir.Path(), {"--list", "--json", odd, "m.mp3", "w.mp3"});
    EXPECT_EQ(r.exitCode, 1);
    WriteFile(dir.File("list.json"), r.out);
    const std::string listed = ReadJson(dir.File("list.json"));
    ASSERT_TRUE(Contains(listed, oddRow + mp3Row)) << listed;
    EXPECT_TRUE(Contains(listed, refusedRow + "target sample_rate=44100 channels=2 bits=16\n"))
        << listed;

    // A join's summary: the output's frames are the inputs' frames at the target rate.
    r = RunCli(dir.Path(), {"--json", "-o", "out.wav", odd, "m.mp3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    WriteFile(dir.File("join.json"), r.out);
    EXPECT_TRUE(Contains(ReadJson(dir.File("join.json")),
                         "joined " + Hex(folder + "out.wav") +
                             " duration_frames=132300 format=wav seconds=3.000000 bytes=" +
                             std::to_string(FileSize(dir.File("out.wav"))) + "\n"))
        << ReadJson(dir.File("join.json"));
    EXPECT_EQ(FileSize(dir.File("out.wav")), 44 + 132300u * 4);

    // With the audio on standard output the document goes to standard error.
    r = RunCli(dir.Path(), {"--json", "-qf", "wav", "-o", "-", odd, "m.mp3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out.substr(44) == ReadFile(dir.File("out.wav")).substr(44));
    WriteFile(dir.File("piped.json"), r.err);
    EXPECT_TRUE(
        Contains(ReadJson(dir.File("piped.json")), "joined 2d duration_frames=132300 format=wav"))
        << r.err;

    // Refused inputs: the document says so and names no output.
    r = RunCli(dir.Path(), {"--json", "-o", "none.wav", odd, "w.mp3"});
    EXPECT_EQ(r.exitCode, 1);
    WriteFile(dir.File("refused.json"), r.out);
    EXPECT_TRUE(
        Contains(ReadJson(dir.File("refused.json")),
                 refusedRow + "target sample_rate=22050 channels=1 bits=16\nrefused None\n"))
        << ReadJson(dir.File("refused.json"));
}

TEST(CliOptions, RefusedInputsStopTheJoinUnlessSkipped) {
    TempDir dir;
    WavFile(dir, "a.wav", 176400, '\0');
    WriteFile(dir.File("bad.wav"), "RIFF");
    WriteFile(dir.File("bad.mp3"), std::string(3000, 'x'));
    WriteFile(dir.File("bad.wma"), std::string(3000, 'y'));
    const std::vector<std::string> args = {"-o",      "out.wav", "a.wav", "bad.wav",
                                           "bad.mp3", "bad.wma", "a.wav"};
    CliResult r = RunCli(dir.Path(), args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "bad.wav: This file is not a PCM wave file")) << r.err;
    EXPECT_TRUE(Contains(r.err, "bad.mp3: This MP3 file cannot be read.")) << r.err;
    EXPECT_TRUE(Contains(r.err, "bad.wma: This WMA file cannot be read.")) << r.err;
    EXPECT_TRUE(Contains(r.err, "3 inputs could not be read; nothing was written"));
    EXPECT_FALSE(Exists(dir.File("out.wav")));

    // Each refusal says why as far as the file tells: its real kind, or the system's reason.
    WriteFile(dir.File("flac.mp3"), "fLaC" + std::string(3000, 'z'));
    WriteFile(dir.File("empty.wma"), "");
    r = RunCli(dir.Path(), {"-o", "out.wav", "flac.mp3", "missing.wav", "empty.wma"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "flac.mp3: This MP3 file cannot be read. (it is a FLAC file)"))
        << r.err;
    EXPECT_TRUE(Contains(r.err, "missing.wav: This file is not a PCM wave file"));
    EXPECT_TRUE(Contains(r.err, "No such file or directory)")) << r.err;
    EXPECT_TRUE(Contains(r.err, "empty.wma: This WMA file cannot be read. (it is empty)"));
    // A good file is taken for what its content is, whatever its name.
    ::rename(dir.File("a.wav").c_str(), dir.File("wav.mp3").c_str());
    r = RunCli(dir.Path(), {"-q", "-o", "named.wav", "wav.mp3"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(FileSize(dir.File("named.wav")), 44 + 176400u);
    ::rename(dir.File("wav.mp3").c_str(), dir.File("a.wav").c_str());

    r = RunCli(dir.Path(), {"--skip-bad", "-q", "-o", "out.wav", "a.wav", "bad.wav", "a.wav"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "bad.wav: This file is not a PCM wave file"));
    EXPECT_NEAR(ProbeDuration(dir.File("out.wav")), 2.0, 0.001);

    r = RunCli(dir.Path(), {"--skip-bad", "-o", "none.wav", "bad.wav", "bad.mp3"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "no input could be read")) << r.err;
    EXPECT_FALSE(Exists(dir.File("none.wav")));
}

TEST(CliOptions, ExistingOutputNeedsForce) {
    TempDir dir;
    WavFile(dir, "a.wav", 176400, '\0');
    WriteFile(dir.File("out.wav"), "OLD");
    CliResult r = RunCli(dir.Path(), {"-o", "out.wav", "a.wav", "a.wav"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "'out.wav' already exists; give --force")) << r.err;
    EXPECT_EQ(ReadFile(dir.File("out.wav")), "OLD");

    r = RunCli(dir.Path(), {"--force", "-o", "out.wav", "a.wav", "a.wav"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "Joined 2 files (00:02) into out.wav: 344 KB in ")) << r.err;
    EXPECT_NEAR(ProbeDuration(dir.File("out.wav")), 2.0, 0.001);
    EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"a.wav", "out.wav"}));
}

// The long options --help names in its list of options, each once.
std::vector<std::string> LongOptionsInHelp() {
    const TempDir dir;
    std::istringstream help(RunCli(dir.Path(), {"--help"}).out);
    std::vector<std::string> found;
    for (std::string line; std::getline(help, line);) {
        const std::size_t first = line.find_first_not_of(' ');
        if (first == 0 || first == std::string::npos || line[first] != '-')
            continue; // not a line of the list
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            if (word.rfind("--", 0) != 0)
                continue;
            word = word.substr(0, word.find(','));
            if (std::find(found.begin(), found.end(), word) == found.end())
                found.push_back(word);
        }
    }
    return found;
}

TEST(CliOptions, ManPageAndCompletionKnowEveryOption) {
    const std::vector<std::string> options = LongOptionsInHelp();
    ASSERT_GT(options.size(), 15u);
    const std::string man = ReadFile(std::string(TANDREL_DATA_DIR) + "/man/tandrel-join.1");
    // What bash offers for "tandrel-join --".
    auto complete = [](const std::string &words) {
        return testutil::Run(
                   "bash -c " +
                   Quote(". " + Quote(std::string(TANDREL_DATA_DIR) + "/completion/tandrel-join") +
                         "; COMP_WORDS=(" + words +
                         "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _tandrel_join; "
                         "printf '%s\\n' \"${COMPREPLY[@]}\""))
            .output;
    };
    const std::string offered = complete("tandrel-join --");
    // Values after "=" too, which the shell hands over as a word of its own.
    EXPECT_EQ(complete("tandrel-join --resample = ''"), "repeat\nhq\n");
    EXPECT_EQ(complete("tandrel-join --resample ="), "repeat\nhq\n");
    EXPECT_EQ(complete("tandrel-join --mp3-bitrate = 3"), "320\n32\n");
    for (const std::string &option : options) {
        std::string roff;
        for (const char c : option)
            roff += c == '-' ? "\\-" : std::string(1, c);
        EXPECT_TRUE(Contains(man, roff)) << option << " is missing from the man page";
        EXPECT_TRUE(Contains(offered, option + "\n")) << option << " is not completed";
    }
    // Writing to standard output is told as well.
    EXPECT_TRUE(Contains(man, "\\fB\\-o \\-\\fR")) << "the man page does not tell -o -";
}

// The inputs bash offers: files with any extension of the Add dialog's first line, in either
// case, and folders; nothing else.
TEST(CliOptions, CompletionOffersEveryAudioFileAndNothingElse) {
    const TempDir dir;
    std::vector<std::string> expected = {"LOUD.FLAC", "sub"};
    for (const std::string &extension : tandrel::AudioExtensions()) {
        WriteFile(dir.File("a" + extension), "");
        expected.push_back("a" + extension);
    }
    WriteFile(dir.File("LOUD.FLAC"), "");
    WriteFile(dir.File("notes.txt"), "");
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0700), 0);
    std::sort(expected.begin(), expected.end());
    std::string list;
    for (const std::string &name : expected)
        list += name + "\n";
    const std::string script = ". " +
                               Quote(std::string(TANDREL_DATA_DIR) + "/completion/tandrel-join") +
                               "; COMP_WORDS=(tandrel-join ''); COMP_CWORD=1; _tandrel_join; "
                               "printf '%s\\n' \"${COMPREPLY[@]}\" | LC_ALL=C sort";
    EXPECT_EQ(testutil::Run("cd " + Quote(dir.Path()) + " && bash -c " + Quote(script)).output,
              list);
}

} // namespace
