#include "CliTestSupport.h"
#include "tests/join/JoinTestSupport.h"

#include "audio/Decoding.h"
#include "audio/Ffmpeg.h"
#include "join/EncoderSinks.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

using namespace testutil;
using namespace clitest;
using namespace tandrel;

namespace {

class CliJoin : public ::testing::Test {
protected:
    static void SetUpTestSuite() { tandrel::InitDecoding(); }
    static void TearDownTestSuite() { tandrel::EndDecoding(); }

    // The window's join of the same list: listed rows, the target, the two-pass pipeline.
    static void WindowJoin(const std::vector<std::string> &inputs, const OutputSettings &output,
                           const TempDir &tmp) {
        std::vector<JoinInput> rows;
        for (const std::string &path : inputs)
            rows.push_back(jointest::Listed(path));
        JoinRequest req = jointest::WavJoin(tmp, rows, output.path);
        req.output = output;
        req.makeEncoder = MakeEncoderSink;
        jointest::Recorder progress;
        ASSERT_EQ(RunJoin(req, progress), JoinStatus::Ok);
    }

    // A mixed list: 22050 Hz mono 8-bit, 44100 Hz stereo 16-bit, 48000 Hz stereo MP3.
    void MakeMixed() {
        mixed_ = {Synth(in_, "low.wav", "-r 22050 -c 1 -b 8", "1.5 sine 300"),
                  Synth(in_, "cd.wav", "-r 44100 -c 2 -b 16", "2 sine 440"),
                  Synth(in_, "hi.mp3", "-r 48000 -c 2", "2.5 sine 550")};
        mixedSeconds_ = 6.0;
    }

    TempDir in_, out_, tmp_;
    std::vector<std::string> mixed_;
    double mixedSeconds_ = 0;
};

// WAV and MP3 joins are the window's join byte for byte; a WMA join lasts as long as its inputs.
TEST_F(CliJoin, MixedListJoinsAsTheWindowDoes) {
    MakeMixed();
    OutputSettings settings;
    settings.kind = OutputKind::Wav;
    settings.path = out_.File("window.wav");
    WindowJoin(mixed_, settings, tmp_);
    CliResult r =
        RunCli(in_.Path(), {"-q", "-o", out_.File("cli.wav"), mixed_[0], mixed_[1], mixed_[2]});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFile(out_.File("cli.wav")), ReadFile(out_.File("window.wav")));

    settings.kind = OutputKind::Mp3;
    settings.mp3BitrateIndex = 4;
    settings.mp3Crc = true;
    settings.mp3Original = true;
    settings.path = out_.File("window.mp3");
    WindowJoin(mixed_, settings, tmp_);
    r = RunCli(in_.Path(), {"-q", "--mp3-bitrate", "96", "--crc", "--original", "-o",
                            out_.File("cli.mp3"), mixed_[0], mixed_[1], mixed_[2]});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(ReadFile(out_.File("cli.mp3")) == ReadFile(out_.File("window.mp3")));

    // WMA: the join lasts as long as its inputs.
    r = RunCli(in_.Path(), {"--wma-bitrate", "64", "-o", out_.File("cli.Wma"), mixed_[0], mixed_[1],
                            mixed_[2]});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "Joined 3 files")) << r.err;
    // The WMA writer codes 44100 Hz and holds back a few frames of 2048 samples.
    EXPECT_EQ(ProbeStreamField(out_.File("cli.Wma"), "sample_rate"), "44100");
    EXPECT_EQ(ProbeStreamField(out_.File("cli.Wma"), "bit_rate"), "64000");
    EXPECT_GE(ProbeDuration(out_.File("cli.Wma")), mixedSeconds_ - 0.01);
    EXPECT_LE(ProbeDuration(out_.File("cli.Wma")), mixedSeconds_ + 0.2);
}

