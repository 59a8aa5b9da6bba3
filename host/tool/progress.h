// A one-line progress bar on a terminal, weighted by the work of each frame
// (pixels visited and splat taps written), with the method and the time
// left; messages print above it. Off a terminal only the messages print.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "render/frame_render.h"

namespace dof {

class Progress : public WorkReport {
public:
    // `frames` to render with `method` ("box" or "splat").
    Progress(bool enabled, int frames, const std::string& method);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    static bool stderrIsTerminal();

    // Announces the whole work of a frame; a later call replaces it.
    void frameWork(int frame, double totalWork) override;
    // Adds work done on a frame. Safe from any thread, as are the others.
    void addWork(int frame, double work) override;
    void frameDone(int frame);
    // Prints a line on standard error, above the bar.
    void note(const std::string& line);
    // Removes the bar, so that what follows starts on a clean line.
    void finish();

    // What the bar shows.
    struct State {
        int framesDone = 0, frames = 0;
        int framesKnown = 0;     // frames whose work is announced (done ones included)
        int framesWithout = 0;   // frames done without announcing any (failed early)
        double workKnown = 0.0;  // their announced work
        double workDone = 0.0;
        double seconds = 0.0;  // since the start
        std::string method;
    };
    // The line for a state, cut to `width` columns: exposed for tests.
    static std::string line(const State& state, int width);

private:
    void draw(bool force);

    struct FrameWork {
        double total = 0.0, done = 0.0;
        bool finished = false;
    };

    std::mutex mutex_;
    bool enabled_;
    int frames_;
    int framesDone_ = 0;
    std::string method_;
    std::map<int, FrameWork> work_;  // frames started or done
    std::chrono::steady_clock::time_point start_, lastDraw_;
    bool drawn_ = false;
    bool finished_ = false;
};

}  // namespace dof
