// The fill of a slab's holes, against the literal rule worked out pixel by
// pixel: each hole looks up, down, left and right for the nearest pixel that
// is not wholly covered, within reach. The fill skips the rows and the
// clearing that cannot change it; on random scenes it must agree bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "render/aperture_fill.h"
#include "render/aperture_spread.h"
#include "render/flat_frame.h"
#include "render/render_input.h"
#include "support/random.h"

namespace {

using dof::SpreadFragment;

struct Pixel {
    float rgba[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    float radius = 0.0f, weight = 0.0f;
    bool own = false;
};

// The slab at (x, y) as the fill's rule sees it; an empty pixel outside.
Pixel pixelAt(const dof::ApertureFragments& f, int slab, const std::vector<float>& cover, int x,
              int y) {
    Pixel p;
    if (x < 0 || y < 0 || x >= f.width() || y >= f.height()) return p;
    int count = 0;
    for (auto g = f.begin(slab, y); g != f.end(slab, y); ++g) {
        if (g->x != x) continue;
        for (int c = 0; c < 4; ++c) p.rgba[c] += g->rgba[c];
        p.radius += float(dof::keyRadius(g->key));
        ++count;
    }
    if (count > 0) {
        p.radius /= float(count);
        p.weight = 1.0f, p.own = true;
        return p;
    }
    const float c = cover[std::size_t(y) * std::size_t(f.width()) + std::size_t(x)];
    p.weight = c < 1.0f - 1e-6f ? 1.0f - c : 0.0f;
    return p;
}

// The literal fill of one slab, row by row.
std::vector<std::vector<SpreadFragment>> literalFill(const dof::ApertureFragments& f, int slab,
                                                     const std::vector<float>& cover, int reach) {
    std::vector<std::vector<SpreadFragment>> rows(std::size_t(f.height()));
    const int steps[4][2] = {{0, -1}, {0, 1}, {-1, 0}, {1, 0}};  // up, down, left, right
    for (int y = 0; y < f.height(); ++y)
        for (int x = 0; x < f.width(); ++x) {
            const Pixel here = pixelAt(f, slab, cover, x, y);
            const float hole =
                here.own ? 0.0f : cover[std::size_t(y) * std::size_t(f.width()) + std::size_t(x)];
            if (!(hole > 0.0f)) continue;
            double rgba[4] = {0, 0, 0, 0}, weight = 0, radius = 0, ownWeight = 0;
            for (const auto& step : steps) {
                int d = 1;
                while (d <= reach && pixelAt(f, slab, cover, x + step[0] * d, y + step[1] * d)
                                             .weight <= 0.0f)
                    ++d;
                const int sx = x + step[0] * d, sy = y + step[1] * d;
                if (d > reach || sx < 0 || sy < 0 || sx >= f.width() || sy >= f.height())
                    continue;
                const Pixel s = pixelAt(f, slab, cover, sx, sy);
                const Pixel next = pixelAt(f, slab, cover, sx + step[0], sy + step[1]);
                const double w = double(s.weight) / d;
                const Pixel& colour = s.own && next.own ? next : s;
                for (int c = 0; c < 4; ++c) rgba[c] += w * colour.rgba[c];
                weight += w;
                if (!s.own) continue;
                const double slope = next.own ? double(s.radius) - double(next.radius) : 0.0;
                radius += w * dof::extendedRadius(s.radius, slope, d);
                ownWeight += w;
            }
            if (!(ownWeight > 0.0)) continue;
            SpreadFragment fill{x, dof::radiusKey(radius / ownWeight), {}};
            for (int c = 0; c < 4; ++c) fill.rgba[c] = float(hole * rgba[c] / weight);
            rows[std::size_t(y)].push_back(fill);
        }
    return rows;
}

// A scene of bands of rows, each at one distance and under one kind of
// cover (none, partial, whole), with pixels strewn at other distances: it
// has surfaces in a slab with rows of none of it between them, and open
// pixels beyond whole covers, as the fill's row skipping meets them.
struct Scene {
    dof::Frame frame;
    std::vector<float> cover;
};

Scene randomScene(std::uint32_t seed, int width, int height) {
    dof::test::Random random(seed);
    Scene s{dof::test::flatFrame(width, height), std::vector<float>(std::size_t(width * height))};
    const double distances[] = {4.0, 7.0, 10.0, 16.0, 30.0};
    const float covers[] = {0.0f, 0.4f, 1.0f};
    for (int y = 0; y < height;) {
        const int rows = random.between(2, 14);
        const double distance = distances[random.below(5)];
        const float cover = covers[random.below(3)];
        const int strewn = random.chance(50) ? 0 : 20;  // percent of pixels elsewhere
        for (int end = std::min(height, y + rows); y < end; ++y)
            for (int x = 0; x < width; ++x) {
                const float v[4] = {float(random.unit()), float(random.unit()),
                                    float(random.unit()), 1.0f};
                dof::test::setPixel(s.frame, x, y, v,
                                    random.chance(strewn) ? distances[random.below(5)] : distance);
                s.cover[std::size_t(y * width + x)] = random.chance(strewn / 2) ? 0.7f : cover;
            }
    }
    return s;
}

TEST(SlabFill, EverySlabMatchesTheLiteralRuleOnRandomScenes) {
    constexpr int kWidth = 40, kHeight = 72, kReach = 6;
    dof::TaskPool pool(1);
    int filled = 0;
    for (std::uint32_t seed = 1; seed <= 24; ++seed) {
        const Scene scene = randomScene(seed, kWidth, kHeight);
        dof::AperturePlan plan;
        plan.blur.depth.scale.focalDepth = -10.0;
        plan.blur.focus = dof::FocusDepths{-10.0, 0.0};
        plan.blur.radius = 5.0;
        const dof::RenderInput input(scene.frame);
        const dof::ApertureShape shape(plan.shape, kWidth, kHeight);
        const dof::ApertureFragments fragments(input, plan.blur, shape, 6, &pool, 2);
        for (int slab = 0; slab < fragments.slabs().count(); ++slab) {
            const dof::SlabFill fill(fragments, slab, scene.cover, kReach, &pool, 2);
            const auto literal = literalFill(fragments, slab, scene.cover, kReach);
            for (int y = 0; y < kHeight; ++y) {
                const std::vector<SpreadFragment>& want = literal[std::size_t(y)];
                ASSERT_EQ(std::size_t(fill.end(y) - fill.begin(y)), want.size())
                    << "seed " << seed << " slab " << slab << " row " << y;
                for (std::size_t i = 0; i < want.size(); ++i) {
                    const SpreadFragment& got = fill.begin(y)[i];
                    ASSERT_EQ(got.x, want[i].x);
                    ASSERT_EQ(got.key, want[i].key) << "seed " << seed << " row " << y;
                    ASSERT_TRUE(dof::test::sameBytes(got.rgba, want[i].rgba, sizeof got.rgba))
                        << "seed " << seed << " slab " << slab << " (" << got.x << ", " << y
                        << ")";
                }
                filled += int(want.size());
            }
        }
    }
    EXPECT_GT(filled, 1000);  // the scenes do make holes to fill
}

}  // namespace
