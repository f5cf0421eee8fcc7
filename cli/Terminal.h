#pragma once

#include "common/Messages.h"
#include "join/JoinPipeline.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tandrel::cli {

// SIGINT, SIGTERM and SIGHUP only raise a flag; the join polls it after every block. One
// that was ignored when the program started stays ignored.
void InstallStopSignals();
bool StopRequested();

class ProgressBar;

// Messages of the engine as plain lines on standard error: "tandrel-join: text".
class StderrMessages : public MessageSink {
public:
    MsgAnswer Show(const std::string &caption, const std::string &text, MsgIcon icon,
                   MsgButtons buttons) override;
    // While collecting, messages are kept for the caller instead of printed.
    void Collect(bool on) { collecting_ = on; }
    std::vector<std::string> TakeCollected();
    void SetBar(ProgressBar *bar) { bar_ = bar; }

private:
    bool collecting_ = false;
    std::vector<std::string> collected_;
    ProgressBar *bar_ = nullptr;
};

// The text with control characters (a newline, an escape, C1 controls) shown as '?', so that
// a name in a message can neither split its line nor steer the terminal.
std::string Printable(const std::string &text);

// Prints "tandrel-join: text" on standard error, clearing the progress bar first; the text
// as Printable gives it.
void PrintError(const std::string &text, ProgressBar *bar = nullptr);

// The join's progress: a bar on standard error when it is a terminal, and the stop flag. The
// line fits the terminal's width and follows its changes (SIGWINCH).
class ProgressBar : public JoinProgress {
public:
    // seconds: playing time of each input in join order, to weigh the bar. draw: standard
    // error is a terminal; nothing is drawn either when TERM is "dumb".
    ProgressBar(std::vector<std::uint32_t> seconds, bool draw);
    void SetLabel(const std::string &text) override;
    void Progress1(int percent) override;
    void Progress2(int) override {}
    bool ProcessEventsAndShouldStop() override;
    // Removes the bar from the terminal.
    void Clear();

private:
    void Draw(bool force);

    std::vector<std::uint32_t> seconds_;
    std::uint64_t totalSeconds_ = 0;
    std::uint64_t doneSeconds_ = 0; // of the inputs before the current one
    int index_ = -1;
    int percent_ = 0;
    std::string label_;
    bool draw_;
    bool shown_ = false;
    int width_ = 80;
    std::chrono::steady_clock::time_point start_, lastDraw_;
};

} // namespace tandrel::cli
