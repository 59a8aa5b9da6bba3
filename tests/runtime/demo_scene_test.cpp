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

// The default 640 x 360 frame in 8 bits, built once for the suite: the
// pixels below are worked out for it (focal length 360 pixels, so at depth z
// one pixel spans |z| / 360 world units).
class DemoSceneTest : public doftest::HostAllocTest {
protected:
    static void SetUpTestSuite() { scene_ = new DemoScene(dofrt::buildDemoScene()); }
    static void TearDownTestSuite() {
        delete scene_;
        scene_ = nullptr;
    }
    static DemoScene& defaultScene() { return *scene_; }

private:
    static DemoScene* scene_;
};

DemoScene* DemoSceneTest::scene_ = nullptr;

// Layer element k of row y of a channel, as the effect finds it.
const std::uint8_t* layerElement(GBufferSet& g, GBufferEntry entry, int y, int k) {
    const GBufferLayerRow& row = g.channel(entry)->layers[y];
    return row.layerBase + std::ptrdiff_t(k) * row.layerStride;
}

float layerDepth(GBufferSet& g, int y, int k) {
    float depth;
    std::memcpy(&depth, layerElement(g, kGBufferDepth, y, k), sizeof depth);
    return depth;
}

std::vector<std::uint8_t> bytesOf(const std::uint8_t* p, int n) { return {p, p + n}; }

// Every byte a render reads, in a fixed order.
std::vector<std::uint8_t> everyByte(DemoScene& scene) {
    std::vector<std::uint8_t> all;
    const dofrt::PixelImage& source = *scene.source;
    for (int y = 0; y < source.height(); ++y) {
        const std::uint8_t* row = source.pixel(0, y);
        all.insert(all.end(), row, row + source.width() * source.pixelBytes());
    }
    GBufferSet& g = *scene.gbuffers;
    for (int entry = 0; entry < kGBufferEntryCount; ++entry) {
        GBufferChannel* channel = g.channel(GBufferEntry(entry));
        if (channel == nullptr) continue;
        all.insert(all.end(), channel->data, channel->data + channel->yStride * g.height());
        if (channel->layers == nullptr) continue;
        for (int y = 0; y < g.height(); ++y) {
            const GBufferLayerRow& row = channel->layers[y];
            all.insert(all.end(), row.layerBase,
                       row.layerBase + std::size_t(row.layerCount) * std::size_t(row.layerStride));
        }
    }
    return all;
}

TEST_F(DemoSceneTest, SameBytesEveryTime) {
    DemoSceneOptions options;
    options.width = 160;
    options.height = 90;
    DemoScene first = dofrt::buildDemoScene(options);
    DemoScene second = dofrt::buildDemoScene(options);
    ASSERT_TRUE(first.source && second.source);
    const std::vector<std::uint8_t> a = everyByte(first);
    EXPECT_GT(a.size(), std::size_t(160 * 90 * (4 + 4 + 4 + 1 + 3 + 3 + 4)));
    EXPECT_EQ(a, everyByte(second));
}

TEST_F(DemoSceneTest, ChannelsAsTheEffectReadsThem) {
    struct Case {
        bool exponent;
        GBufferEntry present[7];
        GBufferEntry absent;
    } cases[] = {
        {true,
         {kGBufferDepth, kGBufferColourExponent, kGBufferCoverage, kGBufferTransparency,
          kGBufferLayerWeight, kGBufferLayerRange, kGBufferDepth},
         kGBufferColour},
        {false,
         {kGBufferDepth, kGBufferColour, kGBufferCoverage, kGBufferTransparency,
          kGBufferLayerWeight, kGBufferLayerRange, kGBufferDepth},
         kGBufferColourExponent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exponent ? "with exponent" : "plain colour");
        DemoSceneOptions options;
        options.width = 32;
        options.height = 18;
        options.colourExponent = c.exponent;
        DemoScene scene = dofrt::buildDemoScene(options);
        for (GBufferEntry entry : c.present) EXPECT_NE(scene.gbuffers->channel(entry), nullptr);
        EXPECT_EQ(scene.gbuffers->channel(c.absent), nullptr);
        // Layers on every channel that has them in a render; none on coverage.
        for (GBufferEntry entry : {kGBufferDepth, kGBufferTransparency, kGBufferLayerWeight,
                                   c.exponent ? kGBufferColourExponent : kGBufferColour})
            EXPECT_NE(scene.gbuffers->channel(entry)->layers, nullptr) << entry;
        EXPECT_EQ(scene.gbuffers->channel(kGBufferCoverage)->layers, nullptr);
    }
}

