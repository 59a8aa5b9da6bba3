#include "util/temporary_registry.h"

#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace dof {

namespace {

// Two outputs for each of up to 64 frames at a time, and a few to spare.
constexpr int kSlots = 160;

enum SlotState : int { kFree, kFilling, kHeld };

struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};

Slot gSlots[kSlots];

}  // namespace

int rememberTemporary(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!gSlots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
        gSlots[i].state.store(kHeld);
        return i;
    }
    return -1;
}

void forgetTemporary(int slot) {
    if (slot >= 0 && slot < kSlots) gSlots[slot].state.store(kFree);
}

void removeRememberedTemporaries() {
    static_assert(std::atomic<int>::is_always_lock_free, "signal-safe slots");
    for (Slot& slot : gSlots)
        if (slot.state.load() == kHeld) unlink(slot.path);
}

}  // namespace dof