TEST_F(CliJoin, InterruptLeavesNothingBehindAndTheOldOutputAlone) {
    const std::string big = Synth(in_, "big.wav", "-r 44100 -c 2 -b 16", "120 whitenoise");
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        for (const std::string name : {"out.mp3", "out.wav"}) {
            SCOPED_TRACE(name + " signal " + std::to_string(sig));
            const std::string output = out_.File(name);
            WriteFile(output, "OLD");
            const std::string err = in_.File("err.txt");
            // A WAV join of one input would be over too soon: join the input many times.
            std::vector<std::string> args{"--force", "-o", output};
            for (int i = 0; i < (name == "out.wav" ? 40 : 1); ++i)
                args.push_back(big);
            const pid_t pid = Start(args, err + ".out", err, {"TMPDIR=" + tmp_.Path()});
            ASSERT_GT(pid, 0);
            // Interrupt once the output is being written, i.e. mid-join.
            WaitUntil([&] { return WritesInto(pid, out_.Path()); });
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            kill(pid, sig);
            const int code = ExitCode(pid);
            if (sig != SIGKILL) {
                EXPECT_EQ(code, 130) << ReadFile(err);
                EXPECT_TRUE(Contains(ReadFile(err), "interrupted; nothing was written"));
            }
            // Even a join killed outright leaves no partial file anywhere.
            EXPECT_EQ(ReadFile(output), "OLD");
            EXPECT_EQ(Listing(out_.Path()), std::vector<std::string>{name});
            EXPECT_TRUE(Listing(tmp_.Path()).empty());
            ::unlink(output.c_str());
        }
    }
}

TEST_F(CliJoin, DashWritesTheJoinToStandardOutput) {
    MakeMixed();
    std::string inputs;
    for (const std::string &in : mixed_)
        inputs += " " + Quote(in);
    const std::string cli = Quote(Cli());
    const auto shell = [&](const std::string &line) {
        return testutil::Run("cd " + Quote(out_.Path()) + " && " + line).exitCode;
    };
    ASSERT_EQ(shell(cli + " -q -o file.wav" + inputs), 0);
    // Through a pipe: the same samples; the header cannot be gone back to, and MP3 and WMA
    // inputs tell their length only once decoded, so its sizes are the largest.
    ASSERT_EQ(shell("(" + cli + " -f wav -o -" + inputs + " 2>err.txt; echo $? >rc.txt) | cat " +
                    ">piped.wav"),
              0);
    const std::string summary = ReadFile(out_.File("err.txt"));
    EXPECT_EQ(ReadFile(out_.File("rc.txt")), "0\n") << summary;
    EXPECT_TRUE(Contains(summary, "Joined 3 files (")) << summary;
    EXPECT_TRUE(Contains(summary, ") into standard output: in ")) << summary;
    const std::string file = ReadFile(out_.File("file.wav"));
    const std::string piped = ReadFile(out_.File("piped.wav"));
    ASSERT_EQ(piped.size(), file.size());
    EXPECT_TRUE(piped.substr(44) == file.substr(44));
    EXPECT_EQ(piped.substr(0, 4) + piped.substr(8, 32), file.substr(0, 4) + file.substr(8, 32));
    EXPECT_EQ(GetLE32(piped, 4), 0xFFFFFFFFu);
    EXPECT_EQ(GetLE32(piped, 40), 0xFFFFFFFFu);

    // Redirected into a file: that very file gets the join, headers and all, without --force.
    WriteFile(out_.File("redirected.wav"), std::string(300000, 'x'));
    ASSERT_EQ(shell("exec 3>redirected.wav && ln redirected.wav other.wav && " + cli +
                    " -qf wav --output=-" + inputs + " >&3 2>err.txt"),
              0)
        << ReadFile(out_.File("err.txt"));
    EXPECT_EQ(shell("cmp file.wav redirected.wav && cmp file.wav other.wav"), 0);

    // MP3 and WMA stream as well; tee keeps reading when ffprobe has seen enough.
    for (const std::string format : {"mp3", "wma"}) {
        SCOPED_TRACE(format);
        ASSERT_EQ(shell("(" + cli + " -qf " + format + " -o -" + inputs +
                        " 2>err.txt; echo $? >rc.txt) | tee -p stream | ffprobe -v error "
                        "-show_entries format=format_name -of csv=p=0 -i pipe: >format.txt"),
                  0);
        EXPECT_EQ(ReadFile(out_.File("rc.txt")), "0\n") << ReadFile(out_.File("err.txt"));
        EXPECT_EQ(ReadFile(out_.File("format.txt")), format == "mp3" ? "mp3\n" : "asf\n");
        // A streamed ASF has no duration in its header to check against.
        if (format == "mp3") {
            EXPECT_NEAR(ProbeDuration(out_.File("stream")), mixedSeconds_, 0.1);
        }
    }
    EXPECT_EQ(Listing(out_.Path()),
              (std::vector<std::string>{"err.txt", "file.wav", "format.txt", "other.wav",
                                        "piped.wav", "rc.txt", "redirected.wav", "stream"}));

    // A reader that leaves early: the failure names standard output, not a descriptor path.
    for (const std::string format : {"wav", "mp3"}) {
        ASSERT_EQ(shell("(" + cli + " -qf " + format + " -o -" + inputs +
                        " 2>err.txt; echo $? >rc.txt) | head -c 100 >head.out"),
                  0);
        EXPECT_EQ(ReadFile(out_.File("rc.txt")), "1\n");
        EXPECT_TRUE(Contains(ReadFile(out_.File("err.txt")), ": standard output: Broken pipe\n"))
            << ReadFile(out_.File("err.txt"));
    }

    // A terminal is no place for audio: wrong usage, before anything is read.
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string err = out_.File("tty-err.txt");
    const pid_t pid = SpawnWith({"-f", "wav", "-o", "-", mixed_[0]}, {}, [&](auto &actions) {
        posix_spawn_file_actions_adddup2(&actions, slave, 1);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
    });
    close(slave);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(ExitCode(pid), 2);
    EXPECT_TRUE(Contains(ReadFile(err), "tandrel-join: will not write audio to a terminal"))
        << ReadFile(err);
    EXPECT_TRUE(Contains(ReadFile(err), "Try 'tandrel-join --help' for more information."));
    char buf[64];
    fcntl(master, F_SETFL, O_NONBLOCK);
    EXPECT_LE(read(master, buf, sizeof buf), 0) << "nothing reached the terminal";
    close(master);
}

