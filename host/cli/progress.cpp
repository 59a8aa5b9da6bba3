#include "cli/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "host/Selectors.h"

namespace dof3d {

namespace {

const char* passName(int pass) {
    static const char* const names[] = {"allocate", "radius map", "tables", "splat", "output"};
    return pass >= 0 && pass < int(kRenderPassCount) ? names[pass] : "?";
}

int terminalWidth() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col;
    return 80;
}

}  // namespace

Progress::Progress(bool enabled, int frames) : enabled_(enabled), total_(frames) {}

Progress::~Progress() { finish(); }

bool Progress::stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::string Progress::line(int done, int total, const std::map<int, double>& running,
                           const std::map<int, int>& passes, int width) {
    double fraction = done;
    for (const auto& r : running) fraction += r.second;
    fraction = total > 0 ? fraction / total : 1.0;
    if (fraction > 1.0) fraction = 1.0;
    constexpr int kBar = 24;
    const int filled = int(fraction * kBar);
    std::string text = "[" + std::string(std::size_t(filled), '#') +
                       std::string(std::size_t(kBar - filled), '.') + "] ";
    text +=
        std::to_string(done) + "/" + std::to_string(total) + (total == 1 ? " frame" : " frames");
    for (const auto& p : passes) {
        const auto r = running.find(p.first);
        const int percent = r != running.end() ? int(r->second * 100.0) : 0;
        text += " | " + std::to_string(p.first) + " " + passName(p.second) + " " +
                std::to_string(percent) + "%";
    }
    if (int(text.size()) > width - 1) text.resize(std::size_t(width - 1));
    return text;
}

void Progress::pass(int frame, int pass, int call, int calls) {
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    // Five passes per frame; within a pass, the share of its calls made.
    running_[frame] = (pass + (calls > 0 ? double(call) / calls : 0.0)) / int(kRenderPassCount);
    passes_[frame] = pass;
    draw(false);
}

void Progress::frameDone(int frame) {
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    running_.erase(frame);
    passes_.erase(frame);
    ++done_;
    draw(true);
}

void Progress::finish() {
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (drawn_) std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

void Progress::draw(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    drawn_ = true;
    const std::string text = line(done_, total_, running_, passes_, terminalWidth());
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
}

}  // namespace dof3d
