// Standard output that cannot take what is written, and signals around the join.
#include "CliTestSupport.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

using namespace testutil;
using namespace clitest;

namespace {

// A signal set line of /proc/PID/status ("SigCgt", "SigIgn") as a mask.
unsigned long long SignalMask(pid_t pid, const std::string &field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::stoull(line.substr(field.size() + 1), nullptr, 16);
    return 0;
}

bool Has(unsigned long long mask, int sig) {
    return (mask >> (sig - 1)) & 1;
}

// Waits until pid catches SIGINT, i.e. until it has set up its stop handlers.
bool WaitForStopHandlers(pid_t pid) {
    return WaitUntil([&] { return Has(SignalMask(pid, "SigCgt"), SIGINT); });
}

TEST(CliStreams, StandardOutputThatTakesNothingIsAFailure) {
    TempDir dir;
    WavFile(dir, "a.wav", 4000, '\0');
    const std::string full = MakeFullDevice(dir);
    const std::string cli = Quote(Cli());
    const auto shell = [&](const std::string &args, const std::string &redirect) {
        CliResult r;
        r.exitCode = testutil::Run("(cd " + Quote(dir.Path()) + " && " + cli + " " + args + " " +
                                   redirect + " 2>err.txt)")
                         .exitCode;
        r.err = ReadFile(dir.File("err.txt"));
        return r;
    };
    for (const std::string args :
         {"--list a.wav", "--list --json a.wav", "--json -o out.wav a.wav", "--help"}) {
        SCOPED_TRACE(args);
        CliResult r = shell(args, ">&-");
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_TRUE(Contains(r.err, "tandrel-join: standard output: Bad file descriptor\n"))
            << r.err;
        ::unlink(dir.File("out.wav").c_str());
        if (full.empty())
            continue;
        r = shell(args, ">" + Quote(full));
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_TRUE(Contains(r.err, "tandrel-join: standard output: No space left on device\n"))
            << r.err;
        ::unlink(dir.File("out.wav").c_str());
    }
    // What was written in full is no failure.
    const CliResult fine = shell("--list a.wav", ">list.txt");
    EXPECT_EQ(fine.exitCode, 0) << fine.err;
    EXPECT_EQ(fine.err, "");
}

TEST(CliStreams, StopDuringTheProbingIsAnInterruption) {
    TempDir dir;
    WavFile(dir, "a.wav", 4000, '\0');
    // So many inputs that probing them outlasts the way from the handlers to the signal.
    const std::vector<std::string> many(100000, "a.wav");
    for (const bool json : {false, true}) {
        for (const bool list : {true, false}) {
            SCOPED_TRACE(std::string(list ? "--list" : "join") + (json ? " --json" : ""));
            std::vector<std::string> args;
            if (list)
                args.push_back("--list");
            else
                args.insert(args.end(), {"-q", "-o", "out.wav"});
            if (json)
                args.push_back("--json");
            args.insert(args.end(), many.begin(), many.end());
            const pid_t pid = Start(args, dir.File("out.txt"), dir.File("err.txt"), {}, dir.Path());
            ASSERT_GT(pid, 0);
            ASSERT_TRUE(WaitForStopHandlers(pid));
            kill(pid, SIGINT);
            EXPECT_EQ(ExitCode(pid), 130) << ReadFile(dir.File("err.txt"));
            const std::string err = ReadFile(dir.File("err.txt"));
            EXPECT_TRUE(Contains(err, "tandrel-join: interrupted")) << err;
            EXPECT_FALSE(Exists(dir.File("out.wav")));
            if (list) {
                // No listing that looks whole.
                EXPECT_FALSE(Contains(ReadFile(dir.File("out.txt")), "target")) << err;
            } else if (json) {
                EXPECT_EQ(Python(dir.File("out.txt"),
                                 "print(d['status'], d['output'], len(d['inputs']))"),
                          "interrupted None 100000\n");
            }
        }
    }
}

TEST(CliStreams, SignalsIgnoredAtTheStartStayIgnored) {
    TempDir in, out;
    const std::string big = Synth(in, "big.wav", "-r 44100 -c 2 -b 16", "60 whitenoise");
    // As nohup starts a program: hang-ups ignored.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGHUP, &ignore, &previous);
    const pid_t pid = Start({"--threads", "1", "-o", out.File("out.mp3"), big}, in.File("out.txt"),
                            in.File("err.txt"), {}, in.Path(), SIGHUP);
    sigaction(SIGHUP, &previous, nullptr);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForStopHandlers(pid));
    EXPECT_TRUE(Has(SignalMask(pid, "SigIgn"), SIGHUP));
    EXPECT_FALSE(Has(SignalMask(pid, "SigCgt"), SIGHUP));
    kill(pid, SIGHUP);
    EXPECT_EQ(ExitCode(pid), 0) << ReadFile(in.File("err.txt"));
    EXPECT_TRUE(Exists(out.File("out.mp3")));
}

