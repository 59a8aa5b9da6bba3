// A one-line progress bar on a terminal: frames done, and the pass each
// running frame is in. Silent when standard error is not a terminal.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace dof3d {

class Progress {
public:
    Progress(bool enabled, int frames);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    static bool stderrIsTerminal();

    // A frame's render reached call `call` of `calls` of `pass` (0 to 4).
    void pass(int frame, int pass, int call, int calls);
    // The work a frame's render will do (splat taps and pixels of passes),
    // and work done since the last report; thread-safe. A frame with
    // announced work shows the share of it that is done.
    void frameWork(int frame, double totalWork);
    void addWork(int frame, double work);
    void frameDone(int frame);
    // Removes the bar, so that messages after it start on a clean line.
    void finish();

    // The line for a state, without drawing it: exposed for tests.
    static std::string line(int done, int total, const std::map<int, double>& running,
                            const std::map<int, int>& passes, int width);

private:
    void draw(bool force);

    std::mutex mutex_;
    bool enabled_;
    int total_;
    int done_ = 0;
    std::map<int, double> running_;                  // frame -> fraction done
    std::map<int, int> passes_;                      // frame -> pass
    std::map<int, std::pair<double, double>> work_;  // frame -> done, total
    std::chrono::steady_clock::time_point lastDraw_;
    bool drawn_ = false;
};

}  // namespace dof3d
