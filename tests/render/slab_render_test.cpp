// Splatting in depth slabs: what the composite shows, against values worked
// out on their own from the hat's taps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "demo/demo_frame.h"
#include "render/flat_frame.h"
#include "render/frame_render.h"
#include "support/effect_fixture.h"
#include "support/kernel_reference.h"
#include "support/random.h"
#include "support/same_bytes.h"

namespace {

using dof::test::flatFrame;  // distances and focus in the effect's range: no depth scaling

void setPixel(dof::Frame& f, int x, int y, float r, float g, float b, float a, double distance) {
    const std::size_t p = std::size_t(y) * std::size_t(f.width()) + std::size_t(x);
    float* px = &f.parts[0].values[p * 4];
    px[0] = r, px[1] = g, px[2] = b, px[3] = a;
    f.distance[p] = distance;
}

// Channel c of pixel (x, y) of a render of a frame `width` pixels wide.
float at(const dof::RenderedColour& result, int width, int x, int y, int c) {
    return dof::test::valueAt(result, std::size_t(y) * std::size_t(width) + std::size_t(x), c);
}

// Renders `frame` in `slabs` slabs (1: the effect's own render) with the
// focus at `focus`, sharp to `sharpUntil` (0: no sharp zone) and the largest
// radius `radius`, on `threads`.
void render(const dof::Frame& frame, dof::RenderedColour* result, double focus, double radius,
            int slabs = 8, int threads = 1, double sharpUntil = 0.0, double slabMemory = 0.0) {
    dof::EffectPlan plan;
    plan.depth.scale.factor = 1.0;
    plan.depth.scale.focalDepth = -focus;
    plan.depth.scale.focusRangeDepth = -sharpUntil;
    plan.settings.radius = radius;
    plan.settings.method = kMethodSplatting;
    plan.settings.focalDepth = -focus;
    plan.settings.focusRangeDepth = -sharpUntil;
    dof::TaskPool pool(threads - 1);
    dof::FrameRenderContext context;
    context.library = &dof::test::effectLibrary();
    context.pool = &pool;
    context.threads = threads;
    context.slabMemory = slabMemory;
    dof::runtime::PassSeconds seconds;
    std::string error;
    const dof::RenderInput input(frame);
    const dof::RenderOutcome outcome =
        slabs == 1 ? dof::renderSingle(input, plan, context, result, &seconds, &error)
                   : dof::renderInSlabs(input, plan, slabs, context, result, &seconds, &error);
    ASSERT_EQ(outcome, dof::RenderOutcome::Done) << error;
}

// The share of pixel x that a hat of radius r spreads from columns 0 to
// edge - 1 of a row `width` wide, the hat's weights normalised over the
// columns of the row it reaches.
double edgeShare(double r, int edge, int width, int x) {
    const std::vector<double> taps = dof::test::referenceHatTaps(r);
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
        dof::Frame frame = flatFrame(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                if (x < edge)
                    setPixel(frame, x, y, 1, 0, 0, 1, c.left);
                else if (c.right != Right::Nothing)
                    setPixel(frame, x, y, 0, 0, 1, 1, c.right == Right::Sharp ? 10 : 40);
            }
        dof::RenderedColour out;
        render(frame, &out, 10.0, 7.4);
        const int reach = int(2 * c.redRadius);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double red = c.redRadius > 0 ? edgeShare(c.redRadius, edge, w, x) : x < edge;
                const double blue = c.right == Right::Nothing ? 0.0 : 1.0 - red;
                const double alpha = c.right == Right::Nothing ? red : 1.0;
                // Beyond half the reach past the edge the slab's open
                // pixels end before the hats do: its faint end is close.
                const double tolerance = x >= edge + reach / 2 ? 0.01 : 1e-6;
                ASSERT_NEAR(at(out, w, x, y, 0), red, tolerance)
                    << c.why << " at " << x << "," << y;
                ASSERT_EQ(at(out, w, x, y, 1), 0.0f) << c.why;
                ASSERT_NEAR(at(out, w, x, y, 2), blue, tolerance) << c.why << " at " << x;
                ASSERT_NEAR(at(out, w, x, y, 3), alpha, tolerance) << c.why << " at " << x;
            }
    }
}

// A plane tilted away from the camera, from the focus at the bottom row to
// twice its distance at the top, across every slab behind the focus: left
// half bright, right half dark. A line along a slab boundary would show as
// a row that is not opaque, a row whose mean is brighter or darker than
// the image's (a blur keeps a row's mean here: the halves mirror each
// other), or the edge's blurred side stepping back against the blur growing
// upwards by more than 1 % of the edge's contrast.
TEST(SlabRender, TiltedPlaneShowsNoLineAtSlabBoundaries) {
    const int w = 48, h = 200;
    for (int slabs : {8, 12}) {
        dof::Frame frame = flatFrame(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const float v = x < 24 ? 0.9f : 0.1f;
                setPixel(frame, x, y, v, v, v, 1, 10.0 * (2.0 - double(y) / (h - 1)));
            }
        dof::RenderedColour out;
        render(frame, &out, 10.0, 6.0, slabs);
        for (int y = 0; y < h; ++y) {
            double sum = 0.0;
            for (int x = 0; x < w; ++x) {
                sum += at(out, w, x, y, 0);
                ASSERT_GE(at(out, w, x, y, 3), 1.0f - 1e-6f)
                    << slabs << " slabs, " << x << "," << y;
            }
            EXPECT_NEAR(sum / w, 0.5, 1e-5) << slabs << " slabs, row " << y;
            if (y > 0) {
                EXPECT_LE(at(out, w, 24, y, 0), at(out, w, 24, y - 1, 0) + 0.008) << y;
            }
        }
        // The edge is sharp at the focus and blurred at the top.
        EXPECT_EQ(at(out, w, 24, h - 1, 0), 0.1f);
        EXPECT_GT(at(out, w, 24, 0, 0), 0.4f);
    }
}

