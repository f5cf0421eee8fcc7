#pragma once

#include "TestUtil.h"

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace clitest {

inline std::string Cli() {
    return testutil::BinDir() + "/tandrel-join";
}

struct CliResult {
    int exitCode = -1;
    std::string out; // standard output
    std::string err; // standard error
};

// Runs tandrel-join with the arguments, from the folder cwd.
inline CliResult RunCli(const std::string &cwd, std::vector<std::string> args) {
    testutil::TempDir capture;
    std::string line = "(cd " + testutil::Quote(cwd) + " && " + testutil::Quote(Cli());
    for (const std::string &a : args)
        line += " " + testutil::Quote(a);
    line += ") >" + capture.File("out") + " 2>" + capture.File("err");
    CliResult r;
    r.exitCode = testutil::Run("(" + line + ")").exitCode;
    r.out = testutil::ReadFile(capture.File("out"));
    r.err = testutil::ReadFile(capture.File("err"));
    return r;
}

inline bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

using testutil::Listing;

// Runs python3 code over the JSON document in file, loaded as d; what it prints.
inline std::string Python(const std::string &file, const std::string &code) {
    return testutil::Run("python3 -c " +
                         testutil::Quote("import json, os, sys\n"
                                         "d = json.load(open(sys.argv[1], encoding='utf-8'))\n" +
                                         code) +
                         " " + testutil::Quote(file) + " 2>&1")
        .output;
}

// Whether the process pid has a file open in folder (an unnamed one included): the join's
// output is under way.
inline bool WritesInto(int pid, const std::string &folder) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    DIR *dir = opendir(fds.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (dirent *e = readdir(dir)) {
        char target[4096];
        const ssize_t n = readlink((fds + "/" + e->d_name).c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, std::size_t(n)).rfind(folder + "/", 0) == 0)
            found = true;
    }
    closedir(dir);
    return found;
}

// Makes a file with sox's synth (arguments after the output name), or fails the test.
inline std::string Synth(const testutil::TempDir &dir, const std::string &name,
                         const std::string &format, const std::string &synth) {
    const std::string path = dir.File(name);
    testutil::Run("sox -n " + format + " " + testutil::Quote(path) + " synth " + synth);
    return path;
}

// Starts tandrel-join with the environment's variables replaced by vars ("NAME=value") and
// its standard streams arranged by redirect, in cwd when given, with the stop signals at
// their defaults but for keep; returns its pid, or -1.
inline pid_t SpawnWith(const std::vector<std::string> &args, const std::vector<std::string> &vars,
                       const std::function<void(posix_spawn_file_actions_t &)> &redirect,
                       const std::string &cwd = "", int keep = 0) {
    std::vector<std::string> argv{Cli()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> cargv;
    for (std::string &a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    std::vector<std::string> env = vars;
    for (char **e = environ; *e; ++e) {
        const std::string entry(*e);
        const bool replaced = std::any_of(vars.begin(), vars.end(), [&](const std::string &v) {
            return entry.compare(0, v.find('=') + 1, v, 0, v.find('=') + 1) == 0;
        });
        if (!replaced)
            env.push_back(entry);
    }
    std::vector<char *> cenv;
    for (std::string &e : env)
        cenv.push_back(e.data());
    cenv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    redirect(actions);
    if (!cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    // SIGINT, SIGTERM and SIGHUP (all but keep) start at their defaults, even where the tests
    // run with them ignored.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        if (sig != keep)
            sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    if (posix_spawn(&pid, cargv[0], &actions, &attr, cargv.data(), cenv.data()) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Starts tandrel-join with standard output and error into files (or standard output onto
// outFd), the variables vars set, in cwd when given, the stop signals at their defaults but for
// keep; its pid, or -1. outFlags: how standard output is opened besides for writing.
inline pid_t Start(const std::vector<std::string> &args, const std::string &out,
                   const std::string &err, const std::vector<std::string> &vars = {},
                   const std::string &cwd = "", int keep = 0, int outFlags = O_TRUNC,
                   int outFd = -1) {
    return SpawnWith(
        args, vars,
        [&](posix_spawn_file_actions_t &actions) {
            if (outFd >= 0)
                posix_spawn_file_actions_adddup2(&actions, outFd, 1);
            else
                posix_spawn_file_actions_addopen(&actions, 1, out.c_str(),
                                                 O_WRONLY | O_CREAT | outFlags, 0600);
            posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                             0600);
        },
        cwd, keep);
}

// Polls until done holds; false once seconds have passed.
inline bool WaitUntil(const std::function<bool()> &done, int seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Waits up to seconds for pid to exit; its exit code, or -1 when a signal ended it or when it
// had to be killed for lasting too long.
inline int ExitCode(pid_t pid, int seconds = 120) {
    int status = 0;
    if (!WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, seconds)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Where each frame of an MPEG-1 layer III file starts, after an ID3v2 tag, as its headers'
// bitrates and padding bits say; up to the first byte that is no header.
inline std::vector<std::size_t> Mp3FrameStarts(const std::string &b) {
    static const int kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int rates[] = {44100, 48000, 32000};
    auto byte = [&](std::size_t i) { return std::size_t(std::uint8_t(b[i])); };
    std::size_t at = 0;
    if (b.compare(0, 3, "ID3") == 0)
        at = 10 + ((byte(6) << 21) | (byte(7) << 14) | (byte(8) << 7) | byte(9));
    std::vector<std::size_t> starts;
    while (at + 4 <= b.size() && byte(at) == 0xFF && (byte(at + 2) >> 4) % 15 != 0 &&
           ((byte(at + 2) >> 2) & 3) != 3) {
        starts.push_back(at);
        const std::size_t bits = byte(at + 2);
        at += 144000 * std::size_t(kbps[bits >> 4]) / std::size_t(rates[(bits >> 2) & 3]) +
              ((bits >> 1) & 1);
    }
    return starts;
}

} // namespace clitest
