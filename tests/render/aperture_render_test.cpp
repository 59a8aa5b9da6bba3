// Rendering through the aperture: what the composite of the slabs shows,
// against values worked out on their own from the disc's geometry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "demo/demo_frame.h"
#include "render/aperture_render.h"
#include "render/flat_frame.h"
#include "support/random.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFocus = 10.0;
constexpr double kNoHit = 1e10;

using dof::test::flatFrame;
using dof::test::setPixel;

float at(const dof::RenderedColour& out, int width, int x, int y, int c) {
    return dof::test::valueAt(out, std::size_t(y) * std::size_t(width) + std::size_t(x), c);
}

// Renders `frame` focused at 10 (a distance of 5 or 15 blurs by half the
// radius, 20 and beyond by all of it), on `threads`.
dof::RenderedColour render(const dof::Frame& frame, double radius,
                           const dof::ApertureSettings& shape = {}, int threads = 1,
                           double sharpUntil = 0.0) {
    return dof::test::apertureRender(frame, radius, shape, threads, kFocus, sharpUntil);
}

// The share of a disc of radius r that lies beyond a line `t` from its
// centre (t negative: the line behind the centre).
double beyond(double t, double r) {
    if (t >= r) return 0.0;
    if (t <= -r) return 1.0;
    const double cap = r * r * std::acos(std::fabs(t) / r) - std::fabs(t) * std::sqrt(r * r - t * t);
    return t >= 0.0 ? cap / (kPi * r * r) : 1.0 - cap / (kPi * r * r);
}

enum class Right { Nothing, Sharp, Far };

// Rows of 96: red on the left half at distance `left`, on the right blue at
// the focus or at 40, or nothing; radius 12. A blurred red half reaches
// column c with the share of the disc around c that lies left of the edge,
// and its rows and the frame's left edge go on beyond the frame.
TEST(ApertureRender, EdgesAgainstTheDisc) {
    const struct {
        double left;
        Right right;
        double redRadius;  // 0: stays sharp
        const char* why;
    } cases[] = {
        {5, Right::Sharp, 6.0, "a blurred near object spreads over a sharp one behind it"},
        {5, Right::Far, 6.0, "and over a blurred one: a far object never covers its blur"},
        {5, Right::Nothing, 6.0, "over nothing: light kept, the half alpha stays at the edge"},
        {7, Right::Nothing, 3.6, "a fractional radius covers its rim by the share"},
        {40, Right::Nothing, 12.0, "a blurred far object over nothing, the same"},
        {40, Right::Sharp, 0.0, "a far blur never covers a sharp object: it fills behind it"},
        {kFocus, Right::Far, 0.0, "a sharp object before a blurred one keeps every pixel"},
    };
    const int w = 96, h = 16, edge = 48;
    for (const auto& c : cases) {
        dof::Frame frame = flatFrame(w, h);
        float red[4] = {1, 0, 0, 1}, blue[4] = {0, 0, 1, 1};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                if (x < edge)
                    setPixel(frame, x, y, red, c.left);
                else if (c.right != Right::Nothing)
                    setPixel(frame, x, y, blue, c.right == Right::Sharp ? kFocus : 40);
            }
        const dof::RenderedColour out = render(frame, 12.0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double share =
                    c.redRadius > 0 ? beyond(x + 0.5 - edge, c.redRadius) : double(x < edge);
                const double blue = c.right == Right::Nothing ? 0.0 : 1.0 - share;
                const double alpha = c.right == Right::Nothing ? share : 1.0;
                ASSERT_NEAR(at(out, w, x, y, 0), share, 2e-3) << c.why << " at " << x;
                ASSERT_NEAR(at(out, w, x, y, 2), blue, 2e-3) << c.why << " at " << x;
                ASSERT_NEAR(at(out, w, x, y, 3), alpha, 2e-3) << c.why << " at " << x;
                // Sharp pixels no nearer blur reaches keep the file's bytes.
                if ((c.right == Right::Sharp && x >= edge && c.left > kFocus) ||
                    (c.left == kFocus && x < edge))
                    ASSERT_EQ(at(out, w, x, y, c.left == kFocus ? 0 : 2), 1.0f) << c.why;
            }
    }
}

