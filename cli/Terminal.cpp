#include "cli/Terminal.h"

#include "audio/Probe.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tandrel::cli {
namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) {
    g_stop = 1;
}

volatile std::sig_atomic_t g_resized = 0;

extern "C" void OnResize(int) {
    g_resized = 1;
}

constexpr int kBarWidth = 30;    // the widest bar
constexpr int kMinBarWidth = 10; // narrower than this, the bar is left out
constexpr int kNameRoom = 20;    // columns the name keeps before the bar is narrowed

// Standard error's width in columns, or 80 when it cannot be told.
int TerminalWidth() {
    struct winsize size;
    std::memset(&size, 0, sizeof size);
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// Columns a character takes on a terminal: 2 for the wide East Asian ranges and emoji, 0 for
// combining marks, 1 otherwise.
int Columns(char32_t c) {
    if ((c >= 0x300 && c <= 0x36F) || (c >= 0x200B && c <= 0x200F) || (c >= 0xFE20 && c <= 0xFE2F))
        return 0;
    if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
        (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
        (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
        (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
        (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD))
        return 2;
    return 1;
}

// One character of a name as shown: its bytes and its columns.
struct Shown {
    std::string bytes;
    int columns;
};

// Splits a name (any bytes) into whole UTF-8 characters. A byte that does not start a valid
// sequence, and a control character, are shown as '?', so the line stays one valid line.
std::vector<Shown> Characters(const std::string &name) {
    std::vector<Shown> out;
    const auto *s = reinterpret_cast<const unsigned char *>(name.data());
    const std::size_t n = name.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = s[i];
        std::size_t len = 0;
        char32_t c = 0, least = 0;
        if (b < 0x80) {
            len = 1;
            c = b;
        } else if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
            c = b & 0x1F;
            least = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            c = b & 0x0F;
            least = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            c = b & 0x07;
            least = 0x10000;
        }
        bool valid = len > 0 && i + len <= n;
        for (std::size_t k = 1; valid && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                c = (c << 6) | (s[i + k] & 0x3F);
        }
        if (valid && (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)))
            valid = false;
        if (!valid || c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            out.push_back({"?", 1});
            i += valid ? len : 1;
            continue;
        }
        out.push_back({name.substr(i, len), Columns(c)});
        i += len;
    }
    return out;
}

// The name in at most room columns: its end, after "...", when it is longer; cut only
// between whole characters.
std::string FitName(const std::string &name, int room) {
    const std::vector<Shown> chars = Characters(name);
    int total = 0;
    for (const Shown &c : chars)
        total += c.columns;
    std::string out;
    if (total <= room) {
        for (const Shown &c : chars)
            out += c.bytes;
        return out;
    }
    if (room < 4)
        return {};
    std::size_t first = chars.size();
    for (int used = 3; first > 0 && used + chars[first - 1].columns <= room; --first)
        used += chars[first - 1].columns;
    out = "...";
    for (std::size_t i = first; i < chars.size(); ++i)
        out += chars[i].bytes;
    return out;
}

// "1:05" or "1:02:05".
std::string Clock(double seconds) {
    const long s = long(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// The progress line for a terminal of width columns, in at most width - 1 columns so that the
// cursor never wraps: "[####----] 42%  2/5 name  1.5x  0:12 left". What does not fit is left
// out: first the bar, then the speed, then the time left; the name is shortened first.
std::string Line(int width, double fraction, double elapsed, double doneSeconds, int index,
                 std::size_t count, const std::string &name) {
    const int room = std::max(width - 1, 0);
    char text[64];
    std::snprintf(text, sizeof text, "%3d%%  %d/%zu", int(fraction * 100), index + 1, count);
    const std::string core = text;
    std::string speed, left;
    if (elapsed > 0.2 && doneSeconds > 0) {
        std::snprintf(text, sizeof text, "  %.1fx", doneSeconds / elapsed);
        speed = text;
    }
    // The time left needs some progress to go by: none before 1 % and half a second.
    if (elapsed >= 0.5 && fraction >= 0.01 && fraction < 1)
        left = "  " + Clock(elapsed * (1 - fraction) / fraction) + " left";
    if (int(core.size()) >= room)
        return core.substr(0, std::size_t(room));
    if (int(core.size() + speed.size() + left.size()) > room)
        speed.clear();
    if (int(core.size() + left.size()) > room)
        left.clear();
    int rest = room - int(core.size() + speed.size() + left.size());
    const int barWidth = std::min(kBarWidth, rest - 3 - kNameRoom);
    std::string line;
    if (barWidth >= kMinBarWidth) {
        const int filled = int(fraction * barWidth);
        line = "[" + std::string(std::size_t(filled), '#') +
               std::string(std::size_t(barWidth - filled), '-') + "] ";
        rest -= barWidth + 3;
    }
    line += core;
    const std::string shown = FitName(name, rest - 1);
    if (!shown.empty())
        line += " " + shown;
    return line + speed + left;
}

// Handlers that only raise a flag; interrupted system calls resume.
void SetFlagHandler(int signal, void (*handler)(int)) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

} // namespace

void InstallStopSignals() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored from the start (nohup, a background job) stays ignored.
        struct sigaction old;
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        SetFlagHandler(signal, OnStopSignal);
    }
}

bool StopRequested() {
    return g_stop != 0;
}

std::string Printable(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        // C1 controls in UTF-8 (0xC2 0x80..0x9F) are escapes to a terminal as well.
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
        if (c < 0x20 || c == 0x7F) {
            out += '?';
        } else if (c1) {
            out += '?';
            ++i;
        } else {
            out += char(c);
        }
    }
    return out;
}

void PrintError(const std::string &text, ProgressBar *bar) {
    if (bar)
        bar->Clear();
    std::fprintf(stderr, "tandrel-join: %s\n", Printable(text).c_str());
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
    const char *term = std::getenv("TERM");
    if (term && std::strcmp(term, "dumb") == 0)
        draw_ = false;
    if (!draw_)
        return;
    SetFlagHandler(SIGWINCH, OnResize);
    width_ = TerminalWidth();
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
    if (g_resized) {
        g_resized = 0;
        width_ = TerminalWidth();
    }
    const double current =
        index_ >= 0 && std::size_t(index_) < seconds_.size() ? seconds_[index_] : 0;
    const double done = doneSeconds_ + current * percent_ / 100.0;
    const double whole = totalSeconds_ ? std::min(done / double(totalSeconds_), 1.0) : 0;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const std::string line = Line(width_, whole, elapsed, done, index_, seconds_.size(), label_);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
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