TEST(CliStreams, NamesInMessagesCannotSteerTheTerminal) {
    TempDir dir;
    // An escape sequence, a newline, a stray byte and a CSI in UTF-8 in the names.
    const std::string evil = "e\033[31mvil\n\x9b\xc2\x9b";
    WriteFile(dir.File(evil + ".wav"), "junk");
    WavFile(dir, "a.wav", 4000, '\0');
    const std::vector<std::vector<std::string>> runs = {
        {"-o", "out.wav", evil + ".wav"},
        {"-o", evil + "out.wav", "a.wav"},
    };
    for (const std::vector<std::string> &args : runs) {
        const CliResult r = RunCli(dir.Path(), args);
        EXPECT_EQ(r.err.find('\033'), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("\xc2\x9b"), std::string::npos) << r.err;
        // Every message is one line of its own.
        std::size_t lines = 0;
        for (std::size_t at = 0; (at = r.err.find('\n', at)) != std::string::npos; ++at)
            lines += r.err.compare(at + 1, 14, "tandrel-join: ") == 0 || at + 1 == r.err.size();
        EXPECT_EQ(lines, size_t(std::count(r.err.begin(), r.err.end(), '\n'))) << r.err;
        EXPECT_TRUE(Contains(r.err, "e?[31mvil?")) << r.err;
    }
    // Characters beyond ASCII are text, whatever their bytes.
    const CliResult r = RunCli(dir.Path(), {"-o", "\u0440\u0100.wav", "a.wav"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, " into \u0440\u0100.wav: ")) << r.err;
}

TEST(CliStreams, RedirectedFileKeepsNoPartOfAJoinThatDidNotFinish) {
    TempDir in;
    const std::string big = Synth(in, "big.wav", "-r 44100 -c 2 -b 16", "120 whitenoise");
    const std::string out = in.File("out.bin");
    // Appended to what the file held: a stop takes the join back out.
    WriteFile(out, "HEAD\n");
    std::vector<std::string> args{"-qf", "wav", "-o", "-"};
    for (int i = 0; i < 40; ++i)
        args.push_back(big);
    pid_t pid = Start(args, out, in.File("err.txt"), {}, in.Path(), 0, O_APPEND);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitUntil([&] { return FileSize(out) > 100000; }));
    kill(pid, SIGTERM);
    EXPECT_EQ(ExitCode(pid), 130) << ReadFile(in.File("err.txt"));
    EXPECT_EQ(FileSize(out), 5u);
    EXPECT_EQ(ReadFile(out).substr(0, 5), "HEAD\n");

    // A failed join: an input cut short while it is read.
    pid = Start({"--threads", "1", "-qf", "mp3", "-o", "-", big}, out, in.File("err.txt"), {},
                in.Path());
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitUntil([&] { return FileSize(out) > 10000; }));
    ASSERT_EQ(::truncate(big.c_str(), 100000), 0);
    EXPECT_EQ(ExitCode(pid), 1) << ReadFile(in.File("err.txt"));
    EXPECT_TRUE(Contains(ReadFile(in.File("err.txt")), "': it ended after "));
    EXPECT_EQ(FileSize(out), 0u);
}