// A 4 x 4 lamp of 60 in a 120 x 120 frame, radius 16, in front of nothing,
// of a grey wall of 0.5 (in a farther slab, or just behind it in the same
// slab, or in front of the focus just behind a near lamp), or of grey where
// nothing was hit: the frame's light is the wall's (less the lamp's pixels)
// and the lamp's, to 0.3 %. With a ring, the lamp's antialiased edge: the 20
// pixels around it at the wall's depth hold a quarter of the lamp's light
// over the wall's, and none of it spreads beyond the lamp's own blur.
TEST(ApertureRender, LampKeepsItsLightAtAnyDepth) {
    const struct {
        double lamp, wall;  // wall 0: nothing behind
        bool ring;
    } cases[] = {{5, 0},         {5, kFocus},      {5, 40},      {5, kNoHit},
                 {7.5, kNoHit},  {15, 0},          {15, 40},     {15, kNoHit},
                 {20, 40},       {kFocus, 40},     {kNoHit, 0},  {30, kNoHit},
                 {15, 40, true}, {5, kNoHit, true}, {14, 15},      {18, 19},
                 {13, 17},       {5, 6},           {4, 5},       {6, 8},
                 {25, 30}};
    const int n = 120;
    for (const auto& c : cases) {
        dof::Frame frame = flatFrame(n, n);
        float grey[4] = {0.5f, 0.5f, 0.5f, 1}, lamp[4] = {60, 60, 60, 1};
        float edge[4] = {15.5f, 15.5f, 15.5f, 1};
        for (int p = 0; p < n * n && c.wall > 0; ++p) setPixel(frame, p % n, p / n, grey, c.wall);
        for (int p = 0; p < 36 && c.ring; ++p) setPixel(frame, 57 + p % 6, 57 + p / 6, edge, c.wall);
        for (int p = 0; p < 16; ++p) setPixel(frame, 58 + p % 4, 58 + p / 4, lamp, c.lamp);
        const dof::RenderedColour out = render(frame, 16.0);
        double sum = 0.0;
        for (float v : out.colour[0]) sum += v;
        const double wall = c.wall > 0 ? 0.5 * (n * n - 16) : 0.0;
        const double light = 16 * 60 + (c.ring ? 20 * 15 : 0);
        EXPECT_NEAR((sum - wall) / light, 1.0, 0.003)
            << "lamp at " << c.lamp << ", wall at " << c.wall << (c.ring ? ", ring" : "");
        // The ring's share of the lamp blurs with the lamp (radius 8), not
        // with the wall (16): beyond the lamp's disc the wall is as it was.
        double halo = 0.0;
        for (int y = 0; y < n && c.ring; ++y)
            for (int x = 0; x < n; ++x)
                if (std::hypot(x - 59.5, y - 59.5) > 12.0)
                    halo = std::max(halo, std::fabs(at(out, n, x, y, 0) - 0.5));
        EXPECT_LT(halo, 0.01) << "lamp at " << c.lamp << ", wall at " << c.wall;
    }
}

// Grey at 0.5, opaque, at 20 (radius 5.3): every pixel up to the frame's
// edges comes back as it was, whatever the shape.
TEST(ApertureRender, UniformFieldStaysUniform) {
    const struct {
        dof::ApertureSettings shape;
        double tolerance;
    } cases[] = {{{}, 1e-5},
                 {{5, 10.0, 0.3, 1.0, 0.0}, 1e-5},
                 {{0, 0.0, 0.0, 1.33, 0.0}, 1e-5},
                 {{6, 0.0, 0.0, 1.0, 1.0}, 1e-5}};
    for (const auto& c : cases) {
        dof::Frame frame = flatFrame(40, 30);
        float grey[4] = {0.5f, 0.5f, 0.5f, 1};
        for (int p = 0; p < 40 * 30; ++p) setPixel(frame, p % 40, p / 40, grey, 20);
        const dof::RenderedColour out = render(frame, 5.3, c.shape);
        for (std::size_t p = 0; p < out.alpha.size(); ++p) {
            ASSERT_NEAR(out.colour[1][p], 0.5, c.tolerance) << c.shape.blades << " at " << p;
            ASSERT_NEAR(out.alpha[p], 1.0, 2 * c.tolerance) << c.shape.blades << " at " << p;
        }
    }
}

