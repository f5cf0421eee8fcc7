#pragma once

#include "TestUtil.h"

#include <dirent.h>

#include <algorithm>
#include <string>
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

// Makes a file with sox's synth (arguments after the output name), or fails the test.
inline std::string Synth(const testutil::TempDir &dir, const std::string &name,
                         const std::string &format, const std::string &synth) {
    const std::string path = dir.File(name);
    testutil::Run("sox -n " + format + " " + testutil::Quote(path) + " synth " + synth);
    return path;
}

} // namespace clitest