TEST_F(CliJoin, ResampleHqReachesTheTargetRateByRoundedRatio) {
    const std::string cd = Synth(in_, "cd.wav", "-r 44100 -c 2 -b 16", "1 sine 1000");
    const std::string dat = Synth(in_, "dat.wav", "-r 48000 -c 2 -b 16", "1 sine 1000");
    for (const std::string mode : {"repeat", "hq"}) {
        const std::string out = out_.File(mode + ".wav");
        const CliResult r = RunCli(in_.Path(), {"-q", "--resample=" + mode, "-o", out, cd, dat});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        // Repetition gives 47999 frames for a second at 44100 Hz; hq round(44100 * 48000 / 44100).
        EXPECT_EQ(FileSize(out) - 44, (mode == "hq" ? 96000u : 95999u) * 4) << mode;
    }
}

// FFmpeg's libraries are opened only for what needs them: with them unusable, WAV files still
// join, and an MP3 file is one the decoders cannot read, as when they fail to start.
TEST_F(CliJoin, WavFilesJoinWithoutFfmpeg) {
    const std::string cd = Synth(in_, "cd.wav", "-r 44100 -c 2 -b 16", "0.5 sine 440");
    const std::string mp3 = Synth(in_, "hi.mp3", "-r 44100 -c 2", "0.5 sine 550");
    const std::string low = Synth(in_, "low.wav", "-r 22050 -c 2 -b 16", "0.5 sine 300");
    WriteFile(in_.File("odd.xyz"), "neither" + std::string(5000, '\x93'));
    const std::string libs = out_.File("broken");
    ASSERT_EQ(mkdir(libs.c_str(), 0700), 0);
    for (const std::string &name : {"libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR),
                                    "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR)})
        WriteFile(libs + "/" + name, "not a library");
    setenv("LD_LIBRARY_PATH", libs.c_str(), 1);
    const CliResult wav = RunCli(in_.Path(), {"-q", "-o", out_.File("a.wav"), cd, cd});
    const CliResult dec = RunCli(in_.Path(), {"-q", "-o", out_.File("b.wav"), cd, mp3});
    // Nor does what would need FFmpeg without decoding end the program: resampling, and a look
    // at a file of no known kind.
    const CliResult hq =
        RunCli(in_.Path(), {"-q", "--resample=hq", "-o", out_.File("c.wav"), low, cd});
    const CliResult odd =
        RunCli(in_.Path(), {"-q", "-o", out_.File("d.wav"), cd, in_.File("odd.xyz")});
    unsetenv("LD_LIBRARY_PATH");
    EXPECT_EQ(hq.exitCode, 1);
    EXPECT_EQ(hq.err,
              "tandrel-join: Can not join '" + low + "': the rate converter could not start\n");
    EXPECT_EQ(odd.exitCode, 1);
    EXPECT_TRUE(Contains(odd.err, in_.File("odd.xyz") + ": This type of file is not supported.\n"))
        << odd.err;
    EXPECT_EQ(wav.exitCode, 0) << wav.err;
    EXPECT_EQ(FileSize(out_.File("a.wav")), 2 * FileSize(cd) - 44);
    EXPECT_EQ(dec.exitCode, 1);
    EXPECT_EQ(dec.err, "tandrel-join: " + mp3 + ": This MP3 file cannot be read.\n" +
                           "tandrel-join: 1 input could not be read; nothing was written "
                           "(--skip-bad leaves them out)\n");
}

TEST_F(CliJoin, OutputThatCannotBeCreatedSaysWhichAndWhy) {
    const std::string cd = Synth(in_, "cd.wav", "-r 44100 -c 2 -b 16", "0.5 sine 440");
    const CliResult r = RunCli(in_.Path(), {"-o", out_.File("no/such/out.wav"), cd});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "tandrel-join: Cannot creat the output file: " + out_.File("no/such/out.wav") +
                         ": No such file or directory\n");
    // A device that takes nothing: every format names it and the reason.
    const std::string full = testutil::MakeFullDevice(out_);
    if (full.empty())
        return;
    for (const char *format : {"wav", "mp3", "wma"}) {
        const CliResult f = RunCli(in_.Path(), {"-qf", format, "-o", full, cd});
        EXPECT_EQ(f.exitCode, 1) << format;
        EXPECT_EQ(f.err, "tandrel-join: Cannot creat the output file: " + full +
                             ": No space left on device\n")
            << format;
    }
}

// Decoded inputs on workers, and the WMA encoder fed on a thread of its own: a disk that
// fills up halfway is the same failure as with one thread, and leaves nothing behind.
TEST_F(CliJoin, DiskFillingUpUnderDecodedInputsFailsAsWithOneThread) {
    jointest::SmallDisk disk(out_.File("small"), "size=256k");
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    const std::string cd = Synth(in_, "cd.wav", "-r 44100 -c 2 -b 16", "8 sine 440");
    const std::string mp3 = in_.File("cd.mp3");
    ASSERT_EQ(testutil::Run("lame --quiet " + cd + " " + mp3).exitCode, 0);
    for (const std::string format : {"wav", "wma"}) {
        std::string errors[2];
        for (const int threads : {1, 2}) {
            const CliResult r =
                RunCli(in_.Path(), {"-q", "--threads", std::to_string(threads), "-o",
                                    out_.File("small/out." + format), mp3, mp3, mp3});
            EXPECT_EQ(r.exitCode, 1) << format << " " << threads;
            EXPECT_TRUE(Contains(r.err, "No space left on device")) << r.err;
            EXPECT_TRUE(testutil::Listing(out_.File("small")).empty()) << format << threads;
            errors[threads - 1] = r.err;
        }
        EXPECT_EQ(errors[0], errors[1]) << format;
    }
}

// Whether text is valid UTF-8: no cut or stray multi-byte sequence.
bool ValidUtf8(const std::string &text) {
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = s[i] < 0x80                    ? 1
                                : s[i] >= 0xC2 && s[i] <= 0xDF ? 2
                                : s[i] >= 0xE0 && s[i] <= 0xEF ? 3
                                : s[i] >= 0xF0 && s[i] <= 0xF4 ? 4
                                                               : 0;
        if (len == 0 || i + len > text.size())
            return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
        i += len;
    }
    return true;
}