TEST_F(DemoSceneTest, SuggestedSettingsFocusOnTheCard) {
    const dofrt::RenderSettings& s = defaultScene().settings;
    EXPECT_EQ(s.radius, 8.0);  // 360 / 45
    EXPECT_EQ(s.focalDepth, -6.0);
    EXPECT_EQ(s.focusRangeDepth, -7.0);
    EXPECT_EQ(s.method, 1.0);
}

// Every pixel's layers form one run; the runs of a row follow one another
// from x = 0 and use every layer of the row. The front is the nearest
// fragment, the layers go on farther, and the shares add up to the pixel
// within the rounding of each share.
TEST_F(DemoSceneTest, LayerRangesTileEachRowNearestFirst) {
    GBufferSet& g = *defaultScene().gbuffers;
    int pixelsWithLayers = 0;
    for (int y = 0; y < g.height(); ++y) {
        std::uint32_t next = 0;
        for (int x = 0; x < g.width(); ++x) {
            const std::uint16_t* range = g.layerRange(x, y);
            ASSERT_LE(range[0], range[1]) << x << "," << y;
            if (range[0] == range[1]) {
                ASSERT_EQ(range[0], 0) << x << "," << y;
                continue;
            }
            ++pixelsWithLayers;
            ASSERT_EQ(range[0], next) << x << "," << y;
            next = range[1];
            float nearer = g.depth(x, y);
            int shares = g.coverage(x, y);
            for (int k = range[0]; k < range[1]; ++k) {
                const float depth = layerDepth(g, y, k);
                EXPECT_LE(depth, nearer) << x << "," << y << " layer " << k;
                nearer = depth;
                const std::uint8_t* w = layerElement(g, kGBufferLayerWeight, y, k);
                EXPECT_EQ(w[0], w[1]);
                EXPECT_EQ(w[0], w[2]);
                EXPECT_GT(w[0], 0);
                shares += w[0];
            }
            const int fragments = 1 + range[1] - range[0];
            EXPECT_NEAR(shares, 255, fragments) << x << "," << y;
        }
        EXPECT_EQ(next, g.layerCount(y)) << "row " << y;
    }
    EXPECT_GT(pixelsWithLayers, 1000);
}

TEST_F(DemoSceneTest, EdgesArePartlyCovered) {
    GBufferSet& g = *defaultScene().gbuffers;
    int partial = 0;
    for (int y = 0; y < g.height(); ++y)
        for (int x = 0; x < g.width(); ++x)
            if (g.coverage(x, y) != 255) {
                ++partial;
                EXPECT_NE(g.layerRange(x, y)[0], g.layerRange(x, y)[1])
                    << "the rest of a partly covered pixel follows as layers: " << x << "," << y;
            }
    EXPECT_GT(partial, 1000);
}

TEST_F(DemoSceneTest, HighlightsGoAboveFullScale) {
    GBufferSet& g = *defaultScene().gbuffers;
    int above = 0;
    for (int y = 0; y < g.height(); ++y)
        for (int x = 0; x < g.width(); ++x)
            if (g.colour(x, y)[3] > 128) ++above;
    // Five lamps of 2 pixels' radius, and the glints on two spheres.
    EXPECT_GT(above, 5 * 4);
}

