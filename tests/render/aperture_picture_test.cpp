// Rendering through a picture of the aperture: a point becomes the picture
// at its size with all of its light, a disc drawn as a picture matches the
// disc, and what must not change does not.
#include "render/aperture_picture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "demo/demo_frame.h"
#include "render/aperture_render.h"
#include "render/flat_frame.h"

namespace {

constexpr double kFocus = 10.0;

using dof::test::flatFrame;
using dof::test::setPixel;
using Inside = std::function<bool(double u, double v)>;  // u right, v down, radii

// An n x n picture of `inside`, each pixel the share of 8 x 8 samples in it.
std::shared_ptr<dof::AperturePicture> picture(int n, const Inside& inside) {
    std::vector<float> grey(std::size_t(n) * std::size_t(n), 0.0f);
    for (int p = 0; p < n * n; ++p)
        for (int s = 0; s < 64; ++s) {
            const double u = (p % n + (s % 8 + 0.5) / 8) * 2 / n - 1;
            const double v = (p / n + (s / 8 + 0.5) / 8) * 2 / n - 1;
            grey[std::size_t(p)] += inside(u, v) ? 1.0f / 64 : 0.0f;
        }
    auto made = std::make_shared<dof::AperturePicture>();
    std::string error;
    EXPECT_TRUE(dof::makeAperturePicture(n, n, grey, made.get(), &error)) << error;
    return made;
}

const Inside kDisc = [](double u, double v) { return u * u + v * v <= 1.0; };
const Inside kRing = [](double u, double v) {
    return u * u + v * v <= 1.0 && u * u + v * v >= 0.36;
};
// A dot up and to the left, centred at (-0.5, -0.5) radii.
const Inside kUpLeft = [](double u, double v) { return std::hypot(u + 0.5, v + 0.5) <= 0.25; };

// Renders `frame` focused at `focus`, sharp to `sharpUntil`.
dof::RenderedColour render(const dof::Frame& frame, double radius,
                           const dof::ApertureSettings& shape, int threads = 1,
                           double focus = kFocus, double sharpUntil = 0.0) {
    return dof::test::apertureRender(frame, radius, shape, threads, focus, sharpUntil);
}

// A point of 100 at (48, 48) of a 96 x 96 frame of nothing, radius 20 (at
// 40, or in front of the focus at 5 where the blur is half of it): its light
// within 0.1 %; its centre of light where the picture's is, the right way
// round and up (not flipped in front of the focus); its spread (the mean
// squared distance from that centre) the picture's at its size, to 1 % (10 %
// for a small dot, whose pixels add to it); no light where the picture has
// none. Just past a pixel's size, the light is shared with the first rung.
TEST(AperturePicture, PointBecomesThePicture) {
    const struct {
        const Inside* inside;
        double radius, distance, squeeze;
        double du, dv;   // centre of light, in radii
        double spread;   // mean squared distance from it, in radii squared; 0: any
        double emptyIn;  // radii about the centre holding no light
        const char* why;
    } cases[] = {
        {&kDisc, 20, 40, 1.0, 0, 0, 0.5, 0, "a disc, behind the focus"},
        {&kRing, 20, 40, 1.0, 0, 0, (1 + 0.36) / 2, 0.6 - 0.12, "a ring has a hole in it"},
        {&kRing, 20, 5, 1.0, 0, 0, (1 + 0.36) / 2, 0.6 - 0.12, "in front: at half the size"},
        {&kUpLeft, 20, 40, 1.0, -0.5, -0.5, 0.25 * 0.25 / 2, 0, "off the centre: up and left"},
        {&kUpLeft, 20, 5, 1.0, -0.5, -0.5, 0.25 * 0.25 / 2, 0, "in front: not flipped"},
        {&kUpLeft, 20, 40, 1.5, -0.5, -0.75, 0.25 * 0.25 / 2 * (1 + 2.25) / 2, 0,
         "squeezed upright"},
        {&kDisc, 0.52, 40, 1.0, 0, 0, 0, 0, "between the pixel and the first rung"},
    };
    const int n = 96, centre = 48;
    for (const auto& c : cases) {
        dof::Frame frame = flatFrame(n, n);
        const float point[4] = {100, 100, 100, 1};
        setPixel(frame, centre, centre, point, c.distance);
        dof::ApertureSettings shape;
        shape.squeeze = c.squeeze;
        shape.picture = picture(64, *c.inside);
        const dof::RenderedColour out = render(frame, c.radius, shape);
        const double r = c.distance == 40 ? c.radius : c.radius / 2;
        double light = 0, u = 0, v = 0;
        for (int p = 0; p < n * n; ++p) {
            light += out.colour[0][std::size_t(p)];
            u += out.colour[0][std::size_t(p)] * (p % n - centre);
            v += out.colour[0][std::size_t(p)] * (p / n - centre);
        }
        u /= light, v /= light;
        double spread = 0, hole = 0;
        for (int p = 0; p < n * n; ++p) {
            const double x = (p % n - centre) / r, y = (p / n - centre) / r;
            spread += out.colour[0][std::size_t(p)] * (x * x + y * y);
            if (std::hypot(x, y) < c.emptyIn) hole += out.colour[0][std::size_t(p)];
        }
        EXPECT_NEAR(light / 100, 1.0, 1e-3) << c.why;
        EXPECT_NEAR(u, c.du * r, 0.02 * r) << c.why;
        EXPECT_NEAR(v, c.dv * r, 0.02 * r) << c.why;
        const double moment = spread / light - (u * u + v * v) / (r * r);
        if (c.spread > 0) {
            EXPECT_NEAR(moment / c.spread, 1.0, c.spread > 0.1 ? 0.01 : 0.1) << c.why;
        }
        EXPECT_LT(hole / light, 1e-4) << c.why;
    }
}

// Grey at 0.5, opaque, at 20 (radius 5.3, or 1.8 where the kernels are
// added fragment by fragment): every pixel up to the frame's edges comes back
// as it was, whatever the picture.
TEST(AperturePicture, UniformFieldStaysUniform) {
    const struct {
        const Inside* inside;
        double radius;
    } cases[] = {{&kDisc, 5.3}, {&kRing, 5.3}, {&kUpLeft, 5.3}, {&kDisc, 1.8}, {&kUpLeft, 1.8}};
    for (const auto& c : cases) {
        dof::Frame frame = flatFrame(40, 30);
        const float grey[4] = {0.5f, 0.5f, 0.5f, 1};
        for (int p = 0; p < 40 * 30; ++p) setPixel(frame, p % 40, p / 40, grey, 20);
        dof::ApertureSettings shape;
        shape.picture = picture(32, *c.inside);
        const dof::RenderedColour out = render(frame, c.radius, shape);
        for (std::size_t p = 0; p < out.alpha.size(); ++p) {
            ASSERT_NEAR(out.colour[1][p], 0.5, 1e-5) << c.radius << " at " << p;
            ASSERT_NEAR(out.alpha[p], 1.0, 1e-5) << c.radius << " at " << p;
        }
    }
}

// The built-in scene, focus on the card at 6, sharp to 7, radius 8, through a disc drawn
// as a picture and through the disc itself: the same to 2 % of the frame's
// brightest value (the picture's rim is a mix of two sizes 6 % apart) and
// to 0.1 % on average; the card keeps every pixel wherever no nearer blur
// reaches (8 pixels, and the next rung's 6 % more); three threads give one
// thread's bytes.
TEST(AperturePicture, DiscPictureMatchesTheDiscOnAnyNumberOfThreads) {
    const dof::Frame scene = dof::demoFrame(320, 180);
    dof::ApertureSettings drawn;
    drawn.picture = picture(128, kDisc);
    const dof::RenderedColour disc = render(scene, 8.0, {}, 1, 6.0, 7.0);
    const dof::RenderedColour one = render(scene, 8.0, drawn, 1, 6.0, 7.0);
    EXPECT_TRUE(dof::test::sameColour(render(scene, 8.0, drawn, 3, 6.0, 7.0), one));
    const int w = scene.width(), h = scene.height();
    const auto nearerAround = [&](int x, int y) {
        for (int j = std::max(0, y - 9); j < std::min(h, y + 10); ++j)
            for (int i = std::max(0, x - 9); i < std::min(w, x + 10); ++i)
                if (scene.distance[std::size_t(j * w + i)] < 6.0) return true;
        return false;
    };
    double brightest = 0, difference = 0, largest = 0;
    int card = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t p = std::size_t(y * w + x);
            for (int c = 0; c < 4; ++c) {
                const double d = dof::test::valueAt(one, p, c) - dof::test::valueAt(disc, p, c);
                brightest = std::max(brightest, double(dof::test::valueAt(disc, p, c)));
                difference += std::fabs(d) / (4.0 * w * h);
                largest = std::max(largest, std::fabs(d));
            }
            if (scene.distance[p] != 6.0 || nearerAround(x, y)) continue;
            ++card;
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(dof::test::valueAt(one, p, c), scene.value(p, c)) << x << "," << y;
        }
    EXPECT_LT(largest, 0.02 * brightest);
    EXPECT_LT(difference, 1e-3 * brightest);
    EXPECT_GT(card, 1000);
}