// Stopped in a file that standard output opened for reading and writing (1<>), the join has
// overwritten the start of the file: that is said, and the rest is left as it was.
TEST(CliStreams, StopInAFileOpenedReadWriteSaysWhatWasOverwritten) {
    TempDir in;
    // Mono inputs made stereo block by block: a copy by the kernel could run past the file's
    // end before the stop is heard.
    const std::string big = Synth(in, "big.wav", "-r 44100 -c 1 -b 16", "120 whitenoise");
    const std::string out = in.File("out.bin");
    const std::size_t size = 64u << 20;
    WriteFile(out, std::string(size, 'x'));
    const int fd = ::open(out.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<std::string> args{"-qf", "wav", "-o", "-",
                                  Synth(in, "stereo.wav", "-r 44100 -c 2 -b 16", "0.1 sine 440")};
    for (int i = 0; i < 40; ++i)
        args.push_back(big);
    const pid_t pid = Start(args, "", in.File("err.txt"), {}, in.Path(), 0, 0, fd);
    ::close(fd);
    ASSERT_GT(pid, 0);
    const auto started = [&] {
        const int check = ::open(out.c_str(), O_RDONLY | O_CLOEXEC);
        char head[4] = {};
        const bool riff = ::pread(check, head, 4, 0) == 4 && std::string(head, 4) == "RIFF";
        ::close(check);
        return riff;
    };
    ASSERT_TRUE(WaitUntil(started));
    kill(pid, SIGTERM);
    EXPECT_EQ(ExitCode(pid), 130);
    const std::string err = ReadFile(in.File("err.txt"));
    const std::string said = "tandrel-join: interrupted; the unfinished join overwrote bytes 0 to ";
    ASSERT_EQ(err.rfind(said, 0), 0u) << err;
    const std::size_t end = std::stoul(err.substr(said.size()));
    EXPECT_EQ(err, said + std::to_string(end) + " of standard output's file\n");
    const std::string now = ReadFile(out);
    ASSERT_EQ(now.size(), size);
    EXPECT_GT(end, 44u);
    EXPECT_LT(end, size);
    EXPECT_EQ(now.find_first_not_of('x', end), std::string::npos);
    EXPECT_NE(now[end - 1], 'x');
}

// A name of our own standard output (/dev/stdout, /dev/fd/1) is written through it, as "-":
// appended where the shell appends, never replaced.
TEST(CliStreams, OwnStandardOutputByNameIsWrittenThroughIt) {
    TempDir dir;
    WavFile(dir, "a.wav", 4000, 'w');
    const std::string cli = Quote(Cli());
    const auto shell = [&](const std::string &line) {
        return testutil::Run("(cd " + Quote(dir.Path()) + " && " + line + ")").exitCode;
    };
    ASSERT_EQ(shell(cli + " -qf wav -o - a.wav >plain.bin"), 0);
    const std::string joined = ReadFile(dir.File("plain.bin"));
    for (const std::string name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
        for (const std::string force : {"", " --force"}) {
            SCOPED_TRACE(name + force);
            WriteFile(dir.File("out.bin"), "EARLIER\n");
            EXPECT_EQ(shell(cli + force + " -qf wav -o " + name + " a.wav >>out.bin"), 0);
            EXPECT_EQ(ReadFile(dir.File("out.bin")), "EARLIER\n" + joined);
        }
    }
    // Any other descriptor of ours by its names: a file opened for appending is appended to,
    // a pipe (as bash's >(...) hands one over) is written into.
    for (const std::string name : {"/dev/fd/3", "/proc/self/fd/3"}) {
        SCOPED_TRACE(name);
        WriteFile(dir.File("out.bin"), "EARLIER\n");
        EXPECT_EQ(shell(cli + " --force -qf wav -o " + name + " a.wav 3>>out.bin"), 0);
        EXPECT_EQ(ReadFile(dir.File("out.bin")), "EARLIER\n" + joined);
        EXPECT_EQ(shell(cli + " -qf wav -o " + name + " a.wav 3>&1 >/dev/null | cat >piped.bin"),
                  0);
        EXPECT_EQ(ReadFile(dir.File("piped.bin")), joined);
    }
    // A name that ends in "/" is no file's: refused, and nothing is made or replaced.
    WriteFile(dir.File("ex.wav"), "OLD");
    EXPECT_EQ(shell(cli + " --force -qf wav -o ex.wav/ a.wav 2>/dev/null"), 1);
    EXPECT_EQ(shell(cli + " -qf wav -o new.wav/ a.wav 2>/dev/null"), 1);
    EXPECT_EQ(ReadFile(dir.File("ex.wav")), "OLD");
    EXPECT_FALSE(Exists(dir.File("new.wav")));
}

TEST(CliStreams, StopEndsAJoinWhoseReaderReadsNothing) {
    TempDir dir;
    const std::string wav = Synth(dir, "a.wav", "-r 44100 -c 2 -b 16", "10 sine 440");
    const std::string fifo = dir.File("out.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A reader that is there but never reads: the pipe fills and the join's write waits.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json ? "--json" : "plain");
        std::vector<std::string> args{"-qf", "wav", "-o", fifo, wav};
        if (json)
            args.insert(args.begin(), "--json");
        const pid_t pid = Start(args, dir.File("out.txt"), dir.File("err.txt"), {}, dir.Path());
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(WaitForStopHandlers(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(pid, SIGTERM);
        EXPECT_EQ(ExitCode(pid, 10), 130) << ReadFile(dir.File("err.txt"));
        EXPECT_TRUE(Contains(ReadFile(dir.File("err.txt")), "tandrel-join: interrupted"));
        if (json) {
            EXPECT_EQ(Python(dir.File("out.txt"), "print(d['status'], d['output'])"),
                      "interrupted None\n");
        }
    }
    ::close(reader);
}

TEST(CliStreams, StopThatTakesTheReaderAlongIsAnInterruption) {
    TempDir dir;
    const std::string wav = Synth(dir, "a.wav", "-r 44100 -c 2 -b 16", "30 sine 440");
    // Ctrl-C ends the whole pipeline: the reader goes as the join hears its stop.
    for (const std::string format : {"wav", "mp3"}) {
        SCOPED_TRACE(format);
        int pipeFds[2];
        ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
        const pid_t pid = Start({"--threads", "1", "-qf", format, "-o", "-", wav}, "",
                                dir.File("err.txt"), {}, dir.Path(), 0, 0, pipeFds[1]);
        ::close(pipeFds[1]);
        ASSERT_GT(pid, 0);
        char buf[65536];
        ASSERT_GT(::read(pipeFds[0], buf, sizeof buf), 0);
        kill(pid, SIGTERM);
        ::close(pipeFds[0]);
        EXPECT_EQ(ExitCode(pid, 10), 130) << ReadFile(dir.File("err.txt"));
        EXPECT_TRUE(Contains(ReadFile(dir.File("err.txt")), "tandrel-join: interrupted"));
    }
}

TEST(CliStreams, SizesCountTheJoinAloneInARedirectedFile) {
    TempDir dir;
    WavFile(dir, "a.wav", 4000, '\0');
    // Appended to a file that already holds 2 MB, or written after a first part of it.
    WriteFile(dir.File("out.bin"), std::string(2 << 20, 'x'));
    const std::string cli = Quote(Cli());
    for (const std::string &line :
         {cli + " --json -qf wav -o - a.wav >>out.bin 2>doc.json",
          "{ cat a.wav; " + cli + " --json -qf wav -o - a.wav 2>doc.json; } >out.bin"}) {
        SCOPED_TRACE(line);
        ASSERT_EQ(testutil::Run("(cd " + Quote(dir.Path()) + " && " + line + ")").exitCode, 0);
        EXPECT_EQ(Python(dir.File("doc.json"), "print(d['output']['bytes'])"), "4044\n");
    }
    WriteFile(dir.File("out.bin"), std::string(2 << 20, 'x'));
    const CommandResult r = testutil::Run("(cd " + Quote(dir.Path()) + " && " + cli +
                                          " -f wav -o - a.wav 2>&1 >>out.bin)");
    EXPECT_TRUE(Contains(r.output, " into standard output: 3 KB in ")) << r.output;
}

} // namespace

// WAV inputs tell the join's length before its first byte: a pipe gets the same file as a
// regular output, sizes and all, at one rate and with the high-quality resampler; frames
// repeated up to the rate are counted only as they go, so that pipe gets the largest sizes.
TEST(CliStreams, PipesGetTheSizesTheWavInputsTellAhead) {
    TempDir dir;
    const std::string a = Synth(dir, "a.wav", "-r 44100 -c 1 -b 8", "0.7 sine 440");
    const std::string b = Synth(dir, "b.wav", "-r 48000 -c 2 -b 16", "0.3 sine 1000");
    const std::string c = Synth(dir, "c.wav", "-r 48000 -c 2 -b 24", "0.2 sine 300");
    const std::string cli = Quote(Cli());
    const auto both = [&](const std::string &options, const std::string &inputs) {
        const int file = testutil::Run(cli + " -q --force " + options + " -o " +
                                       Quote(dir.File("file.wav")) + inputs)
                             .exitCode;
        const int pipe = testutil::Run(cli + " -qf wav " + options + " -o -" + inputs + " | cat >" +
                                       Quote(dir.File("piped.wav")))
                             .exitCode;
        EXPECT_EQ(file, 0);
        EXPECT_EQ(pipe, 0);
        return std::make_pair(ReadFile(dir.File("file.wav")), ReadFile(dir.File("piped.wav")));
    };
    const auto [same, samePiped] = both("", " " + Quote(b) + " " + Quote(c));
    EXPECT_TRUE(samePiped == same);
    const auto [hq, hqPiped] = both("--resample=hq", " " + Quote(a) + " " + Quote(b));
    EXPECT_TRUE(hqPiped == hq);
    const auto [repeated, repeatedPiped] = both("", " " + Quote(a) + " " + Quote(b));
    ASSERT_EQ(repeatedPiped.size(), repeated.size());
    EXPECT_EQ(GetLE32(repeatedPiped, 4), 0xFFFFFFFFu);
    EXPECT_TRUE(repeatedPiped.substr(44) == repeated.substr(44));
}

// MP3 on every core: a file decodes to exactly the joined frames (the Info frame tells the
// delay and padding) and has the serial encode's frame count; so has a pipe, with the Info
// frame when the WAV inputs tell the length ahead, and without when they cannot.
TEST(CliMp3, OnEveryCoreIsGaplessOnPipesWhenTheLengthIsKnownAhead) {
    TempDir in, out;
    const std::string a = Synth(in, "a.wav", "-r 44100 -c 2 -b 16", "23.3 pinknoise vol 0.3");
    const std::string b = Synth(in, "b.wav", "-r 44100 -c 2 -b 16", "21.7 sine 440");
    const std::string cli = Quote(Cli());
    const std::string inputs = std::string(" ").append(Quote(a)).append(" ").append(Quote(b));
    const auto shell = [&](const std::string &line) {
        return testutil::Run("cd " + Quote(out.Path()) + " && " + line).exitCode;
    };
    ASSERT_EQ(shell(cli + " -q --threads 2 -o par.mp3" + inputs), 0);
    ASSERT_EQ(shell(cli + " -q --threads 1 -o ser.mp3" + inputs), 0);
    ASSERT_EQ(shell(cli + " -q --threads 2 -f mp3 -o -" + inputs + " | cat >piped.mp3"), 0);
    // A repeated rate is counted only as it goes: no length ahead.
    const std::string c = Synth(in, "c.wav", "-r 22050 -c 2 -b 16", "1 sine 440");
    ASSERT_EQ(shell(cli + " -q -f mp3 -o - " + Quote(c) + inputs + " | cat >unknown.mp3"), 0);
    const auto par = ParseMp3(ReadFile(out.File("par.mp3")));
    const auto ser = ParseMp3(ReadFile(out.File("ser.mp3")));
    const auto piped = ParseMp3(ReadFile(out.File("piped.mp3")));
    ASSERT_TRUE(par.parsed && par.info && ser.parsed && ser.info && piped.parsed && piped.info);
    EXPECT_EQ(piped.frames.size(), ser.frames.size());
    EXPECT_EQ(piped.infoFrames, ser.infoFrames);
    EXPECT_FALSE(ParseMp3(ReadFile(out.File("unknown.mp3"))).info);
    EXPECT_FALSE(par.audio == ser.audio) << "not spliced";
    EXPECT_EQ(par.infoFrames, ser.infoFrames);
    const std::size_t joined = std::size_t(std::lround(23.3 * 44100) + std::lround(21.7 * 44100));
    for (const std::string name : {"par", "ser", "piped"})
        EXPECT_EQ(Decode(out.File(name + ".mp3"), 2).size() / 2, joined) << name;
}

// The Info frame goes into a pipe before the audio: its counts are those of the frames and bytes
// that follow, at any bitrate and however many workers splice the stream (as mp3val checks).
TEST(CliMp3, PipedInfoFrameStatesTheStreamExactly) {
    TempDir in, out;
    const std::string a =
        Synth(in, "a.wav", "-r 44100 -c 2 -b 16", "80 whitenoise vol 0.5 tremolo 2.3 100");
    const std::string b = Synth(in, "b.wav", "-r 44100 -c 2 -b 16", "30.3 pinknoise vol 0.3");
    const std::string inputs = " " + Quote(a) + " " + Quote(b);
    for (const std::string kbps : {"64", "128", "320"}) {
        SCOPED_TRACE(kbps + " kbps");
        const std::string piped = out.File("piped.mp3");
        ASSERT_EQ(testutil::Run(Quote(Cli()) + " -qf mp3 --threads 16 --mp3-bitrate " + kbps +
                                " -o -" + inputs + " | cat >" + Quote(piped))
                      .exitCode,
                  0);
        const std::string bytes = ReadFile(piped);
        const auto mp3 = ParseMp3(bytes);
        ASSERT_TRUE(mp3.parsed && mp3.info);
        EXPECT_EQ(mp3.infoBytes, bytes.size());
        EXPECT_EQ(mp3.infoFrames, mp3.frames.size());
        EXPECT_EQ(Decode(piped, 2).size() / 2,
                  std::size_t(std::lround(80 * 44100.0) + std::lround(30.3 * 44100)));
    }
}

// Standard output sent to a file, a join that keeps MP3 frames is made again by re-encoding
// once an input turns out to change rate part-way, after the first input's frames were written:
// the join made again starts where the file began, with nothing of the first one before it.
TEST(CliStreams, AJoinMadeAgainStartsWhereStandardOutputsFileBegan) {
    TempDir dir;
    const auto made =
        testutil::Run("cd " + Quote(dir.Path()) +
                      " && sox -n -r 44100 -c 2 a.wav synth 3 pinknoise vol 0.3 2>&1"
                      " && sox -n -r 48000 -c 2 c.wav synth 3 pinknoise vol 0.3 2>&1"
                      " && lame --quiet -b 128 a.wav a.mp3 && lame --quiet -b 128 c.wav c.mp3"
                      " && cat a.mp3 c.mp3 > ac.mp3");
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const auto joined =
        testutil::Run("cd " + Quote(dir.Path()) + " && " + Quote(Cli()) +
                      " -q --mp3-copy --threads 1 -f mp3 -o - a.mp3 a.mp3 ac.mp3 > out.mp3");
    ASSERT_EQ(joined.exitCode, 0) << joined.output;
    const std::string out = ReadFile(dir.File("out.mp3"));
    ASSERT_GT(out.size(), 4u);
    EXPECT_EQ(std::uint8_t(out[0]), 0xFF) << "the first bytes are not the output's own";
    EXPECT_LT(std::abs(ProbeDuration(dir.File("out.mp3")) - 12.0), 0.2);
}
