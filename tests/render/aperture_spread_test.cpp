// Spreading over the aperture: shapes, light and continuity in the radius,
// against areas and corners worked out on their own.
#include <gtest/gtest.h>

#include <cmath>

#include "render/aperture_spread.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kSide = 64;

// One fragment of light 1000 (alpha 1) at (x, y) of a 64 x 64 frame.
std::vector<float> point(const dof::ApertureSettings& settings, double radius, int x = 32,
                         int y = 32) {
    const dof::ApertureShape shape(settings, kSide, kSide);
    const dof::ApertureFootprint footprint(shape, shape.cutAt(x, y), radius, radius);
    dof::SpreadBand band;
    band.reset(kSide, 0, 0, kSide);
    const float light[4] = {1000.0f, 1000.0f, 1000.0f, 1.0f};
    band.add(x, y, light, footprint);
    std::vector<float> out(std::size_t(kSide * kSide) * 4);
    for (int row = 0; row < kSide; ++row)
        band.finishRow(row, &out[std::size_t(row * kSide) * 4]);
    return out;
}

float red(const std::vector<float>& p, int x, int y) { return p[std::size_t(y * kSide + x) * 4]; }

double light(const std::vector<float>& p) {
    double sum = 0.0;
    for (std::size_t i = 0; i < p.size(); i += 4) sum += p[i];
    return sum;
}

// Each shape's area from geometry; a pixel whose four corners lie inside it
// (corners from the centre, in radii before the squeeze) is inside.
TEST(ApertureSpread, PointBecomesTheShapeEvenInsideWithItsLight) {
    const struct {
        dof::ApertureSettings settings;
        double radius, area;
        bool (*inside)(double u, double v);
        const char* why;
    } cases[] = {
        {{}, 10.0, kPi * 100.0, [](double u, double v) { return u * u + v * v < 1.0; }, "disc"},
        {{6, 0.0, 0.0, 1.0, 0.0}, 12.0, 3.0 * std::sqrt(3.0) / 2.0 * 144.0,
         [](double u, double v) {  // corners at 0, 60, ..., 300 degrees
             for (int i = 0; i < 6; ++i) {
                 const double a = (2 * i + 1) * kPi / 6.0;
                 if (u * std::cos(a) - v * std::sin(a) > std::cos(kPi / 6.0)) return false;
             }
             return true;
         },
         "hexagon, flat top and bottom"},
        {{0, 0.0, 0.0, 1.33, 0.0}, 9.0, kPi * 81.0 * 1.33,
         [](double u, double v) { return u * u + v * v / (1.33 * 1.33) < 1.0; }, "squeezed"},
        {{}, 0.4, 1.0, [](double, double) { return true; }, "within its pixel: unchanged"},
    };
    for (const auto& c : cases) {
        const std::vector<float> p = point(c.settings, c.radius);
        double least = 1e30, most = 0.0;
        int lit = 0, inside = 0;
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                lit += red(p, x, y) > 0.0f;
                bool in = true;
                for (int k = 0; k < 4; ++k)
                    in = in &&
                         c.inside((x + k % 2 - 32.5) / c.radius, (y + k / 2 - 32.5) / c.radius);
                if (!in || c.radius < 1.0) continue;
                ++inside;
                least = std::min(least, double(red(p, x, y)));
                most = std::max(most, double(red(p, x, y)));
            }
        EXPECT_NEAR(light(p), 1000.0, 1.0) << c.why;  // 0.1 %
        if (c.radius < 1.0) {
            EXPECT_EQ(red(p, 32, 32), 1000.0f) << c.why;
            EXPECT_EQ(lit, 1) << c.why;
            continue;
        }
        // Strips of an eighth of a row measure the area to 0.2 %; the lit
        // pixels are the area and its rim.
        EXPECT_NEAR(most, 1000.0 / c.area, 0.002 * 1000.0 / c.area) << c.why;
        EXPECT_LE(most - least, 1e-6 * most) << c.why;
        EXPECT_GT(inside, c.area * 0.7) << c.why;
        EXPECT_LE(lit, c.area + 4.0 * std::sqrt(c.area) * 1.5) << c.why;
    }
    // A hexagon's corner at +x reaches 11.5 pixels right; its flat top only
    // 10.4 up. The squeeze makes the disc 1.33 times as tall as wide.
    const std::vector<float> hexagon = point({6, 0.0, 0.0, 1.0, 0.0}, 12.0);
    EXPECT_GT(red(hexagon, 32 + 11, 32), 0.0f);
    EXPECT_EQ(red(hexagon, 32, 32 - 11), 0.0f);
    const std::vector<float> tall = point({0, 0.0, 0.0, 1.33, 0.0}, 9.0);
    EXPECT_EQ(red(tall, 32 + 10, 32), 0.0f);
    EXPECT_GT(red(tall, 32, 32 + 11), 0.0f);
}

// Cat's eye of one radius: at (56, 32) of 64 x 64 the second disc lies
// 0.54 radii to the left, so the disc of radius 8 ends 3.7 pixels right of
// its centre instead of 8, and keeps its light; at the centre it is whole.
TEST(ApertureSpread, CatsEyeCutsTowardTheCentre) {
    const dof::ApertureSettings settings{0, 0.0, 0.0, 1.0, 1.0};
    const std::vector<float> edge = point(settings, 8.0, 56, 32);
    const std::vector<float> centre = point(settings, 8.0, 32, 32);
    EXPECT_NEAR(light(edge), 1000.0, 1.0);
    EXPECT_GT(red(edge, 56 - 7, 32), 0.0f);
    EXPECT_GT(red(edge, 56 + 3, 32), 0.0f);
    EXPECT_EQ(red(edge, 56 + 5, 32), 0.0f);
    EXPECT_NEAR(red(centre, 32 + 7, 32), red(centre, 32 - 7, 32), 1e-6 * red(centre, 32, 32));
}

// From radius 2 to 6 in steps of 0.05: a pixel changes by at most what a
// rim moving by the step over a pixel's diagonal, and the interior's
// thinning, give (no ring of pixels appears at once at a whole radius).
TEST(ApertureSpread, RadiusSweepChangesSmoothly) {
    for (const dof::ApertureSettings& s :
         {dof::ApertureSettings{}, dof::ApertureSettings{5, 10.0, 0.3, 1.0, 0.0}}) {
        std::vector<float> before = point(s, 2.0);
        for (int k = 1; k <= 80; ++k) {
            const double r = 2.0 + 0.05 * k;
            const std::vector<float> now = point(s, r);
            const double area = kPi * (r - 0.05) * (r - 0.05) * (s.blades ? 0.75 : 1.0);
            const double bound = (std::sqrt(2.0) + 2.0 / r) * 0.05 * 1000.0 / area;
            for (std::size_t i = 0; i < now.size(); i += 4)
                ASSERT_LE(std::fabs(now[i] - before[i]), bound) << s.blades << " at radius " << r;
            before = now;
        }
    }
}

}  // namespace
