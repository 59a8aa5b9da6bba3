// The built-in scene: the channels as the effect reads them and pixels
// worked out by hand from the scene's geometry.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/DemoScene.h"
#include "support/effect_fixture.h"

namespace {

using dofrt::DemoScene;
using dofrt::DemoSceneOptions;
using dofrt::GBufferSet;
using Bytes = std::vector<std::uint8_t>;

// The default 640 x 360 frame in 8 bits, built once: focal length 360 pixels,
// so at depth z one pixel spans |z| / 360 world units.
class DemoSceneTest : public doftest::HostAllocTest {
protected:
    static void SetUpTestSuite() { scene_ = new DemoScene(dofrt::buildDemoScene()); }
    static void TearDownTestSuite() { delete scene_; }
    static DemoScene* scene_;
};

DemoScene* DemoSceneTest::scene_ = nullptr;

const std::uint8_t* layerElement(GBufferSet& g, GBufferEntry entry, int y, int k) {
    const GBufferLayerRow& row = g.channel(entry)->layers[y];
    return row.layerBase + std::ptrdiff_t(k) * row.layerStride;
}

// The colour channel with its exponent byte, or the plain one, which limits
// the lamps to white; layers on every channel that has them in a render.
TEST_F(DemoSceneTest, ChannelsAsTheEffectReadsThem) {
    for (bool exponent : {true, false}) {
        SCOPED_TRACE(exponent ? "with exponent" : "plain colour");
        DemoSceneOptions options;
        options.width = 40;  // pixel x sees what x + 300 of the default frame sees
        options.colourExponent = exponent;
        DemoScene scene = dofrt::buildDemoScene(options);
        GBufferSet& g = *scene.gbuffers;
        const GBufferEntry colour = exponent ? kGBufferColourExponent : kGBufferColour;
        for (GBufferEntry entry :
             {kGBufferDepth, colour, kGBufferTransparency, kGBufferLayerWeight, kGBufferCoverage})
            EXPECT_EQ(g.channel(entry)->layers != nullptr, entry != kGBufferCoverage) << entry;
        EXPECT_NE(g.channel(kGBufferLayerRange), nullptr);
        EXPECT_EQ(g.channel(exponent ? kGBufferColour : kGBufferColourExponent), nullptr);
        const Bytes lamp = exponent ? Bytes{191, 159, 112} : Bytes{255, 255, 255};
        EXPECT_EQ(Bytes(g.colour(20, 130), g.colour(20, 130) + 3), lamp);
    }
    EXPECT_EQ(scene_->settings.radius, 8.0);  // 360 / 45, focused on the card
    EXPECT_EQ(scene_->settings.focalDepth, -6.0);
    EXPECT_EQ(scene_->settings.focusRangeDepth, -7.0);
    EXPECT_EQ(scene_->settings.method, 1.0);
}

struct PixelCase {
    int x, y;
    float depthMin, depthMax;  // equal for an exact depth
    std::uint8_t coverage, transparency;
    Bytes colour, source;  // source empty: not checked
    float layerMin, layerMax;
    std::uint8_t layerWeight;  // 0: no layer
    const char* why;
};

// Bytes are round(255 v). Samples sit at x + (i + 0.5) / 4, y + (j + 0.5) / 4.
// clang-format off
const PixelCase kPixels[] = {
    // World x 0 to 1/60 at z = -6; (0.94, 0.93, 0.86) -> 239.7, 237.15, 219.3.
    {320, 180, -6, -6, 255, 0, {240, 237, 219, 128}, {240, 237, 219, 255}, 0, 0, 0,
     "the card's light stripe, all 16 samples"},
    // The edge at 320 + 360 x 0.6125 / 6 = 356.75: 12 samples on the card
    // (191.25), 4 on the wall (63.75); source (12 card + 4 wall) / 16 =
    // (0.905, 0.9075, 0.875) -> 230.78, 231.41, 223.13.
    {356, 180, -6, -6, 191, 0, {240, 237, 219, 128}, {231, 231, 223, 255}, -40, -40, 64,
     "the card's right edge over the wall"},
    // Centre (320 + 360 x 1.5 / 4.5, 180 + 360 x 0.3 / 4.5): the glass takes
    // 0.6 of each sample (153), passes 0.4 (102) to the ground behind it at
    // z = -360 / (y - 180) for rows 204.125 to 204.875; tint (89.25, 204, 224.4).
    {440, 204, -3.84f, -3.83f, 153, 102, {89, 204, 224, 128}, {}, -14.93f, -14.47f, 102,
     "the glass sphere over the ground"},
    // Lamp 2 at (0, 2.5, -18), 2 pixels in radius; (24, 20, 14) = 2^5 x
    // (0.75, 0.625, 0.4375) -> 191.25, 159.375, 111.56 with e = 133.
    {320, 130, -18, -17.9f, 255, 0, {191, 159, 112, 133}, {255, 255, 255, 255}, 0, 0, 0,
     "a lamp above full scale, the source limited"},
};
// clang-format on

::testing::AssertionResult depthIn(float depth, float lo, float hi) {
    if (lo == hi ? depth == lo : depth > lo && depth < hi) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << depth << " outside " << lo << " .. " << hi;
}

TEST_F(DemoSceneTest, HandWorkedPixels) {
    GBufferSet& g = *scene_->gbuffers;
    for (const PixelCase& c : kPixels) {
        SCOPED_TRACE(c.why);
        EXPECT_TRUE(depthIn(g.depth(c.x, c.y), c.depthMin, c.depthMax));
        EXPECT_EQ(g.coverage(c.x, c.y), c.coverage);
        EXPECT_EQ(Bytes(g.colour(c.x, c.y), g.colour(c.x, c.y) + 4), c.colour);
        EXPECT_EQ(Bytes(g.transparency(c.x, c.y), g.transparency(c.x, c.y) + 3),
                  Bytes(3, c.transparency));
        const std::uint8_t* source = scene_->source->pixel(c.x, c.y);
        if (!c.source.empty()) {
            EXPECT_EQ(Bytes(source, source + 4), c.source);
        }
        const std::uint16_t* range = g.layerRange(c.x, c.y);
        ASSERT_EQ(range[1] - range[0], c.layerWeight ? 1 : 0);
        if (c.layerWeight == 0) continue;
        float depth;
        std::memcpy(&depth, layerElement(g, kGBufferDepth, c.y, range[0]), sizeof depth);
        EXPECT_TRUE(depthIn(depth, c.layerMin, c.layerMax));
        const std::uint8_t* weight = layerElement(g, kGBufferLayerWeight, c.y, range[0]);
        EXPECT_EQ(Bytes(weight, weight + 3), Bytes(3, c.layerWeight));
        const std::uint8_t* behind = layerElement(g, kGBufferTransparency, c.y, range[0]);
        EXPECT_EQ(Bytes(behind, behind + 3), Bytes(3, 0)) << "opaque behind";
    }
}

}  // namespace