// Random colours (beyond full scale, and light under zero alpha among them)
// and alphas, all at the focus: every value comes back as it was.
TEST(ApertureRender, AFrameAtTheFocusComesBackUnchanged) {
    dof::test::Random random(5);
    for (bool associated : {true, false}) {
        dof::Frame frame = flatFrame(23, 11);
        frame.associated = associated;
        for (int p = 0; p < 23 * 11; ++p) {
            const int kind = random.below(4);
            float v[4] = {float(2.5 * random.unit() - 0.25), float(random.unit()),
                          float(random.unit()),
                          kind == 0 ? 0.0f : (kind == 1 ? 1.0f : float(random.unit()))};
            setPixel(frame, p % 23, p / 23, v, kFocus);
        }
        const dof::RenderedColour out = render(frame, 12.0);
        EXPECT_TRUE(dof::test::sameColour(out, dof::storedColour(dof::RenderInput(frame))))
            << associated;
    }
}

// A plane tilted away from the camera, from the focus at the bottom row to
// twice its distance at the top, across every slab behind the focus (or
// towards it, to half the distance, across those in front): left
// half bright, right half dark. A seam between slabs would show as a row
// that is not opaque, whose mean is not the image's (the halves mirror each
// other), or where the edge's blurred side steps back as the blur grows.
// Within a slab each column near the edge goes row by row towards its side's
// value as the blur shrinks, never back by more than the rim's quantisation
// (1.3e-4 at most, 0.02 % of the edge's contrast); through the slabs'
// boundaries it does the same.
TEST(ApertureRender, TiltedPlaneShowsNoSeam) {
    const int w = 48, h = 200;
    for (bool nearer : {false, true}) {
        dof::Frame frame = flatFrame(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const float v = x < 24 ? 0.9f : 0.1f;
                float pixel[4] = {v, v, v, 1};
                const double t = 1.0 - double(y) / (h - 1);
                setPixel(frame, x, y, pixel, nearer ? kFocus / (1.0 + t) : kFocus * (1.0 + t));
            }
        const dof::RenderedColour out = render(frame, 6.0);
        for (int y = 0; y < h; ++y) {
            double sum = 0.0;
            for (int x = 0; x < w; ++x) {
                sum += at(out, w, x, y, 0);
                ASSERT_NEAR(at(out, w, x, y, 3), 1.0f, 1e-5) << x << "," << y;
                // Each column near the edge goes towards its own side's value.
                const float toward = x < 24 ? 1.0f : -1.0f;
                if (y > 0 && x >= 16 && x < 32)
                    EXPECT_GE(toward * (at(out, w, x, y, 0) - at(out, w, x, y - 1, 0)), -2e-4f)
                        << nearer << " at " << x << "," << y;
            }
            EXPECT_NEAR(sum / w, 0.5, 1e-4) << nearer << " row " << y;
        }
        EXPECT_EQ(at(out, w, 24, h - 1, 0), 0.1f);
        EXPECT_GT(at(out, w, 24, 0, 0), 0.4f);
    }
}

// A far surface (blurred by half the radius) whose last pixel holds, by its
// antialiasing, some of a nearer surface's colour (blurred by all of it);
// the flat frame renders as the deep frame whose edge pixel holds both
// surfaces, each at its own depth: the nearer share blurs with its surface
// and the far surface shows behind it.
TEST(ApertureRender, AntialiasedEdgeRendersAsItsTwoSurfaces) {
    const int w = 96, h = 8, edge = 40;
    const double farAt = 15.0, nearAt = kFocus / 3.0;
    const float far[4] = {0.2f, 0.2f, 0.8f, 1.0f}, near[4] = {0.9f, 0.1f, 0.1f, 1.0f};
    for (const float mix : {0.25f, 0.5f, 0.75f}) {
        dof::Frame flat = flatFrame(w, h), deep = flatFrame(w, h);
        deep.deep = true;
        deep.fragments.resize(std::size_t(w * h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                float v[4];
                const float m = x < edge ? 0.0f : x == edge ? mix : 1.0f;
                for (int c = 0; c < 4; ++c) v[c] = far[c] * (1.0f - m) + near[c] * m;
                setPixel(flat, x, y, v, x <= edge ? farAt : nearAt);
                setPixel(deep, x, y, v, x <= edge ? farAt : nearAt);
                dof::PixelFragments& pixel = deep.fragments[std::size_t(y * w + x)];
                pixel.alpha = 1.0;
                const auto sample = [&](double at, double weight, const float* colour) {
                    pixel.fragments.push_back(
                        {at, weight, {weight * colour[0], weight * colour[1], weight * colour[2]}});
                };
                if (x == edge) sample(nearAt, mix, near);
                if (x <= edge) sample(farAt, 1.0 - m, far);
                if (x > edge) sample(nearAt, 1.0, near);
            }
        const dof::RenderedColour a = render(flat, 16.0), b = render(deep, 16.0);
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c)
                ASSERT_NEAR(at(a, w, x, h / 2, c), at(b, w, x, h / 2, c), 2e-6)
                    << "mix " << mix << " at " << x << ", channel " << c;
    }
}

