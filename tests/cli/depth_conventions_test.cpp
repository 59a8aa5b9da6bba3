// Stored depth to camera distance, the no-hit rule, the power-of-two scale
// into the effect's depth range, and the depth the effect is handed.
#include "cli/depth_conventions.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <sstream>

namespace {

using dof3d::DepthConvention;
using dof3d::DepthScale;
using dof3d::NoHitPolicy;

std::uint32_t bitsOf(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return bits;
}

struct StoredCase {
    DepthConvention convention;
    double stored;
    bool hit;
    double distance;  // checked when hit
    const char* why;
};

TEST(DepthConventions, StoredValuesToCameraDistance) {
    const double nan = std::nan("");
    const StoredCase cases[] = {
        {DepthConvention::Distance, 5.0, true, 5.0, "distance as stored"},
        {DepthConvention::Distance, 0.0, false, 0,
         "0 is what renderers write where nothing was hit"},
        {DepthConvention::Distance, nan, false, 0, "not a number"},
        {DepthConvention::Distance, INFINITY, false, 0, "infinitely far"},
        {DepthConvention::Distance, 1e10, false, 0, "sentinel beyond the limit"},
        {DepthConvention::Distance, 1e9, false, 0, "the limit itself is a sentinel"},
        {DepthConvention::Distance, 999999999.0, true, 999999999.0, "just below the limit"},
        {DepthConvention::Distance, -3.0, false, 0, "behind the camera"},
        {DepthConvention::Negative, -5.0, true, 5.0, "camera-space z in front"},
        {DepthConvention::Negative, 5.0, false, 0, "positive z is behind the camera"},
        {DepthConvention::Negative, 0.0, false, 0, "z of 0"},
        {DepthConvention::Negative, -1e10, false, 0, "sentinel in camera space"},
        {DepthConvention::Inverse, 0.25, true, 4.0, "1/z"},
        {DepthConvention::Inverse, 0.0, false, 0, "1/z of 0 is infinitely far"},
        {DepthConvention::Inverse, -0.5, false, 0, "negative inverse depth"},
        {DepthConvention::Inverse, 1e-10, false, 0, "inverse of a sentinel"},
    };
    for (const StoredCase& c : cases) {
        const double distance = dof3d::cameraDistance(c.stored, c.convention);
        EXPECT_EQ(dof3d::isHit(distance, 1e9), c.hit) << c.why;
        if (c.hit) {
            EXPECT_EQ(distance, c.distance) << c.why;
        }
    }
}

struct ScaleCase {
    double focus;
    double sharpUntil;
    double factor;
    double focalDepth;
    double focusRangeDepth;
    const char* why;
};

TEST(DepthConventions, ScaleBringsFocusAndSharpZoneIntoTheParameterRange) {
    const ScaleCase cases[] = {
        {10.0, 0.0, 1.0, -10.0, 0.0, "in range: units kept"},
        {10.0, 20.0, 1.0, -10.0, -20.0, "sharp zone in range"},
        {1.0, 65535.0, 1.0, -1.0, -65535.0, "both ends of the range"},
        {0.25, 0.0, 4.0, -1.0, 0.0, "small units scaled up to 1"},
        {0.3, 0.0, 4.0, double(float(-1.2)), 0.0, "0.6 is still below 1, 1.2 is not"},
        {0.5, 1000.0, 2.0, -1.0, -2000.0, "scaled up with the zone"},
        {100000.0, 0.0, 0.5, -50000.0, 0.0, "large units halved"},
        {70000.0, 140000.0, 0.25, -17500.0, -35000.0, "the far end decides the factor"},
        {0.1, 0.0, 16.0, double(float(-1.6)), 0.0, "0.1 x 16 is not exact, so rounded as a float"},
    };
    for (const ScaleCase& c : cases) {
        DepthScale scale;
        std::string error;
        ASSERT_TRUE(dof3d::chooseDepthScale(c.focus, c.sharpUntil, &scale, &error)) << c.why;
        EXPECT_EQ(scale.factor, c.factor) << c.why;
        EXPECT_EQ(scale.focalDepth, c.focalDepth) << c.why;
        EXPECT_EQ(scale.focusRangeDepth, c.focusRangeDepth) << c.why;
    }
}

// The far end may lie 65535 over the smallest power of two that brings the
// focus to 1: 65535 times a focus that is a power of two, just over 32768
// times one just below.
TEST(DepthConventions, SharpZoneReachesAsFarAsThePowerOfTwoAllows) {
    const struct {
        double focus, sharpUntil;
        const char* limit;  // null: accepted
    } cases[] = {
        {2.0, 131070.0, nullptr},
        {2.0, 131071.0, "131070 (65535 times the focus)"},
        {1.5, 65535.0, nullptr},
        {1.5, 65536.0, "65535 (43690 times the focus)"},
        {1.875, 65536.0, "65535 (34952 times the focus)"},
    };
    for (const auto& c : cases) {
        std::ostringstream expected;
        if (c.limit)
            expected << "the sharp zone from " << c.focus << " to " << c.sharpUntil
                     << " is deeper than the effect's depth range allows: with this focus its "
                        "far end may lie at most at "
                     << c.limit;
        DepthScale scale;
        std::string error;
        EXPECT_EQ(dof3d::chooseDepthScale(c.focus, c.sharpUntil, &scale, &error), !c.limit);
        EXPECT_EQ(error, expected.str()) << c.focus << " " << c.sharpUntil;
    }
}

TEST(DepthConventions, FocusBelowTheSmallestNormalDoubleIsRefused) {
    DepthScale scale;
    std::string error;
    ASSERT_TRUE(dof3d::chooseDepthScale(0x1p-1022, 0.0, &scale, &error));
    EXPECT_EQ(scale.factor, 0x1p1022);
    EXPECT_EQ(scale.focalDepth, -1.0);
    // Doubling the factor past 2^1023 would give infinity and never end.
    EXPECT_FALSE(dof3d::chooseDepthScale(0x1p-1070, 0.0, &scale, &error));
    EXPECT_EQ(error,
              "the focus distance 7.9050503334599447e-323 is too small to scale into the "
              "effect's depth range");
}

TEST(DepthConventions, EffectDepthIsNegativeNeverZero) {
    DepthScale scale;
    scale.factor = 0.5;
    scale.focalDepth = -3.5;
    struct Case {
        double distance;
        NoHitPolicy policy;
        float expected;
        const char* why;
    } const cases[] = {
        {7.0, NoHitPolicy::Far, -3.5f, "distance times the factor, negated"},
        {3.0, NoHitPolicy::Focus, -1.5f, "a hit is placed the same under either policy"},
        {0.0, NoHitPolicy::Far, -1e30f, "no hit: far beyond any focus"},
        {std::nan(""), NoHitPolicy::Far, -1e30f, "NaN: no hit"},
        {2e9, NoHitPolicy::Far, -1e30f, "sentinel: no hit"},
        {0.0, NoHitPolicy::Focus, -3.5f, "no hit kept on the focal plane"},
        {1e-300, NoHitPolicy::Far, -FLT_MIN, "too near for a float: the nearest float depth"},
        {double(FLT_TRUE_MIN), NoHitPolicy::Far, -FLT_MIN, "denormal distance"},
    };
    for (const auto& c : cases) {
        const float depth = dof3d::effectDepth(c.distance, 1e9, c.policy, scale);
        EXPECT_EQ(bitsOf(depth), bitsOf(c.expected)) << c.why;
        EXPECT_LT(depth, 0.0f) << c.why;
    }
}

TEST(DepthConventions, ExactFocusDistanceGivesExactlyTheFocalDepth) {
    // A depth stored as a float equal to the focus must meet the focal depth
    // exactly, whatever the factor: the blur fraction is then exactly 0.
    const float stored[] = {0.3f, 9.5f, 123.456f, 70000.5f};
    for (float s : stored) {
        DepthScale scale;
        std::string error;
        ASSERT_TRUE(dof3d::chooseDepthScale(s, 0.0, &scale, &error));
        EXPECT_EQ(double(dof3d::effectDepth(s, 1e9, NoHitPolicy::Far, scale)), scale.focalDepth)
            << s;
    }
}

}  // namespace
