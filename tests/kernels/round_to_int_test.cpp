#include "kernels/round_to_int.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

namespace {

// The integer's low 32 bits read as a signed value, worked out with integer
// arithmetic only.
std::int32_t low32(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

struct RoundCase {
    double value;
    std::int64_t nearest;  // the nearest integer, halves to even, exact
    const char* why;
};

const RoundCase kRoundCases[] = {
    {0.0, 0, "zero"},
    {-0.0, 0, "negative zero"},
    {1e-300, 0, "tiny positive"},
    {0.4999999999999999, 0, "just below a half"},
    {0.5, 0, "half to even 0"},
    {1.5, 2, "half to even 2"},
    {2.5, 2, "half to even 2 from above"},
    {3.5, 4, "half to even 4"},
    {-0.5, 0, "negative half to even 0"},
    {-1.5, -2, "negative half to even -2"},
    {-2.5, -2, "negative half to even -2 from below"},
    {1.2, 1, "fraction down"},
    {-0.7, -1, "negative fraction to nearest"},
    {-254.6, -255, "negative, rounds away from zero"},
    {255.49, 255, "byte top"},
    {2147483647.0, 2147483647, "largest int32"},
    {2147483647.5, 2147483648, "half above largest int32: wraps to the smallest"},
    {2147483648.0, 2147483648, "2^31 wraps"},
    {2147483649.5, 2147483650, "2^31 + 1.5, half to even, wraps"},
    {-2147483648.0, -2147483648, "smallest int32"},
    {-2147483648.5, -2147483648, "half below smallest int32, to even"},
    {4294967295.0, 4294967295, "2^32 - 1: low bits all set"},
    {4294967301.0, 4294967301, "2^32 + 5: low bits 5"},
    {-4294967296.0, -4294967296, "-2^32, bottom of the exact range"},
    {1099511627779.0, 1099511627779, "2^40 + 3"},
    {4503595332403199.0, 4503595332403199, "2^52 - 2^32 - 1, top of the exact range"},
};

void PrintTo(const RoundCase& c, std::ostream* os) { *os << c.why; }

class RoundToInt : public ::testing::TestWithParam<RoundCase> {};

TEST_P(RoundToInt, GivesLow32BitsOfNearestEvenInteger) {
    const RoundCase& c = GetParam();
    EXPECT_EQ(round_to_int(c.value), low32(c.nearest)) << c.why;
}

INSTANTIATE_TEST_SUITE_P(Table, RoundToInt, ::testing::ValuesIn(kRoundCases));

}  // namespace
