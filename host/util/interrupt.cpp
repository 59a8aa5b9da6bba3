#include "util/interrupt.h"

#include <atomic>
#include <csignal>

#include "util/temporary_registry.h"

namespace dof {

namespace {

std::atomic<int> gSignal{0};
struct sigaction gPreviousInt, gPreviousTerm;
bool gInstalled = false;

extern "C" void onInterrupt(int signal) {
    int expected = 0;
    if (!gSignal.compare_exchange_strong(expected, signal)) {
        // Asked twice: stop waiting for the renders, leaving no temporary
        // file of an unfinished write behind.
        removeRememberedTemporaries();
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
}

}  // namespace

void installInterruptHandlers() {
    static_assert(std::atomic<int>::is_always_lock_free, "signal-safe flag");
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &gPreviousInt);
    sigaction(SIGTERM, &action, &gPreviousTerm);
    gInstalled = true;
}

void restoreInterruptHandlers() {
    if (!gInstalled) return;
    sigaction(SIGINT, &gPreviousInt, nullptr);
    sigaction(SIGTERM, &gPreviousTerm, nullptr);
    gInstalled = false;
}

bool interruptRequested() { return gSignal.load() != 0; }

int interruptExitStatus() {
    const int signal = gSignal.load();
    return signal != 0 ? 128 + signal : 0;
}

}  // namespace dof
