// Status of the effect's handlers and engines.
#pragma once

#include <cstdint>

// 32 bits wide: an engine's Render hands it to the host as a 32-bit unsigned
// value, and the handlers pass on its low byte. Dispatchers turn kStatusDone
// into the host result 1 and anything else into 0.
enum FilterStatus : std::uint32_t {
    kStatusDone = 0,
    kStatusOutOfMemory = 2,
    kStatusMissingCapability = 3,
    kStatusUnknownPassOrMode = 4,  // also: a pass asked of an instance without an engine
};
