// A slab's tiles and the summed-area table they count fragments with: the
// tiles give every fragment to exactly one render, skip what no fragment
// reaches, and a dear tile is cut into bands of about equal work.
#include "render/slab_tiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "render/area_sums.h"

namespace {

using dof::Rect;

TEST(AreaSums, SumsOverTheRectanglesPartInTheWindow) {
    const Rect window{2, 3, 7, 5};
    const auto value = [](int x, int y) { return std::int64_t(10 * x + y); };
    const dof::AreaSums<std::int64_t> sums(window, nullptr, 1, value);
    const Rect cases[] = {{2, 3, 7, 5}, {4, 4, 2, 3}, {0, 0, 4, 5},  {8, 7, 5, 5},
                          {9, 3, 2, 2}, {2, 3, 1, 1}, {-5, 5, 20, 1}, {5, 5, 0, 3}};
    for (const Rect& r : cases) {
        std::int64_t expected = 0;
        for (int y = r.y; y < r.yend(); ++y)
            for (int x = r.x; x < r.xend(); ++x)
                if (window.contains(x, y)) expected += value(x, y);
        EXPECT_EQ(sums.sum(r), expected) << r.x << "," << r.y << " " << r.width << "x" << r.height;
    }
    // Columns 4..6 and rows 5..7 of the window.
    EXPECT_EQ(sums.around(5, 6, 1, 1), 3 * (40 + 50 + 60) + 3 * (5 + 6 + 7));
}

// A slab of `width` x `height` whose fragments are the pixels of `blobs`.
struct SlabScene {
    SlabScene(int width, int height, const std::vector<Rect>& blobs, int reach) {
        slab.area = Rect{0, 0, width, height};
        slab.gbuffers.reset(new dof::runtime::GBufferSet(width, height));
        slab.gbuffers->addCoverage();
        for (const Rect& b : blobs)
            for (int y = b.y; y < b.yend(); ++y)
                for (int x = b.x; x < b.xend(); ++x) slab.gbuffers->coverage(x, y) = 255;
        slab.reachX = slab.reachY = reach;
        slab.footprint = double((2 * reach + 1) * (2 * reach + 1));
    }
    dof::SlabBuffers slab;
};

// How many of the tasks' rows hold each covered pixel: one each; and every
// task's region holds its rows inside the slab.
void expectEveryFragmentOnce(const SlabScene& s, const std::vector<dof::BandTask>& tasks) {
    for (const dof::BandTask& t : tasks) {
        EXPECT_EQ(dof::intersection(t.band.rows, t.band.region), t.band.rows);
        EXPECT_EQ(dof::intersection(t.band.region, s.slab.area), t.band.region);
    }
    int wrong = 0;
    for (int y = 0; y < s.slab.area.height; ++y)
        for (int x = 0; x < s.slab.area.width; ++x) {
            if (s.slab.gbuffers->coverage(x, y) == 0) continue;
            const auto holds = [&](const dof::BandTask& t) { return t.band.rows.contains(x, y); };
            wrong += std::count_if(tasks.begin(), tasks.end(), holds) != 1;
        }
    EXPECT_EQ(wrong, 0) << "covered pixels not in exactly one task";
}

double workOf(const std::vector<dof::BandTask>& tasks) {
    double sum = 0.0;
    for (const dof::BandTask& t : tasks) sum += t.work;
    return sum;
}

TEST(SlabTiling, ScatteredFragmentsGetSmallTilesThatSkipTheEmpty) {
    const SlabScene s(600, 400, {{10, 10, 20, 20}, {560, 360, 30, 30}}, 3);
    const dof::SlabTiling tiling(s.slab);
    const std::vector<dof::BandTask> tasks = tiling.tasks(0.0);
    expectEveryFragmentOnce(s, tasks);
    EXPECT_DOUBLE_EQ(tiling.work(), workOf(tasks));
    std::size_t regionPixels = 0;
    for (const dof::BandTask& t : tasks) regionPixels += t.band.region.pixels();
    // Each region is cut to the fragments it reaches, grown by the reach.
    EXPECT_EQ(regionPixels, std::size_t(26 * 26 + 36 * 36));
    EXPECT_EQ(tasks.front().buffers.gbuffers, s.slab.gbuffers.get());
}

TEST(SlabTiling, EmptySlabNeedsNoRender) {
    const SlabScene s(50, 40, {}, 3);
    const dof::SlabTiling tiling(s.slab);
    EXPECT_EQ(tiling.work(), 0.0);
    EXPECT_TRUE(tiling.tasks(0.0).empty());
}

TEST(SlabTiling, DearTileIsCutIntoBandsOfAboutEqualWork) {
    const SlabScene s(200, 120, {{0, 0, 200, 120}}, 4);
    const dof::SlabTiling tiling(s.slab);
    ASSERT_EQ(tiling.tasks(0.0).size(), 1u);
    const double share = tiling.work() / 4.0;
    const std::vector<dof::BandTask> bands = tiling.tasks(share);
    expectEveryFragmentOnce(s, bands);
    ASSERT_EQ(bands.size(), 4u);
    double least = bands.front().work, most = least;
    for (const dof::BandTask& b : bands) {
        least = std::min(least, b.work), most = std::max(most, b.work);
        // Across the longer side: columns.
        EXPECT_EQ(b.band.rows.height, 120);
    }
    EXPECT_LT(most, 1.05 * least);
}

}  // namespace
