// The thin lens against values worked out by hand, and the depths handed to
// the effect checked through the effect's own rule, written out here.
#include "model/lens.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using dof::LensSpec;

// f 50 mm at f/2.5 focused at 5.05 m: F - f = 5000 mm, so the disc at infinity
// is 2500 / 12500 = 0.2 mm, 20 pixels at 100 pixels per mm: radius 10, and
// the radius at d is 10 |d - 5.05| / d.
const LensSpec kLens{2.5, 50.0, 36.0};
constexpr double kFocus = 5.05, kPixelsPerMm = 100.0;
struct Depth {
    double distance, radius;
} const kDepths[] = {
    {0.505, 90}, {1.01, 40}, {2.525, 10}, {3.03, 20.0 / 3.0},
    {5.05, 0},   {10.1, 5},  {50.5, 9},   {INFINITY, 10},
};

dof::ThinLensBlur lensBlur(double sharpUntil = 0.0) {
    dof::ThinLensBlur blur;
    std::string error;
    EXPECT_TRUE(blur.setUp(kLens, kFocus, sharpUntil, 1.0, kPixelsPerMm, &error)) << error;
    return blur;
}

// What the effect blurs a distance by, for the focus and zone end given as
// distances: radius x |1 - d/F| up to the radius, nothing inside the zone,
// the zone's depth taken off behind it; depths are negative floats.
double effectBlur(double distance, double radius, double focus, double zoneEnd) {
    const double f = float(-focus), n = float(-zoneEnd);
    double d = float(-distance);
    if (f > d && f > n) {
        if (d > n) return 0.0;
        d = float(d + (f - n));
    }
    return radius * std::min(1.0, std::fabs(1.0 - d / f));
}

TEST(Lens, EffectOnMovedDepthsGivesTheLensRadiusInOrder) {
    const dof::ThinLensBlur blur = lensBlur();
    for (double radius : {40.0, 64.0, 2.5}) {
        const dof::LensDepthRemap remap(blur, radius);
        double previous = 0.0;
        for (const Depth& d : kDepths) {
            const double moved = remap.distance(d.distance);
            EXPECT_NEAR(effectBlur(moved, radius, kFocus, 0.0), std::min(d.radius, radius), 1e-3)
                << d.distance << " at radius " << radius;
            EXPECT_GT(moved, previous) << d.distance;  // depth order kept
            previous = moved;
        }
        EXPECT_EQ(remap.distance(kFocus), kFocus);  // the focus stays exactly sharp
    }
}

TEST(Lens, SharpZoneStartsTheBlurFromZeroAtItsEnd) {
    // Zone to 10.1 (radius 5 there): behind it the radius less 5.
    const dof::ThinLensBlur blur = lensBlur(10.1);
    const struct {
        double distance, radius;
    } cases[] = {{2.525, 10}, {7.575, 0}, {10.1, 0}, {12.625, 1}, {50.5, 4}, {INFINITY, 5}};
    for (double radius : {40.0, 2.0}) {  // a zone end at 5/2 of the radius is held at 1
        const dof::LensDepthRemap remap(blur, radius);
        for (const auto& c : cases)
            EXPECT_NEAR(effectBlur(remap.distance(c.distance), radius, kFocus, remap.sharpUntil()),
                        std::min(c.radius, radius), 1e-3)
                << c.distance << " at radius " << radius;
    }
}

}  // namespace