struct LayerExpectation {
    float depthMin, depthMax;  // equal for an exact depth
    std::uint8_t colour[4];
    std::uint8_t weight;
};

struct PixelCase {
    int x, y;
    const char* why;
    float depthMin, depthMax;
    std::uint8_t coverage;
    std::uint8_t colour[4];
    std::uint8_t transparency;
    std::uint8_t source[4];
    int layers;
    LayerExpectation layer;  // the first layer, when there is one
};

// Bytes are round(255 v). Samples sit at x + (i + 0.5) / 4, y + (j + 0.5) / 4.
const PixelCase kPixels[] = {
    {320,
     180,
     "card, light stripe: world x from 0 to 1/60 at z = -6, all 16 samples; "
     "(0.94, 0.93, 0.86) -> 239.7, 237.15, 219.3",
     -6.0f,
     -6.0f,
     255,
     {240, 237, 219, 128},
     0,
     {240, 237, 219, 255},
     0,
     {}},
    {319,
     180,
     "card, dark stripe just left of x = 0: (0.12, 0.2, 0.45) -> 30.6, 51, 114.75",
     -6.0f,
     -6.0f,
     255,
     {31, 51, 115, 128},
     0,
     {31, 51, 115, 255},
     0,
     {}},
    {356,
     180,
     "card's right edge 320 + 360 * 0.6125 / 6 = 356.75: 12 of 16 samples (191.25); the "
     "other 4 see the wall at the horizon (63.75); source (12 card + 4 wall) / 16 = "
     "(0.905, 0.9075, 0.875) -> 230.78, 231.41, 223.13",
     -6.0f,
     -6.0f,
     191,
     {240, 237, 219, 128},
     0,
     {231, 231, 223, 255},
     1,
     {-40.0f, -40.0f, {204, 214, 235, 128}, 64}},
    {357,
     180,
     "the wall beside the card: all samples, horizon colour (204, 214.2, 234.6)",
     -40.0f,
     -40.0f,
     255,
     {204, 214, 235, 128},
     0,
     {204, 214, 235, 255},
     0,
     {}},
    {440,
     204,
     "glass centre (320 + 360 * 1.5 / 4.5, 180 + 360 * 0.3 / 4.5): the glass takes 0.6 of "
     "each sample (153), transparency 0.4 (102), the ground behind it the rest (102) at "
     "z = -360 / (y - 180) for rows 204.125 to 204.875; tint (89.25, 204, 224.4); the glass "
     "front about 4.753 - 0.7 along a ray 1.0563 long",
     -3.84f,
     -3.83f,
     153,
     {89, 204, 224, 128},
     102,
     {0, 0, 0, 0},
     1,
     {-14.93f, -14.47f, {0, 0, 0, 0}, 102}},
    {320,
     130,
     "lamp 2 at (0, 2.5, -18), 2 pixels in radius at 360 / 18: all samples; (24, 20, 14) "
     "= 2^5 * (0.75, 0.625, 0.4375) -> 191.25, 159.375, 111.56, e = 133; source limited",
     -18.0f,
     -17.9f,
     255,
     {191, 159, 112, 133},
     0,
     {255, 255, 255, 255},
     0,
     {}},
};