// Columns of a line of single-column characters: its UTF-8 lead bytes.
std::size_t Columns(const std::string &line) {
    return std::size_t(std::count_if(line.begin(), line.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

struct PtyRun {
    int exitCode = -1;
    std::vector<std::string> before, after; // progress lines drawn before and after the resize
    std::string err;                        // all of standard error
};

// Runs tandrel-join with TERM=term and standard error on a pseudo-terminal of width columns.
// resizeTo > 0: once the first progress line is read, the terminal is made that wide and the
// program is told (SIGWINCH); lines read 300 ms later count as drawn after it.
PtyRun RunOnPty(const std::vector<std::string> &args, const std::string &term, int width,
                int resizeTo, const TempDir &tmp) {
    PtyRun run;
    int master = -1, slave = -1;
    struct winsize size {};
    size.ws_row = 24;
    size.ws_col = (unsigned short)width;
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0)
        return run;
    struct termios raw;
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    const pid_t pid = SpawnWith(
        args, {"TMPDIR=" + tmp.Path(), "TERM=" + term}, [&](posix_spawn_file_actions_t &actions) {
            posix_spawn_file_actions_addopen(&actions, 1, tmp.File("out.txt").c_str(),
                                             O_WRONLY | O_CREAT, 0600);
            posix_spawn_file_actions_adddup2(&actions, slave, 2);
            posix_spawn_file_actions_addclose(&actions, master);
        });
    close(slave);
    if (pid <= 0) {
        close(master);
        return run;
    }
    std::string pending; // the line being drawn
    bool resized = false;
    auto settled = std::chrono::steady_clock::time_point::max();
    for (;;) {
        struct pollfd p {
            master, POLLIN, 0
        };
        if (poll(&p, 1, 10000) <= 0)
            break;
        char buf[4096];
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0)
            break; // EIO once the program has closed its side
        run.err.append(buf, std::size_t(n));
        pending.append(buf, std::size_t(n));
        // A line ends where the next one starts over ("\r") or where the text moves on.
        for (std::size_t end; (end = pending.find_first_of("\r\n", 1)) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end);
            if (line.rfind("\r\033[K", 0) != 0)
                continue;
            line.erase(0, 4);
            if (!Contains(line, "%  ")) // the bar cleared before a message
                continue;
            (std::chrono::steady_clock::now() < settled ? run.before : run.after).push_back(line);
            if (resizeTo > 0 && !resized) {
                resized = true;
                size.ws_col = (unsigned short)resizeTo;
                ioctl(master, TIOCSWINSZ, &size);
                kill(pid, SIGWINCH);
                settled = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
            }
        }
    }
    close(master);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    return run;
}