// Random colours (beyond full scale, and light under zero alpha among them)
// and alphas, all at the focus: every value comes back as it was.
TEST(SlabRender, AFrameAtTheFocusComesBackUnchanged) {
    dof::test::Random random(5);
    for (bool associated : {true, false}) {
        dof::Frame frame = flatFrame(23, 11);
        frame.associated = associated;
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 23; ++x) {
                const int kind = random.below(4);
                const float a = kind == 0 ? 0.0f : (kind == 1 ? 1.0f : float(random.unit()));
                setPixel(frame, x, y, float(2.5 * random.unit() - 0.25), float(random.unit()),
                         float(random.unit()), a, 10.0);
            }
        dof::RenderedColour out;
        render(frame, &out, 10.0, 12.0);
        EXPECT_TRUE(dof::test::sameColour(out, dof::storedColour(dof::RenderInput(frame))))
            << associated;
    }
}

// A 4x4 lamp (50) at depths from in front of the focus (10) to far behind
// it, radius 16, over nothing, over an opaque wall blurred at 40 or sharp at
// the focus: the light it adds to the frame is its own to within 1 %, at
// depths a slab renders whole and at depths shared between two slabs.
TEST(SlabRender, LampKeepsItsLightAtAnyDepth) {
    const double lamps[] = {3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 16, 18, 20, 23, 27, 32, 40, 60};
    const double walls[] = {0, 40, 10};  // 0: nothing behind
    const int n = 112;
    for (double wall : walls)
        for (double lamp : lamps) {
            if (wall > 0 && lamp >= wall) continue;
            dof::Frame frame = flatFrame(n, n);
            for (int p = 0; p < n * n && wall > 0; ++p)
                setPixel(frame, p % n, p / n, 0.1f, 0.1f, 0.1f, 1, wall);
            // Corners at 2.5 and 100 spread the slabs over both sides.
            frame.distance.front() = 2.5, frame.distance.back() = 100;
            for (int p = 0; p < 16; ++p)
                setPixel(frame, n / 2 - 2 + p % 4, n / 2 - 2 + p / 4, 50, 50, 50, 1, lamp);
            dof::RenderedColour out;
            render(frame, &out, 10.0, 16.0);
            double sum = 0.0;
            for (int p = 0; p < n * n; ++p) sum += out.colour[0][std::size_t(p)];
            const double behind = wall > 0 ? 0.1 * (n * n - 16) : 0.0;
            EXPECT_NEAR((sum - behind) / (16 * 50.0), 1.0, 0.01)
                << "lamp at " << lamp << ", wall at " << wall;
        }
}

// Focus on the card at 6, sharp to 7, radius 8: the near sphere, the ground
// in front and everything behind blur. The composite stays opaque; the card
// keeps every pixel, its silhouette against the blurred wall included,
// wherever no nearer blur reaches (16 pixels); and the slabs' bands on three
// threads, each slab a group of its own (a byte of memory for slabs), give
// the bytes of one thread with all slabs in one group.
TEST(SlabRender, BuiltInSceneStaysOpaqueOnAnyNumberOfThreads) {
    const dof::Frame scene = dof::demoFrame(320, 180);
    dof::RenderedColour one, three;
    render(scene, &one, 6.0, 8.0, 8, 1, 7.0, 1e12);
    render(scene, &three, 6.0, 8.0, 8, 3, 7.0, 1.0);
    EXPECT_TRUE(dof::test::sameColour(three, one));
    const auto nearerAround = [&](int x, int y) {
        for (int j = std::max(0, y - 16); j < std::min(scene.height(), y + 17); ++j)
            for (int i = std::max(0, x - 16); i < std::min(scene.width(), x + 17); ++i)
                if (scene.distance[std::size_t(j * scene.width() + i)] < 6.0) return true;
        return false;
    };
    int card = 0;
    for (int y = 0; y < scene.height(); ++y)
        for (int x = 0; x < scene.width(); ++x) {
            ASSERT_GE(at(one, scene.width(), x, y, 3), 254.0f / 255.0f) << x << "," << y;
            if (scene.distance[std::size_t(y * scene.width() + x)] != 6.0 || nearerAround(x, y))
                continue;
            ++card;
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(at(one, scene.width(), x, y, c), scene.value(std::size_t(y * 320 + x), c))
                    << x << "," << y;
        }
    EXPECT_GT(card, 1000);
}

}  // namespace