TEST_F(DemoSceneTest, HandWorkedPixels) {
    DemoScene& scene = defaultScene();
    GBufferSet& g = *scene.gbuffers;
    for (const PixelCase& c : kPixels) {
        SCOPED_TRACE(c.why);
        const int x = c.x, y = c.y;
        if (c.depthMin == c.depthMax) {
            EXPECT_EQ(g.depth(x, y), c.depthMin);
        } else {
            EXPECT_GT(g.depth(x, y), c.depthMin);
            EXPECT_LT(g.depth(x, y), c.depthMax);
        }
        EXPECT_EQ(g.coverage(x, y), c.coverage);
        EXPECT_EQ(bytesOf(g.colour(x, y), 4), bytesOf(c.colour, 4));
        EXPECT_EQ(bytesOf(g.transparency(x, y), 3), std::vector<std::uint8_t>(3, c.transparency));
        if (c.source[3] != 0) {
            EXPECT_EQ(bytesOf(scene.source->pixel(x, y), 4), bytesOf(c.source, 4));
        }
        const std::uint16_t* range = g.layerRange(x, y);
        ASSERT_EQ(range[1] - range[0], c.layers);
        if (c.layers == 0) continue;
        const int k = range[0];
        const float depth = layerDepth(g, y, k);
        if (c.layer.depthMin == c.layer.depthMax) {
            EXPECT_EQ(depth, c.layer.depthMin);
        } else {
            EXPECT_GT(depth, c.layer.depthMin);
            EXPECT_LT(depth, c.layer.depthMax);
        }
        if (c.layer.colour[3] != 0) {
            EXPECT_EQ(bytesOf(layerElement(g, kGBufferColourExponent, y, k), 4),
                      bytesOf(c.layer.colour, 4));
        }
        EXPECT_EQ(bytesOf(layerElement(g, kGBufferLayerWeight, y, k), 3),
                  std::vector<std::uint8_t>(3, c.layer.weight));
        EXPECT_EQ(bytesOf(layerElement(g, kGBufferTransparency, y, k), 3),
                  std::vector<std::uint8_t>(3, 0))
            << "opaque behind";
    }
}

// The same two pixels in every format: the light stripe (0.94, 0.93, 0.86)
// and the lamp (24, 20, 14), each rounded to the format's full scale and
// limited to it; the float format keeps the lamp above 1. A strip 40 pixels
// wide keeps the focal length (the height): its pixel x sees what pixel
// x + 300 of the default frame sees.
TEST_F(DemoSceneTest, SourceInEveryFormat) {
    struct Case {
        QVBitmapType format;
        double stripe[4];
        double lamp[4];
    } cases[] = {
        // 961.62, 951.39, 879.78
        {kQVBitmapRGBA10, {962, 951, 880, 1023}, {1023, 1023, 1023, 1023}},
        // 3849.3, 3808.35, 3521.7
        {kQVBitmapRGBA12, {3849, 3808, 3522, 4095}, {4095, 4095, 4095, 4095}},
        // 61602.9, 60947.55, 56360.1
        {kQVBitmapRGBA16, {61603, 60948, 56360, 65535}, {65535, 65535, 65535, 65535}},
        {kQVBitmapRGBAFloat, {0.94f, 0.93f, 0.86f, 1}, {24, 20, 14, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.format));
        DemoSceneOptions options;
        options.width = 40;
        options.format = c.format;
        DemoScene scene = dofrt::buildDemoScene(options);
        ASSERT_TRUE(scene.source);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(scene.source->component(20, 180, i), c.stripe[i]) << i;
            EXPECT_EQ(scene.source->component(20, 130, i), c.lamp[i]) << i;
        }
    }
}

TEST_F(DemoSceneTest, PlainColourChannelLimitsHighlights) {
    DemoSceneOptions options;
    options.width = 40;  // pixel x sees what x + 300 sees at the default width
    options.colourExponent = false;
    DemoScene scene = dofrt::buildDemoScene(options);
    const std::uint8_t white[3] = {255, 255, 255};
    const std::uint8_t stripe[3] = {240, 237, 219};
    EXPECT_EQ(bytesOf(scene.gbuffers->colour(20, 130), 3), bytesOf(white, 3));
    EXPECT_EQ(bytesOf(scene.gbuffers->colour(20, 180), 3), bytesOf(stripe, 3));
}

TEST_F(DemoSceneTest, RefusedSourceLeavesNothingLive) {
    qvlib::failAllAllocations(true);
    DemoScene scene = dofrt::buildDemoScene();
    qvlib::failAllAllocations(false);
    EXPECT_EQ(scene.source, nullptr);
}

}  // namespace