TEST_F(CliJoin, ProgressLineFitsTheTerminalAndFollowsItsWidth) {
    // A long name of two-byte characters, so that a byte cut would break one.
    std::string name;
    for (int i = 0; i < 60; ++i)
        name += "\u00e4";
    const std::string big = Synth(in_, name + ".wav", "-r 44100 -c 2 -b 16", "120 whitenoise");
    // One worker, so that the join lasts long enough to see the resize.
    std::vector<std::string> args{"--force", "--threads", "1", "-o"};
    args.insert(args.end(), {out_.File("out.mp3"), big});

    const PtyRun wide = RunOnPty(args, "xterm", 100, 40, tmp_);
    EXPECT_EQ(wide.exitCode, 0) << wide.err;
    EXPECT_TRUE(ValidUtf8(wide.err));
    ASSERT_FALSE(wide.before.empty()) << wide.err;
    ASSERT_FALSE(wide.after.empty()) << "the join ended too soon to see the resize";
    bool filled = false, cut = false, timeLeft = false;
    for (const std::string &line : wide.before) {
        EXPECT_LT(Columns(line), 100u) << line;
        filled = filled || Columns(line) > 80;
    }
    for (const std::string &line : wide.after) {
        EXPECT_LT(Columns(line), 40u) << line;
        cut = cut || Contains(line, "...\u00e4");
        timeLeft = timeLeft || Contains(line, " left");
        EXPECT_FALSE(Contains(line, name)) << line;
    }
    EXPECT_TRUE(filled) << "a wide terminal's room is used";
    EXPECT_TRUE(cut) << "the name's end is shown after \"...\"";
    EXPECT_TRUE(timeLeft) << "the time left is shown";

    // A dumb terminal gets no bar, only the summary.
    const PtyRun dumb = RunOnPty(args, "dumb", 100, 0, tmp_);
    EXPECT_EQ(dumb.exitCode, 0) << dumb.err;
    EXPECT_TRUE(dumb.before.empty()) << dumb.err;
    EXPECT_EQ(dumb.err.find('\r'), std::string::npos) << dumb.err;
    EXPECT_TRUE(Contains(dumb.err, "Joined 1 file")) << dumb.err;
}

