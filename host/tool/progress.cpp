#include "tool/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace dof {

namespace {

int terminalWidth() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col;
    return 80;
}

// 0:42, 12:05, 1:02:03.
std::string clockTime(double seconds) {
    const long total = std::lround(seconds);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

}  // namespace

Progress::Progress(bool enabled, int frames, const std::string& method)
    : enabled_(enabled),
      frames_(frames),
      method_(method),
      start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() { finish(); }

bool Progress::stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::string Progress::line(const State& s, int width) {
    // Frames whose work is not announced yet are taken to cost the mean of
    // those that are.
    double fraction = s.frames > 0 ? double(s.framesDone) / s.frames : 1.0;
    if (s.framesKnown > 0 && s.workKnown > 0.0) {
        const double expected = s.workKnown + double(s.frames - s.framesWithout - s.framesKnown) *
                                                  (s.workKnown / s.framesKnown);
        fraction = s.workDone / expected;
    }
    if (!(fraction >= 0.0)) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    constexpr int kBar = 24;
    const int filled = int(fraction * kBar);
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", int(fraction * 100.0));
    std::string text = "[" + std::string(std::size_t(filled), '#') +
                       std::string(std::size_t(kBar - filled), '.') + "] " + percent + " " +
                       s.method + " " + std::to_string(s.framesDone) + "/" +
                       std::to_string(s.frames) + (s.frames == 1 ? " frame" : " frames");
    if (fraction > 0.0 && fraction < 1.0 && s.seconds > 0.0)
        text += " " + clockTime(s.seconds * (1.0 - fraction) / fraction) + " left";
    if (int(text.size()) > width - 1) text.resize(std::size_t(width - 1));
    return text;
}

void Progress::frameWork(int frame, double totalWork) {
    std::lock_guard<std::mutex> lock(mutex_);
    work_[frame].total = totalWork;
    draw(false);
}

void Progress::addWork(int frame, double work) {
    std::lock_guard<std::mutex> lock(mutex_);
    work_[frame].done += work;
    draw(false);
}

void Progress::frameDone(int frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    // A finished frame counts its whole work, also when it failed early.
    FrameWork& w = work_[frame];
    w.done = w.total;
    w.finished = true;
    ++framesDone_;
    draw(true);
}

void Progress::note(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (drawn_) std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "dof3d: %s\n", text.c_str());
    if (drawn_) draw(true);
    std::fflush(stderr);
}

void Progress::finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    if (drawn_) std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

void Progress::draw(bool force) {
    if (!enabled_ || finished_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    drawn_ = true;
    State s;
    s.framesDone = framesDone_;
    s.frames = frames_;
    s.method = method_;
    s.seconds = std::chrono::duration<double>(now - start_).count();
    for (const auto& w : work_) {
        if (w.second.total <= 0.0) {
            if (w.second.finished) ++s.framesWithout;
            continue;
        }
        ++s.framesKnown;
        s.workKnown += w.second.total;
        s.workDone += w.second.done < w.second.total ? w.second.done : w.second.total;
    }
    const std::string text = line(s, terminalWidth());
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
}

}  // namespace dof
