// Status byte of the effect's handlers and engines.
#pragma once

// Dispatchers turn kStatusDone into the host result 1 and anything else into 0.
enum FilterStatus : unsigned char {
    kStatusDone = 0,
    kStatusOutOfMemory = 2,
    kStatusMissingCapability = 3,
    kStatusUnknownPassOrMode = 4,
};
