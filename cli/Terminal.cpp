#include "cli/Terminal.h"

#include "audio/Probe.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace tandrel::cli {
namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) {
    g_stop = 1;
}

constexpr int kBarWidth = 30;

} // namespace

void InstallStopSignals() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

bool StopRequested() {
    return g_stop != 0;
}

void PrintError(const std::string &text, ProgressBar *bar) {
    if (bar)
        bar->Clear();
    std::fprintf(stderr, "tandrel-join: %s\n", text.c_str());
}

MsgAnswer StderrMessages::Show(const std::string &caption, const std::string &text, MsgIcon,
                               MsgButtons buttons) {
    // The engine's own captions add nothing on a terminal; an encoder's names its library.
    const bool plain =
        caption == "Error" || caption == "ERROR" || caption == kAppTitle || caption.empty();
    // A box's lines become one: "Cannot creat the output file: /x/out.wav: No space left".
    std::string joined;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        if (!joined.empty()) {
            if (joined.back() == '.')
                joined.pop_back();
            joined += ": ";
        }
        joined += text.substr(at, end - at);
        at = end + 1;
    }
    const std::string line = plain ? joined : caption + ": " + joined;
    if (collecting_)
        collected_.push_back(line);
    else
        PrintError(line, bar_);
    return buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
}

std::vector<std::string> StderrMessages::TakeCollected() {
    std::vector<std::string> out;
    out.swap(collected_);
    return out;
}

ProgressBar::ProgressBar(std::vector<std::uint32_t> seconds, bool draw)
    : seconds_(std::move(seconds)), draw_(draw), start_(std::chrono::steady_clock::now()) {
    for (std::uint32_t s : seconds_)
        totalSeconds_ += s;
}

void ProgressBar::SetLabel(const std::string &text) {
    if (index_ + 1 < int(seconds_.size())) {
        if (index_ >= 0)
            doneSeconds_ += seconds_[index_];
        ++index_;
    }
    label_ = FileNameOf(text);
    percent_ = 0;
    Draw(false);
}

void ProgressBar::Progress1(int percent) {
    percent_ = percent;
    Draw(false);
}

bool ProgressBar::ProcessEventsAndShouldStop() {
    return StopRequested();
}

void ProgressBar::Draw(bool force) {
    if (!draw_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && shown_ && now - lastDraw_ < std::chrono::milliseconds(100))
        return;
    lastDraw_ = now;
    const double current =
        index_ >= 0 && std::size_t(index_) < seconds_.size() ? seconds_[index_] : 0;
    const double done = doneSeconds_ + current * percent_ / 100.0;
    const double whole = totalSeconds_ ? done / double(totalSeconds_) : 0;
    const int filled = int(whole * kBarWidth);
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    char bar[kBarWidth + 1];
    for (int i = 0; i < kBarWidth; ++i)
        bar[i] = i < filled ? '#' : '-';
    bar[kBarWidth] = 0;
    std::string name = label_;
    if (name.size() > 32)
        name = "..." + name.substr(name.size() - 29);
    std::fprintf(stderr, "\r\033[K[%s] %3d%%  %d/%zu %s", bar, int(whole * 100), index_ + 1,
                 seconds_.size(), name.c_str());
    if (elapsed > 0.2 && done > 0)
        std::fprintf(stderr, "  %.1fx", done / elapsed);
    std::fflush(stderr);
    shown_ = true;
}

void ProgressBar::Clear() {
    if (shown_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        shown_ = false;
    }
}

} // namespace tandrel::cli
