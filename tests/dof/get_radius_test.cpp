#include "dof/get_radius.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <vector>

#include "host/Parameters.h"
#include "support/effect_fixture.h"

namespace {

std::uint64_t bits(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// The stated steps for a depth d that needs no clamping, with the literal
// values of the case: q = -1 / d, then |1 / F + q| / q.
double byHand(double F, double d) {
    const double q = -1.0 / d;
    return std::fabs(1.0 / F + q) / q;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct RadiusCase {
    double F;  // focalDepth
    double N;  // focusRangeDepth
    float depth;
    double expected;  // compared bit for bit; a NaN only as a NaN
    const char* why;
};

const std::vector<RadiusCase>& radiusCases() {
    static const std::vector<RadiusCase> cases = {
        // Zone on: F = -10, N = -20.
        {-10.0, -20.0, -15.0f, 0.0, "inside the zone"},
        {-10.0, -20.0, -19.99f, 0.0, "just inside the far end"},
        {-10.0, -20.0, -20.0f, 0.0, "at the far end: shifted onto F"},
        {-10.1, double(-20.3f), -20.3f, byHand(-10.1, double(-10.1f)),
         "at the far end (strict test): shifted onto F rounded to float, not quite sharp"},
        {-10.0, -20.0, -25.0f, byHand(-10.0, -15.0), "behind the zone, shifted to -15"},
        {-10.0, -20.0, -40.0f, 1.0, "shifted to -30: |1 - 3| clamped"},
        {-10.0, -20.0, -10.0f, 0.0, "at the focal depth"},
        {-10.0, -20.0, -5.0f, 0.5, "in front of F the zone plays no part"},
        // Zone off: N nearer than F.
        {-10.0, -5.0, -15.0f, byHand(-10.0, -15.0), "0.5 up to rounding"},
        {-10.0, -5.0, -5.0f, 0.5, "halfway to the viewer"},
        {-10.0, -5.0, -30.0f, 1.0, "beyond twice F: clamped"},
        {-10.0, -5.0, -12.0f, byHand(-10.0, -12.0), "0.2 up to rounding"},
        {-10.0, -5.0, -17.0f, byHand(-10.0, -17.0), "0.7 up to rounding"},
        {-10.0, -5.0, -10.0f, 0.0, "d = F"},
        // The initial parameter values: F = -1, N = 0 (zone off).
        {-1.0, 0.0, -1.0f, 0.0, "d = F"},
        {-1.0, 0.0, -0.5f, 0.5, "exact: q = 2, |-1 + 2| / 2"},
        {-1.0, 0.0, -2.0f, 1.0, "twice F"},
        {-1.0, 0.0, -4.0f, 1.0, "beyond twice F"},
        // Behind the viewer.
        {-10.0, -20.0, 5.0f, 0.0, "positive depth, zone on"},
        {-10.0, -5.0, 0.25f, 0.0, "positive depth, zone off"},
        // Depth exactly zero: the division yields a non-number, passed on.
        {-10.0, -20.0, 0.0f, kNaN, "depth 0"},
        {-10.0, -5.0, -0.0f, kNaN, "depth -0"},
        {0.0, 0.0, 0.0f, kNaN, "depth 0 with F = 0"},
        // F = 0 with N = 0: zone off and 1 / F infinite.
        {0.0, 0.0, -1.0f, 1.0, "F = 0"},
        {0.0, 0.0, -1000.0f, 1.0, "F = 0, far"},
        {0.0, 0.0, -1e-30f, 1.0, "F = 0, near"},
        {0.0, 0.0, -3.0e38f, 1.0, "F = 0, farthest float"},
        // F = 0 with the zone on (N farther).
        {0.0, -5.0, -3.0f, 0.0, "inside the zone in front of F = 0"},
        {0.0, -5.0, -10.0f, 1.0, "shifted to -5, 1 / F infinite"},
        // Single-precision rounding of the shifted depth. F = -4 and
        // N = -4 - 2^-24: -8 + 2^-24 rounds to -8 in float, so q = 0.125
        // and the result is exactly 1.0 (in double it stays below 1).
        {-4.0, -4.0 - 0x1p-24, -8.0f, 1.0, "shifted depth rounds to twice F"},
        // N = -4 - 3 * 2^-23, d = -4 - 2^-21: the shift gives -4 - 2^-23,
        // which rounds to -4 = F in float, so the result is exactly 0.
        {-4.0, -4.0 - 0x3p-23, -0x1.000002p+2f, 0.0, "shifted depth rounds onto F"},
    };
    return cases;
}

void PrintTo(const RadiusCase& c, std::ostream* os) {
    *os << "F " << c.F << ", N " << c.N << ", depth " << c.depth << ": " << c.why;
}

class GetRadius : public doftest::HostAllocTest,
                  public ::testing::WithParamInterface<RadiusCase> {};

TEST_P(GetRadius, GivesBlurFractionBitForBit) {
    const RadiusCase& c = GetParam();
    Parameters params{};
    params.focalDepth = c.F;
    params.focusRangeDepth = c.N;
    params.radius = 33.0;
    params.mode = 2.0;
    const Parameters before = params;

    const double r = get_radius(c.depth, &params);
    if (std::isnan(c.expected)) {
        EXPECT_TRUE(std::isnan(r)) << c.why << ": got " << r;
    } else {
        EXPECT_EQ(bits(r), bits(c.expected))
            << c.why << ": got " << r << ", expected " << c.expected;
    }
    EXPECT_EQ(std::memcmp(&params, &before, sizeof params), 0) << "writes nothing: " << c.why;
}

INSTANTIATE_TEST_SUITE_P(Table, GetRadius, ::testing::ValuesIn(radiusCases()));

class GetRadiusCases : public doftest::HostAllocTest {};

TEST_F(GetRadiusCases, SumIsFormedBeforeTheDivision) {
    // d = -15, F = -10: the stated order gives one ulp above 0.5, where
    // |1 - d / F| would give 0.5 exactly.
    EXPECT_EQ(bits(byHand(-10.0, -15.0)), 0x3FE0000000000001ull);
    EXPECT_EQ(bits(std::fabs(1.0 - (-15.0) / (-10.0))), bits(0.5));
}

TEST_F(GetRadiusCases, FloatRoundingCasesDifferInDouble) {
    // Without the rounding to float the two shifted depths give other values.
    const double pastTwiceF = byHand(-4.0, -8.0 + 0x1p-24);
    EXPECT_LT(pastTwiceF, 1.0);
    const double nearF = byHand(-4.0, -4.0 - 0x1p-23);
    EXPECT_GT(nearF, 0.0);
    // And the float roundings themselves, by hand.
    EXPECT_EQ(float(-8.0 + 0x1p-24), -8.0f);
    EXPECT_EQ(float(-4.0 - 0x1p-23), -4.0f);
    EXPECT_EQ(double(-0x1.000002p+2f) + 0x3p-23, -4.0 - 0x1p-23);
}

}  // namespace
