// The splatting pass asks the host whether to stop between bands: first
// after more than 100 clock ticks, then at most once per 100 ticks, and at
// every poll the planes hold what the literal walk holds after a whole
// number of pixels. A stop splats nothing more. Every footprint covers the
// whole region, so every pixel changes every plane element.
#include <gtest/gtest.h>

#include <ctime>
#include <vector>

#include "render/render_scene.h"

namespace rendertest {
namespace {

class AbortTest : public RenderTest {};

TEST_F(AbortTest, PollsSeeWholePixelsAndAStopSplatsNothingMore) {
    scene(kQVBitmapRGBA16, 48, 40, 7, kCoverage | kColour | kLayers);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 48; ++x) gbuffers->set.depth(x, y) = -30.0f;  // fully blurred
    settings.method = 2.0;
    settings.radius = 30.0;  // hats 60 pixels out
    const std::size_t elements = 48 * 40;
    for (const SplatWalkTuning& tuning :
         {SplatWalkTuning{kSplatBest, 3000, 16, 16}, SplatWalkTuning{kSplatSSE2, 9000, 7, 8}}) {
        splat_walk_tuning() = tuning;
        for (unsigned stopAt : {1u, 3u, 0u}) {
            std::vector<doftest::ReferencePlanes> seen;
            std::vector<std::clock_t> when;
            const std::clock_t start = std::clock();
            instance->setAbortHandler([&] {
                when.push_back(std::clock());
                seen.push_back(planesOf(*instance->parameters(), elements));
                return seen.size() == stopAt;
            });
            doftest::ReferencePlanes last;
            renderWatched(true, *source, *destination, &gbuffers->set, settings,
                          [&](const Parameters& p) {
                              last = planesOf(p, elements);
                              when.push_back(std::clock());
                          });
            instance->setAbortHandler(nullptr);

            const std::size_t polls = when.size() - 1;
            ASSERT_GE(polls, stopAt == 0 ? 2u : stopAt) << "the pass lasts many polls";
            if (stopAt != 0) {
                ASSERT_EQ(polls, stopAt);
            }
            // More than 100 ticks before the first poll and between polls.
            EXPECT_GT(when[0] - start, std::clock_t(100));
            EXPECT_GT(when[polls] - start, std::clock_t(100 * polls));
            if (stopAt != 0) {
                EXPECT_TRUE(samePlanes(last, seen.back())) << "nothing after a stop";
            }

            // Each poll's planes are the literal walk's after some pixel, in
            // order; the weight of element 0 rises with every pixel.
            std::size_t matched = 0;
            settings.region = {0, 0, 48, 40};
            doftest::referenceSplatPlanes(settings, *source, gbuffers->set.table(),
                                          [&](const doftest::ReferencePlanes& planes) {
                                              while (matched < seen.size() &&
                                                     planes[9][0] == seen[matched][9][0] &&
                                                     samePlanes(planes, seen[matched]))
                                                  ++matched;
                                              return matched < seen.size();
                                          });
            EXPECT_EQ(matched, seen.size()) << "stop at poll " << stopAt;
        }
    }
}

}  // namespace
}  // namespace rendertest
