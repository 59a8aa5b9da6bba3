#include "util/interrupt.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

#include "util/temporary_registry.h"

namespace dof {

namespace {

std::atomic<int> gSignal{0};
struct sigaction gPreviousInt, gPreviousTerm, gPreviousAlarm;
bool gInstalled = false;

// How long a run may take to stop on its own once asked.
constexpr unsigned kGraceSeconds = 20;

// Ends the program at once by `signal`, leaving no temporary file of an
// unfinished write behind.
void endNow(int signal) {
    removeRememberedTemporaries();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

extern "C" void onInterrupt(int signal) {
    int expected = 0;
    if (gSignal.compare_exchange_strong(expected, signal))
        alarm(kGraceSeconds);  // a run stuck in a wait still ends
    else
        endNow(signal);  // asked twice: stop waiting for the renders
}

extern "C" void onGraceOver(int) {
    // The one line of a run that could not stop in time; write() is what a
    // signal handler may print with.
    static const char line[] =
        "dof3d: interrupted: still busy 20 s after the request, stopped at once; frames in "
        "progress were not written\n";
    static_assert(kGraceSeconds == 20, "the line names the grace period");
    if (write(STDERR_FILENO, line, sizeof line - 1) < 0) {
        // Nothing to do: the program ends either way.
    }
    endNow(gSignal.load());
}

}  // namespace

void installInterruptHandlers() {
    static_assert(std::atomic<int>::is_always_lock_free, "signal-safe flag");
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &gPreviousInt);
    sigaction(SIGTERM, &action, &gPreviousTerm);
    action.sa_handler = onGraceOver;
    sigaction(SIGALRM, &action, &gPreviousAlarm);
    gInstalled = true;
}

void restoreInterruptHandlers() {
    if (!gInstalled) return;
    sigaction(SIGINT, &gPreviousInt, nullptr);
    sigaction(SIGTERM, &gPreviousTerm, nullptr);
    alarm(0);
    sigaction(SIGALRM, &gPreviousAlarm, nullptr);
    gInstalled = false;
}

bool interruptRequested() { return gSignal.load() != 0; }

int interruptExitStatus() {
    const int signal = gSignal.load();
    return signal != 0 ? 128 + signal : 0;
}

}  // namespace dof
