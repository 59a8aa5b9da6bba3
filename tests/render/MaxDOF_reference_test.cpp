// Whole renders of random scenes against the literal reference, in every
// format and both methods, over several layouts of output rectangles.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/render_scene.h"

namespace rendertest {
namespace {

struct Tiling {
    const char* name;
    std::vector<QVRect> rects;  // relative to the region's top-left corner
    // Full-width bands visit the pixels in the order of one rectangle; other
    // tilings splat in another order, whose sums may round differently.
    bool keepsPixelOrder;
};

// The region is 11 x 9 pixels at (3, 2) of a 16 x 13 image.
const QVRect kRegion{3, 2, 11, 9};

std::vector<Tiling> tilings() {
    return {
        {"one rectangle", {}, true},
        {"rows", {{0, 0, 11, 4}, {0, 4, 11, 5}}, true},
        {"2-D tiles", {{0, 0, 5, 4}, {5, 0, 6, 4}, {0, 4, 5, 5}, {5, 4, 6, 5}}, false},
        {"uneven tiles in odd order",
         {{7, 6, 4, 3}, {0, 0, 1, 9}, {1, 0, 10, 2}, {1, 2, 6, 7}, {7, 2, 4, 4}},
         false},
    };
}

std::vector<QVRect> absolute(const std::vector<QVRect>& rects) {
    std::vector<QVRect> out;
    for (QVRect r : rects)
        out.push_back({kRegion.left + r.left, kRegion.top + r.top, r.width, r.height});
    return out;
}

struct SceneCase {
    const char* name;
    SceneOptions options;
    double radius;
    double focusRangeDepth;
    double scaleX;
};

const std::vector<SceneCase>& sceneCases() {
    static const std::vector<SceneCase> cases = {
        {"every channel", {true, true, false, true, true}, 2.5, 0.0, 1.0},
        {"shared exponent colour", {true, true, true, true, true}, 1.75, 0.0, 1.0},
        {"sharp zone and wide pixels", {true, true, false, true, true}, 3.0, -20.0, 1.5},
        {"no colour channel: source colour", {true, false, false, true, false}, 2.0, 0.0, 1.0},
        {"no transparency", {true, true, false, false, true}, 1.25, 0.0, 1.0},
        {"large radius", {true, true, true, true, true}, 6.0, 0.0, 1.0},
    };
    return cases;
}

class ReferenceScenes : public RenderTest, public ::testing::WithParamInterface<QVBitmapType> {};

TEST_P(ReferenceScenes, BothMethodsEveryTilingMatchReference) {
    const QVBitmapType format = GetParam();
    std::uint32_t seed = 1000u + unsigned(format) * 100u;
    for (const SceneCase& scene : sceneCases()) {
        for (double method : {1.0, 2.0}) {
            for (const Tiling& tiling : tilings()) {
                Random random(seed++);
                auto source = makeImage(format, 16, 13);
                auto destination = makeImage(format, 16, 13);
                fillSource(*source, random);
                fillBytes(*destination, random);
                auto gbuffers = makeGBuffers(16, 13, random, scene.options);
                RenderSettings settings;
                settings.radius = scene.radius;
                settings.method = method;
                settings.focalDepth = -10.0;
                settings.focusRangeDepth = scene.focusRangeDepth;
                settings.scaleX = scene.scaleX;
                settings.pixelAspect = 1.0;
                settings.scaleY = 0.75;
                settings.region = kRegion;
                settings.outputRects = absolute(tiling.rects);
                expectMatchesReference(*source, *destination, gbuffers.get(), settings,
                                       std::string(formatName(format)) + ", " + scene.name +
                                           ", method " + std::to_string(int(method)) + ", " +
                                           tiling.name);
            }
        }
    }
}

// The tilings of one scene give the same bytes as one rectangle: every
// tiling for the box average (the radius map of tiles that share rows
// included), and the bands that keep the splatting order for splatting.
TEST_P(ReferenceScenes, TilingsGiveTheBytesOfOneRectangle) {
    const QVBitmapType format = GetParam();
    for (double method : {1.0, 2.0}) {
        std::vector<std::uint8_t> whole;
        for (const Tiling& tiling : tilings()) {
            if (method == 2.0 && !tiling.keepsPixelOrder) continue;
            Random random(77u + unsigned(format));
            auto source = makeImage(format, 16, 13);
            auto destination = makeImage(format, 16, 13);
            fillSource(*source, random);
            fillBytes(*destination, random);
            auto gbuffers = makeGBuffers(16, 13, random, SceneOptions());
            RenderSettings settings;
            settings.radius = 3.5;
            settings.method = method;
            settings.focalDepth = -10.0;
            settings.region = kRegion;
            settings.outputRects = absolute(tiling.rects);
            ASSERT_TRUE(run(*source, *destination, gbuffers.get(), settings).ok);
            if (whole.empty()) {
                whole = bufferBytes(*destination);
            } else {
                EXPECT_TRUE(whole == bufferBytes(*destination))
                    << formatName(format) << ", method " << method << ", " << tiling.name;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ReferenceScenes, ::testing::ValuesIn(kAllFormats),
                         [](const ::testing::TestParamInfo<QVBitmapType>& info) {
                             return std::string(formatName(info.param));
                         });

}  // namespace
}  // namespace rendertest
