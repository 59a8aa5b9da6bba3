// Conversion of a double to a 32-bit integer shared by the renderer and the
// blur routines.
#pragma once

#include <cstdint>
#include <cstring>

// Adding 2^52 + 2^32 puts the rounded value in the low 32 bits of the sum's
// bit pattern: nearest integer, halves to the even neighbour, exact for values
// between -2^32 and 2^52 - 2^32. It needs no library call and no change of the
// rounding mode.
inline std::int32_t round_to_int(double value) {
    const double shifted = value + 4503603922337792.0;
    std::uint64_t bits;
    std::memcpy(&bits, &shifted, sizeof bits);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
}