// Deep pixels, each a half-transparent grey at the focus over a far sample
// (0.1, or a lamp of 60 in the middle): the far samples blur by their own
// radius behind the sharp ones, which dim them by half.
TEST(ApertureRender, DeepSamplesBlurAtTheirOwnDepths) {
    const int n = 64, c = 32;
    dof::Frame frame = flatFrame(n, n);
    frame.deep = true;
    frame.fragments.resize(std::size_t(n * n));
    for (int p = 0; p < n * n; ++p) {
        const double v = p == c * n + c ? 60.0 : 0.1;
        dof::PixelFragments& pixel = frame.fragments[std::size_t(p)];
        pixel.alpha = 1.0;
        pixel.fragments = {{kFocus, 0.5, {0.25, 0.25, 0.25}}, {40.0, 0.5, {0.5 * v, 0.5 * v, 0.5 * v}}};
        float flat[4] = {float(0.25 + 0.5 * v), float(0.25 + 0.5 * v), float(0.25 + 0.5 * v), 1};
        setPixel(frame, p % n, p / n, flat, kFocus);
    }
    const dof::RenderedColour out = render(frame, 12.0);
    double sum = 0.0;
    for (float v : out.colour[0]) sum += v;
    EXPECT_NEAR(sum, 0.25 * n * n + 0.5 * (0.1 * (n * n - 1) + 60.0), 0.001 * 30.0);
    EXPECT_GT(at(out, n, c + 11, c, 0), 0.3f + 0.5f * 60.0f / 500.0f);
    EXPECT_NEAR(at(out, n, c + 13, c, 0), 0.3f, 1e-5);
    EXPECT_NEAR(at(out, n, c, c + 13, 0), 0.3f, 1e-5);
}

// The built-in scene, focus on the card at 6, sharp to 7, radius 8: the
// composite stays opaque; the card keeps every pixel wherever no nearer blur
// reaches (8 pixels); bands on three threads give one thread's bytes.
TEST(ApertureRender, BuiltInSceneStaysOpaqueOnAnyNumberOfThreads) {
    const dof::Frame scene = dof::demoFrame(320, 180);
    dof::AperturePlan plan;
    const auto renderScene = [&](int threads) {
        plan.blur.depth.scale.focalDepth = -6.0;
        plan.blur.depth.scale.focusRangeDepth = -7.0;
        plan.blur.focus = dof::FocusDepths{-6.0, -7.0};
        plan.blur.radius = 8.0;
        dof::TaskPool pool(threads - 1);
        dof::FrameRenderContext context;
        context.pool = &pool;
        context.threads = threads;
        dof::runtime::PassSeconds seconds{};
        dof::RenderedColour out;
        dof::renderAperture(dof::RenderInput(scene), plan, context, &out, &seconds);
        return out;
    };
    const dof::RenderedColour one = renderScene(1), three = renderScene(3);
    EXPECT_TRUE(dof::test::sameColour(three, one));
    const auto nearerAround = [&](int x, int y) {
        for (int j = std::max(0, y - 8); j < std::min(scene.height(), y + 9); ++j)
            for (int i = std::max(0, x - 8); i < std::min(scene.width(), x + 9); ++i)
                if (scene.distance[std::size_t(j * scene.width() + i)] < 6.0) return true;
        return false;
    };
    int card = 0;
    for (int y = 0; y < scene.height(); ++y)
        for (int x = 0; x < scene.width(); ++x) {
            ASSERT_NEAR(at(one, scene.width(), x, y, 3), 1.0f, 1e-5) << x << "," << y;
            if (scene.distance[std::size_t(y * scene.width() + x)] != 6.0 || nearerAround(x, y))
                continue;
            ++card;
            for (int ch = 0; ch < 4; ++ch)
                ASSERT_EQ(at(one, scene.width(), x, y, ch), scene.value(std::size_t(y * 320 + x), ch))
                    << x << "," << y;
        }
    EXPECT_GT(card, 1000);
}

}  // namespace
