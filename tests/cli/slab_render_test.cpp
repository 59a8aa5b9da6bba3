// Splatting in depth slabs: what the composite shows, against values worked
// out on their own from the hat's taps.
#include <gtest/gtest.h>

#include <cmath>

#include "slab_frames.h"
#include "support/kernel_reference.h"

namespace {

using slabtest::at;

// The share of pixel x that a hat of radius r spreads from columns 0 to
// edge - 1 of a row `width` wide, the hat's weights normalised over the
// columns of the row it reaches.
double edgeShare(double r, int edge, int width, int x) {
    const std::vector<double> taps = doftest::referenceHatTaps(r);
    const int R = int(taps.size() / 2);
    double inside = 0.0, all = 0.0;
    for (int k = -R; k <= R; ++k) {
        const int from = x - k;
        if (from < 0 || from >= width) continue;
        all += taps[std::size_t(k + R)];
        if (from < edge) inside += taps[std::size_t(k + R)];
    }
    return inside / all;
}

enum class Right { Nothing, Sharp, Far };

// Rows of 64: red on the left 32 columns at distance `left`, and on the
// right blue at distance 10 (the focus) or 40 (blurred by the full radius),
// or nothing. Radius 7.4: a red half at distance 5 or 40 blurs by 3.7 or
// 7.4 pixels; its expected share comes from the hat alone.
TEST(SlabRender, EdgesAgainstTheirHats) {
    const struct {
        double left;
        Right right;
        double redRadius;  // 0: stays sharp
        const char* why;
    } cases[] = {
        {5, Right::Sharp, 3.7, "a blurred near object spreads over a sharp one behind it"},
        {5, Right::Far, 3.7, "and over a blurred one: a far object never covers its blur"},
        {5, Right::Nothing, 3.7, "over nothing: light kept, the half alpha stays at the edge"},
        {40, Right::Nothing, 7.4, "a blurred far object over nothing, the same"},
        {10, Right::Far, 0.0, "a sharp object before a blurred one keeps every pixel"},
    };
    const int w = 64, h = 24, edge = 32;
    for (const auto& c : cases) {
        dof3d::Frame frame = slabtest::flatFrame(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                if (x < edge)
                    slabtest::setPixel(frame, x, y, 1, 0, 0, 1, c.left);
                else if (c.right != Right::Nothing)
                    slabtest::setPixel(frame, x, y, 0, 0, 1, 1, c.right == Right::Sharp ? 10 : 40);
            }
        slabtest::render(&frame, 10.0, 7.4);
        const int reach = int(2 * c.redRadius);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double red = c.redRadius > 0 ? edgeShare(c.redRadius, edge, w, x) : x < edge;
                const double blue = c.right == Right::Nothing ? 0.0 : 1.0 - red;
                const double alpha = c.right == Right::Nothing ? red : 1.0;
                // Beyond half the reach past the edge the slab's open
                // pixels end before the hats do: its faint end is close.
                const double tolerance = x >= edge + reach / 2 ? 0.01 : 1e-6;
                ASSERT_NEAR(at(frame, x, y, 0), red, tolerance) << c.why << " at " << x << "," << y;
                ASSERT_EQ(at(frame, x, y, 1), 0.0f) << c.why;
                ASSERT_NEAR(at(frame, x, y, 2), blue, tolerance) << c.why << " at " << x;
                ASSERT_NEAR(at(frame, x, y, 3), alpha, tolerance) << c.why << " at " << x;
            }
    }
}

}  // namespace
