// When the splatting pass asks the host whether to stop.
#pragma once

#include <cstdint>
#include <ctime>

#include "host/HostTypes.h"

// The host is asked at most once per this many clock ticks.
constexpr QVULong kAbortPollTicks = 100;

// Whether more than kAbortPollTicks have passed from `last` to `now`. The
// ticks are an unsigned 32-bit difference, formed without signed arithmetic:
// a clock that wraps past its top still counts forward, and one that steps
// back counts as a long wait.
inline bool abort_poll_due(std::clock_t last, std::clock_t now) {
    const QVULong ticks = QVULong(std::uint64_t(now) - std::uint64_t(last));
    return ticks > kAbortPollTicks;
}
