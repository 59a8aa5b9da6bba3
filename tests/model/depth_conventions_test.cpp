// Stored depth to camera distance, the no-hit rule, the power-of-two scale
// into the effect's depth range, and the depth the effect is handed.
#include "model/depth_conventions.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <sstream>

namespace {

using dof::DepthConvention;
using dof::DepthScale;
using dof::NoHitPolicy;

std::uint32_t bitsOf(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return bits;
}

// Stored value to camera distance; -1: no hit.
TEST(DepthConventions, StoredValuesToCameraDistance) {
    const double nan = std::nan("");
    const struct {
        DepthConvention convention;
        double stored, distance;
    } cases[] = {
        {DepthConvention::Distance, 5.0, 5.0},
        {DepthConvention::Distance, 0.0, -1},  // what renderers write where nothing was hit
        {DepthConvention::Distance, nan, -1},
        {DepthConvention::Distance, INFINITY, -1},
        {DepthConvention::Distance, 1e10, -1},  // a sentinel beyond the limit
        {DepthConvention::Distance, 1e9, -1},   // the limit itself is a sentinel
        {DepthConvention::Distance, 999999999.0, 999999999.0},
        {DepthConvention::Distance, -3.0, -1},  // behind the camera
        {DepthConvention::Negative, -5.0, 5.0},
        {DepthConvention::Negative, 5.0, -1},
        {DepthConvention::Negative, 0.0, -1},
        {DepthConvention::Negative, -1e10, -1},
        {DepthConvention::Inverse, 0.25, 4.0},
        {DepthConvention::Inverse, 0.0, -1},  // infinitely far
        {DepthConvention::Inverse, -0.5, -1},
        {DepthConvention::Inverse, 1e-10, -1},
    };
    for (const auto& c : cases) {
        const double distance = dof::cameraDistance(c.stored, c.convention);
        EXPECT_EQ(dof::isHit(distance, 1e9), c.distance > 0) << c.stored;
        if (c.distance > 0) {
            EXPECT_EQ(distance, c.distance) << c.stored;
        }
    }
}

// The power of two that brings focus and sharp zone into the effect's depth
// range, or why there is none: the far end may lie 65535 over the smallest
// power of two that brings the focus to 1, and doubling the factor past
// 2^1023 would give infinity.
TEST(DepthConventions, ScaleBringsFocusAndSharpZoneIntoTheParameterRange) {
    const struct {
        double focus, sharpUntil, factor, focalDepth, focusRangeDepth;
        const char* limit;  // the far end's limit when refused
    } cases[] = {
        {10.0, 0.0, 1.0, -10.0, 0.0, nullptr},
        {10.0, 20.0, 1.0, -10.0, -20.0, nullptr},
        {1.0, 65535.0, 1.0, -1.0, -65535.0, nullptr},
        {0.25, 0.0, 4.0, -1.0, 0.0, nullptr},
        {0.3, 0.0, 4.0, double(float(-1.2)), 0.0, nullptr},  // 0.6 is still below 1
        {0.5, 1000.0, 2.0, -1.0, -2000.0, nullptr},
        {100000.0, 0.0, 0.5, -50000.0, 0.0, nullptr},
        {70000.0, 140000.0, 0.25, -17500.0, -35000.0, nullptr},  // the far end decides
        {0.1, 0.0, 16.0, double(float(-1.6)), 0.0, nullptr},     // not exact: a float
        {0x1p-1022, 0.0, 0x1p1022, -1.0, 0.0, nullptr},
        {2.0, 131070.0, 0.5, -1.0, -65535.0, nullptr},
        {2.0, 131071.0, 0, 0, 0, "131070 (65535 times the focus)"},
        {1.5, 65535.0, 1.0, -1.5, -65535.0, nullptr},
        {1.5, 65536.0, 0, 0, 0, "65535 (43690 times the focus)"},
        {1.875, 65536.0, 0, 0, 0, "65535 (34952 times the focus)"},
        {0x1p-1070, 0.0, 0, 0, 0, ""},
    };
    for (const auto& c : cases) {
        std::ostringstream expected;
        if (c.limit && *c.limit)
            expected << "the sharp zone from " << c.focus << " to " << c.sharpUntil
                     << " is deeper than the effect's depth range allows: with this focus its "
                        "far end may lie at most at "
                     << c.limit;
        else if (c.limit)
            expected << "the focus distance 7.9050503334599447e-323 is too small to scale into "
                        "the effect's depth range";
        DepthScale scale;
        std::string error;
        ASSERT_EQ(dof::chooseDepthScale(c.focus, c.sharpUntil, &scale, &error), !c.limit);
        EXPECT_EQ(error, expected.str()) << c.focus << " " << c.sharpUntil;
        if (!c.limit) {
            EXPECT_EQ(scale.factor, c.factor) << c.focus << " " << c.sharpUntil;
            EXPECT_EQ(scale.focalDepth, c.focalDepth) << c.focus << " " << c.sharpUntil;
            EXPECT_EQ(scale.focusRangeDepth, c.focusRangeDepth) << c.focus << " " << c.sharpUntil;
        }
    }
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
        const float depth = dof::effectDepth(c.distance, 1e9, c.policy, scale);
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
        ASSERT_TRUE(dof::chooseDepthScale(s, 0.0, &scale, &error));
        EXPECT_EQ(double(dof::effectDepth(s, 1e9, NoHitPolicy::Far, scale)), scale.focalDepth) << s;
    }
}

}  // namespace