// Runs tandrel-join and gives its exit code and its peak resident memory in KB.
std::pair<int, long> RunMeasured(const std::vector<std::string> &args, const TempDir &tmp) {
    const pid_t pid =
        Start(args, tmp.File("log.txt.out"), tmp.File("log.txt"), {"TMPDIR=" + tmp.Path()});
    int status = 0;
    struct rusage usage {};
    if (pid <= 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status))
        return {-1, 0};
    return {WEXITSTATUS(status), usage.ru_maxrss};
}

TEST_F(CliJoin, MemoryStaysFlatAcrossALongRunOfZerosBetweenFrames) {
    const std::string mp3 = Synth(in_, "a.mp3", "-r 44100 -c 2", "2 sine 440");
    const std::string bytes = ReadFile(mp3);
    const std::string gap = in_.File("gap.mp3");
    WriteFile(gap, bytes.substr(0, bytes.size() / 2) + std::string(48 << 20, '\0') +
                       bytes.substr(bytes.size() / 2));
    const auto plain = RunMeasured({"-q", "-o", out_.File("a.wav"), mp3}, tmp_);
    const auto zeros = RunMeasured({"-q", "-o", out_.File("gap.wav"), gap}, tmp_);
    ASSERT_EQ(plain.first, 0);
    ASSERT_EQ(zeros.first, 0) << ReadFile(tmp_.File("log.txt"));
    EXPECT_LT(zeros.second - plain.second, 8 * 1024) << "KB more for the run of zeros";
    EXPECT_NEAR(ProbeDuration(out_.File("gap.wav")), 2.0, 0.06);
}

// Peak resident memory in KB of tandrel-join run with args, or -1 when it failed. Measured by
// /usr/bin/time, a small parent: a child's peak counts that of the process it was spawned from.
long PeakKb(const std::vector<std::string> &args, const TempDir &tmp) {
    std::string line = "/usr/bin/time -f %M -o " + Quote(tmp.File("peak")) + " " + Quote(Cli());
    for (const std::string &a : args)
        line += " " + Quote(a);
    const CommandResult r = Run(line + " 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.exitCode == 0 ? std::stol(ReadFile(tmp.File("peak"))) : -1;
}

// The widest step between accepted WAV rates: 1000 Hz raised to 768 kHz, 768 output frames per
// input frame, in both modes and channel counts.
TEST_F(CliJoin, RaisingTheLowestRateToTheHighestStaysInBoundedMemory) {
#ifdef TANDREL_SANITIZE
    GTEST_SKIP() << "the sanitizers' shadow memory is no measure of ours";
#endif
    for (const int channels : {1, 2}) {
        const std::string c = " -c " + std::to_string(channels) + " -b 16";
        const std::string low = Synth(in_, "low.wav", "-r 1000" + c, "2 sine 100");
        const std::string high = Synth(in_, "high.wav", "-r 768000" + c, "0.25 sine 1000");
        for (const std::string mode : {"repeat", "hq"}) {
            const std::string out = out_.File(mode + ".wav");
            const long kb =
                PeakKb({"-q", "--force", "--resample=" + mode, "-o", out, low, high}, tmp_);
            EXPECT_GT(kb, 0);
            EXPECT_LT(kb, 64 * 1024) << mode << ", " << channels << " channel(s)";
            EXPECT_EQ(FileSize(out) - 44, (1536000u + 192000u) * 2 * channels) << mode;
        }
    }
}

} // namespace
