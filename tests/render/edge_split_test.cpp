// Splitting a pixel on the far side of a depth step into the nearer
// surface's share and the far surface: hand-worked 3 x 3 scenes, and the
// pixel's light held exactly on random ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "render/edge_split.h"
#include "render/flat_frame.h"
#include "support/random.h"

namespace {

using dof::test::flatFrame;
using dof::test::setPixel;

// One pixel of a scene: grey level (or R, G, B), alpha and distance.
struct Cell {
    float r, g, b, a;
    double at;
};

constexpr Cell kWall{0.5f, 0.5f, 0.5f, 1.0f, 50.0};
constexpr Cell kLamp{60.0f, 60.0f, 60.0f, 1.0f, 5.0};

// A wall at 50 with the lamp at 5 down the left column, `ring` below the
// centre, and `centre` in the middle.
dof::Frame scene(const Cell& centre, const Cell& left = kLamp, const Cell& ring = kWall) {
    dof::Frame f = flatFrame(3, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) {
            const Cell& c = x == 1 && y == 1 ? centre : x == 0 ? left : x == 1 && y == 2 ? ring : kWall;
            const float v[4] = {c.r, c.g, c.b, c.a};
            setPixel(f, x, y, v, c.at);
        }
    return f;
}

Cell mixed(double lamp, double at = 50.0) {
    const float v = float(60.0 * lamp + 0.5 * (1.0 - lamp));
    return Cell{v, v, v, 1.0f, at};
}

TEST(EdgeSplit, HandWorkedScenes) {
    const struct {
        std::string why;
        dof::Frame frame;
        double cover;        // 0: no split
        double near, far;    // R of the nearer share and of the far surface
    } cases[] = {
        {"a quarter of the lamp", scene(mixed(0.25)), 0.25, 15.0, 0.5},
        {"a ring pixel of the lamp beside it: the purest wall is the far",
         scene(mixed(0.25), kLamp, mixed(0.5)), 0.25, 15.0, 0.5},
        {"half the lamp", scene(mixed(0.5)), 0.5, 30.0, 0.5},
        {"nearly all the lamp: the whole pixel", scene(mixed(0.99)), 1.0, 59.405, 0.0},
        {"too little of the lamp to tell from noise", scene(mixed(0.015)), 0.0, 0.0, 0.0},
        {"the pixel itself is the nearer", scene(mixed(0.25, 5.0)), 0.0, 0.0, 0.0},
        {"no step: the left column within 15 %", scene(mixed(0.25), Cell{60, 60, 60, 1, 44.0}),
         0.0, 0.0, 0.0},
        {"a step of more than 15 %", scene(mixed(0.25), Cell{60, 60, 60, 1, 43.0}), 0.25, 15.0,
         0.5},
        {"a nearer surface of the wall's colour", scene(kWall, Cell{0.5f, 0.5f, 0.5f, 1, 5.0}), 0.0,
         0.0, 0.0},
        {"a half-transparent pixel", scene(Cell{15.375f, 15.375f, 15.375f, 0.5f, 50.0}), 0.0, 0.0,
         0.0},
        {"a darker nearer surface", scene(Cell{0.35f, 0.35f, 0.35f, 1, 50.0}, Cell{0.1f, 0.1f, 0.1f, 1, 5.0}),
         0.375, 0.0375, 0.5},
    };
    for (const auto& c : cases) {
        const std::optional<dof::EdgeSplit> split = dof::edgeSplit(dof::RenderInput(c.frame), 1, 1);
        ASSERT_EQ(split.has_value(), c.cover > 0.0) << c.why;
        if (!split) continue;
        EXPECT_NEAR(split->cover, c.cover, 1e-6) << c.why;
        EXPECT_NEAR(split->near[0], c.near, 1e-4) << c.why;
        EXPECT_NEAR(split->far[0], c.far, 1e-6) << c.why;
        EXPECT_EQ(split->nearDistance, c.frame.distance[3]) << c.why;
    }
}

// The pixel holding less blue than the share of the lamp its red and green
// ask: the share is what the blue allows, the far surface is the wall, and
// the nearer share keeps the rest of the pixel's light.
TEST(EdgeSplit, ShareNoMoreThanEveryChannelHolds) {
    const Cell pixel{30.0f, 30.0f, 3.0f, 1.0f, 50.0};
    const dof::Frame f = scene(pixel);
    const std::optional<dof::EdgeSplit> split = dof::edgeSplit(dof::RenderInput(f), 1, 1);
    ASSERT_TRUE(split);
    EXPECT_NEAR(split->cover, 0.05, 1e-7);
    const double near[3] = {29.525, 29.525, 2.525}, far[3] = {0.5, 0.5, 0.5};
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(split->near[c], near[c], 1e-5) << c;
        EXPECT_NEAR(split->far[c], far[c], 1e-7) << c;
    }
}

// Random scenes of two surfaces with noise: whenever a pixel splits, its
// shares hold its light, neither is negative (but for rounding), and the far
// surface is no brighter than the brightest neighbour at the pixel's depth.
TEST(EdgeSplit, SharesHoldThePixelsLight) {
    dof::test::Random random(11);
    int splits = 0;
    for (int trial = 0; trial < 2000; ++trial) {
        dof::Frame f = flatFrame(3, 3);
        double brightest[3] = {0.0, 0.0, 0.0};
        for (int p = 0; p < 9; ++p) {
            const bool nearer = p != 4 && random.chance(40);
            float v[4] = {float(random.unit() * (nearer ? 50.0 : 2.0)),
                          float(random.unit() * (nearer ? 50.0 : 2.0)),
                          float(random.unit() * (nearer ? 50.0 : 2.0)), 1.0f};
            const double at = nearer ? 2.0 + random.unit() : 30.0 + random.unit();
            setPixel(f, p % 3, p / 3, v, at);
            if (!nearer && p != 4)
                for (int c = 0; c < 3; ++c) brightest[c] = std::max(brightest[c], double(v[c]));
        }
        const std::optional<dof::EdgeSplit> split = dof::edgeSplit(dof::RenderInput(f), 1, 1);
        if (!split) continue;
        ++splits;
        for (int c = 0; c < 3; ++c) {
            const double own = f.parts[0].values[4 * 4 + std::size_t(c)];
            ASSERT_NEAR(split->near[c] + (1.0 - split->cover) * split->far[c], own, 1e-9)
                << trial << "," << c;
            ASSERT_GE(split->near[c], -1e-12) << trial;  // rounding of a share at its bound
            ASSERT_GE(split->far[c], 0.0) << trial;
            ASSERT_LE(split->far[c], brightest[c]) << trial;
        }
        ASSERT_GT(split->cover, 0.0);
        ASSERT_LE(split->cover, 1.0);
    }
    EXPECT_GT(splits, 200);
}

}  // namespace