// A point of 100 on the frame's edges or in a corner, radius 20: the frame
// goes on beyond them as its edge pixels, so the light the frame gets back
// from the point and its copies is the disc's, to 0.5 %.
TEST(AperturePicture, EdgesGoOnAsTheDiscsDo) {
    const struct { int x, y; } cases[] = {{0, 30}, {30, 0}, {63, 30}, {30, 63}, {0, 0}, {63, 63}};
    dof::ApertureSettings drawn;
    drawn.picture = picture(128, kDisc);
    for (const auto& c : cases) {
        dof::Frame frame = flatFrame(64, 64);
        const float point[4] = {100, 100, 100, 1};
        setPixel(frame, c.x, c.y, point, 40);
        double light[2] = {0, 0};
        for (int i = 0; i < 2; ++i)
            for (float v : render(frame, 20.0, i ? drawn : dof::ApertureSettings{}).colour[0])
                light[i] += v;
        EXPECT_NEAR(light[1] / light[0], 1.0, 5e-3) << c.x << "," << c.y;
    }
}

// Pictures with no light in them are refused; the reach is the farthest
// corner of a pixel with light, in half the larger side.
TEST(AperturePicture, MadeFromGreyValues) {
    const float kNaN = std::nanf("");
    const struct {
        int width, height;
        std::vector<float> grey;
        double reach;  // 0: refused
    } cases[] = {
        {3, 3, {0, 0, 0, 0, 2, 0, 0, 0, 0}, std::sqrt(0.5) / 1.5},
        {3, 1, {0, 0, 1}, std::hypot(1.5, 0.5) / 1.5},
        {1, 3, {1, 0, 0}, std::hypot(0.5, 1.5) / 1.5},
        {2, 2, {0, -1, kNaN, 0}, 0},
        {0, 0, {}, 0},
    };
    for (const auto& c : cases) {
        dof::AperturePicture made;
        std::string error;
        EXPECT_EQ(dof::makeAperturePicture(c.width, c.height, c.grey, &made, &error), c.reach > 0);
        if (c.reach > 0) {
            EXPECT_DOUBLE_EQ(made.reach, c.reach);
        }
    }
}

}  // namespace
