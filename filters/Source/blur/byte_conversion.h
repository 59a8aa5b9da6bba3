// The conversions with which the line blurs store a computed value as a byte.
// None of them clamps: the low 8 bits are kept, so 256 is stored as 0.
#pragma once

#include <cstdint>

#include "kernels/round_to_int.h"

namespace dof::line_blur {

// Nearest integer, halves to the even neighbour.
inline unsigned char roundedByte(double value) {
    return static_cast<unsigned char>(round_to_int(value));
}

// A 16.16 sum of table products: adding 32767 before the shift rounds to the
// nearest integer with an exact half going down.
inline unsigned char fixedPointByte(std::uint32_t sum) {
    return static_cast<unsigned char>((sum + 32767u) >> 16);
}

// 2^-16 / W: turns a 16.16 sum of table products over a cut window into a
// byte-scale value renormalised by the weights W of the taps that remain.
inline double fixedPointScale(double weightSum) { return 1.52587890625e-05 / weightSum; }

}  // namespace dof::line_blur
