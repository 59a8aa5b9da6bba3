// The host side's buffers as the effect reads them: images of the five
// formats, g-buffer channels through their descriptors and layer rows, and
// the built-in scene's pixels worked out by hand from its geometry. The
// component layout and fraction rules run with the pixel traits in tests/dof.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "demo/demo_scene.h"
#include "runtime/PixelImage.h"
#include "support/effect_fixture.h"
#include "support/format_facts.h"

namespace {

using dof::runtime::GBufferSet;
using dof::runtime::PixelImage;
using Bytes = std::vector<std::uint8_t>;
using HostBuffers = dof::test::HostAllocTest;

// Pixel (x, y) lies at baseAddr + (y x rowPixels + x) x the format's bytes.
TEST_F(HostBuffers, ImageShapes) {
    const struct {
        int code, width, height, rowPixels;
        bool made;
        const char* why;
    } cases[] = {
        {1, 4, 2, 0, true, "rows of the width"},
        {3, 3, 2, 5, true, "rows longer than the width"},
        {5, 2, 3, 2, true, "float pixels"},
        {1, 4, 2, 3, false, "rows shorter than the width"},
        {1, -1, 2, 0, false, "a negative width"},
        {0, 4, 2, 0, false, "code 0 names no format"},
        {6, 4, 2, 0, false, "code 6 names no format"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        auto image = PixelImage::create(QVBitmapType(c.code), c.width, c.height, c.rowPixels);
        ASSERT_EQ(image != nullptr, c.made);
        if (!image) continue;
        const int row = c.rowPixels ? c.rowPixels : c.width;
        const int bytes = dof::test::formatFacts(c.code)->bytesPerPixel;
        EXPECT_EQ(image->pixelBytes(), bytes);
        EXPECT_EQ(image->record().formatCode, c.code);
        EXPECT_EQ(image->record().width, c.width);
        EXPECT_EQ(image->record().rowPixels, row);
        EXPECT_EQ(image->pixel(0, 0), image->record().baseAddr);
        EXPECT_EQ(image->pixel(c.width - 1, 1) - image->pixel(0, 0), (row + c.width - 1) * bytes);
        const std::uint8_t* all = image->pixel(0, 0);
        EXPECT_EQ(Bytes(all, all + row * bytes * c.height), Bytes(row * bytes * c.height, 0));
    }
    dof::qvlib::failAllocationAt(1);
    EXPECT_FALSE(PixelImage::create(kQVBitmapRGBA8, 4, 2)) << "the host allocator refuses";
}

// Each row's width is copied; the rest of a longer row stays as it was.
TEST_F(HostBuffers, ImageCopyTakesTheWidthOfEachRow) {
    auto source = PixelImage::create(kQVBitmapRGBA8, 3, 2, 4);
    auto copy = PixelImage::create(kQVBitmapRGBA8, 3, 2, 4);
    std::memset(source->pixel(0, 0), 0x5A, 4 * 2 * 4);
    ASSERT_TRUE(copy->copyPixelsFrom(*source));
    Bytes row(16, 0x5A);
    std::fill(row.begin() + 12, row.end(), 0);
    for (int y = 0; y < 2; ++y)
        EXPECT_EQ(Bytes(copy->pixel(0, y), copy->pixel(0, y) + 16), row) << y;
    EXPECT_FALSE(PixelImage::create(kQVBitmapRGBA16, 3, 2)->copyPixelsFrom(*source)) << "format";
    EXPECT_FALSE(PixelImage::create(kQVBitmapRGBA8, 3, 3)->copyPixelsFrom(*source)) << "size";
}

// The n bytes of element k of row y's layers.
Bytes layerBytes(GBufferSet& g, GBufferEntry entry, int y, int k, int n) {
    const GBufferLayerRow& row = g.channel(entry)->layers[y];
    const std::uint8_t* p = row.layerBase + std::ptrdiff_t(k) * row.layerStride;
    return Bytes(p, p + n);
}

// Every channel a render reads.
void addAll(GBufferSet& g, bool withExponent) {
    g.addDepth();
    g.addCoverage();
    g.addColour(withExponent);
    g.addTransparency();
    g.enableLayers();
}

// A fragment whose bytes count up from tag: colour, transparency, weight.
dof::runtime::LayerFragment fragment(float depth, int tag) {
    dof::runtime::LayerFragment f{depth, {}, {}, {}};
    for (int b = 0; b < 4; ++b) f.colour[b] = std::uint8_t(tag + b);
    for (int b = 0; b < 3; ++b) f.transparency[b] = std::uint8_t(tag + 4 + b);
    for (int b = 0; b < 3; ++b) f.weight[b] = std::uint8_t(tag + 7 + b);
    return f;
}

// Each channel packed and zeroed, its accessor reaching element (x, y) at
// data + x xStride + y yStride, and layer rows where a render reads layers.
TEST_F(HostBuffers, GBufferDescriptorsArePackedAndZeroed) {
    GBufferSet g(7, 3), plain(7, 3);
    for (int entry = 0; entry < kGBufferEntryCount; ++entry)
        EXPECT_EQ(g.table()[entry], nullptr) << "absent until added";
    addAll(g, true);
    addAll(plain, false);
    const struct {
        GBufferSet* set;
        GBufferEntry entry;
        int xStride;
        std::uint8_t elemType;
        bool hasLayers;
        void* element;  // (5, 2) through the set's accessor
    } cases[] = {
        {&g, kGBufferDepth, 4, kGBufferElemFloat, true, &g.depth(5, 2)},
        {&g, kGBufferColourExponent, 4, kGBufferElemUByte, true, g.colour(5, 2)},
        {&g, kGBufferCoverage, 1, kGBufferElemUByte, false, &g.coverage(5, 2)},
        {&plain, kGBufferColour, 3, kGBufferElemUByte, true, plain.colour(5, 2)},
        {&g, kGBufferTransparency, 3, kGBufferElemUByte, true, g.transparency(5, 2)},
        {&g, kGBufferLayerWeight, 3, kGBufferElemUByte, true, nullptr},
        {&g, kGBufferLayerRange, 4, kGBufferElemUShort, false, g.layerRange(5, 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.entry));
        const GBufferChannel* channel = c.set->channel(c.entry);
        ASSERT_NE(channel, nullptr);
        EXPECT_EQ(channel->xStride, c.xStride);
        EXPECT_EQ(channel->yStride, 7 * c.xStride);
        EXPECT_EQ(channel->elemType, c.elemType);
        EXPECT_EQ(Bytes(channel->data, channel->data + 21 * c.xStride), Bytes(21 * c.xStride, 0));
        if (c.element) {
            EXPECT_EQ(c.element, channel->data + 5 * c.xStride + 14 * c.xStride);
        }
        ASSERT_EQ(channel->layers != nullptr, c.hasLayers);
        for (int y = 0; c.hasLayers && y < 3; ++y) {
            EXPECT_EQ(channel->layers[y].layerCount, 0u);
            EXPECT_EQ(channel->layers[y].layerStride, c.xStride);
            EXPECT_EQ(channel->layers[y].layerBase, nullptr);
        }
    }
}

// Layers go into the row of their pixel, one after another; a pixel's range
// grows only while no other pixel has added after it. Colour layers keep the
// channel's element size: four bytes with the exponent, three without.
TEST_F(HostBuffers, GBufferLayersRunPerPixel) {
    const struct {
        int x, y;
        bool accepted;
        std::uint16_t first, end;  // the pixel's range afterwards
        const char* why;
    } steps[] = {
        {2, 0, true, 0, 1, "first layer of row 0"},
        {2, 0, true, 0, 2, "the same pixel goes on"},
        {5, 0, true, 2, 3, "the next pixel starts after it"},
        {2, 0, false, 0, 2, "pixel 2 can no longer grow"},
        {5, 0, true, 2, 4, "pixel 5 still can"},
        {2, 1, true, 0, 1, "rows count their layers apart"},
    };
    for (bool withExponent : {true, false}) {
        SCOPED_TRACE(withExponent ? "colour with exponent" : "plain colour");
        GBufferSet g(6, 2);
        addAll(g, withExponent);
        for (int s = 0; s < 6; ++s) {
            SCOPED_TRACE(steps[s].why);
            EXPECT_EQ(g.addLayer(steps[s].x, steps[s].y, fragment(-10.0f - s, 10 * s)),
                      steps[s].accepted);
            EXPECT_EQ(g.layerRange(steps[s].x, steps[s].y)[0], steps[s].first);
            EXPECT_EQ(g.layerRange(steps[s].x, steps[s].y)[1], steps[s].end);
        }
        const GBufferEntry colour = withExponent ? kGBufferColourExponent : kGBufferColour;
        const int colourBytes = withExponent ? 4 : 3;
        // Row 0 holds steps 0, 1, 2 and 4 in that order.
        const int accepted[] = {0, 1, 2, 4};
        for (int k = 0; k < 4; ++k) {
            const dof::runtime::LayerFragment f = fragment(-10.0f - accepted[k], 10 * accepted[k]);
            const std::uint8_t* depth = reinterpret_cast<const std::uint8_t*>(&f.depth);
            EXPECT_EQ(layerBytes(g, kGBufferDepth, 0, k, 4), Bytes(depth, depth + 4));
            EXPECT_EQ(layerBytes(g, colour, 0, k, colourBytes),
                      Bytes(f.colour, f.colour + colourBytes));
            EXPECT_EQ(layerBytes(g, kGBufferTransparency, 0, k, 3),
                      Bytes(f.transparency, f.transparency + 3));
            EXPECT_EQ(layerBytes(g, kGBufferLayerWeight, 0, k, 3), Bytes(f.weight, f.weight + 3));
        }
        for (GBufferEntry entry :
             {kGBufferDepth, colour, kGBufferTransparency, kGBufferLayerWeight}) {
            EXPECT_EQ(g.channel(entry)->layers[0].layerCount, 4u) << entry;
            EXPECT_EQ(g.channel(entry)->layers[1].layerCount, 1u) << entry;
        }
        EXPECT_EQ(g.layerRange(0, 0)[1], 0) << "a pixel without layers";
    }
}

// The range holds 16-bit indices: a row takes 65535 layers and no more. The
// first layer brings the weight and range channels with it; adding a channel
// again keeps what it holds.
TEST_F(HostBuffers, GBufferRowHoldsAtMost65535Layers) {
    GBufferSet g(2, 1);
    g.addDepth();
    g.depth(1, 0) = -2.0f;
    g.addDepth();
    EXPECT_EQ(g.depth(1, 0), -2.0f);
    for (int k = 0; k < 65535; ++k) ASSERT_TRUE(g.addLayer(0, 0, fragment(-1.0f, 0))) << k;
    EXPECT_NE(g.channel(kGBufferLayerWeight), nullptr);
    EXPECT_FALSE(g.addLayer(0, 0, fragment(-1.0f, 0)));
    EXPECT_FALSE(g.addLayer(1, 0, fragment(-1.0f, 0)));
    EXPECT_EQ(g.layerCount(0), 65535u);
    EXPECT_EQ(g.layerRange(0, 0)[1], 65535);
    EXPECT_EQ(g.layerRange(1, 0)[1], 0);
}

// The colour channel with its exponent byte, or the plain one, which limits
// the lamps to white; layers on every channel that has them in a render.
TEST_F(HostBuffers, DemoSceneChannelsAsTheEffectReadsThem) {
    for (bool exponent : {true, false}) {
        SCOPED_TRACE(exponent ? "with exponent" : "plain colour");
        dof::DemoSceneOptions options;
        options.width = 40;  // pixel x sees what x + 300 of the default frame sees
        options.colourExponent = exponent;
        dof::DemoScene scene = dof::buildDemoScene(options);
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

// The default 640 x 360 frame in 8 bits: focal length 360 pixels, so at
// depth z one pixel spans |z| / 360 world units.
TEST_F(HostBuffers, DemoSceneHandWorkedPixels) {
    const dof::DemoScene scene = dof::buildDemoScene();
    EXPECT_EQ(scene.settings.radius, 8.0);  // 360 / 45, focused on the card
    EXPECT_EQ(scene.settings.focalDepth, -6.0);
    EXPECT_EQ(scene.settings.focusRangeDepth, -7.0);
    EXPECT_EQ(scene.settings.method, kMethodBoxAverage);
    GBufferSet& g = *scene.gbuffers;
    for (const PixelCase& c : kPixels) {
        SCOPED_TRACE(c.why);
        EXPECT_TRUE(depthIn(g.depth(c.x, c.y), c.depthMin, c.depthMax));
        EXPECT_EQ(g.coverage(c.x, c.y), c.coverage);
        EXPECT_EQ(Bytes(g.colour(c.x, c.y), g.colour(c.x, c.y) + 4), c.colour);
        EXPECT_EQ(Bytes(g.transparency(c.x, c.y), g.transparency(c.x, c.y) + 3),
                  Bytes(3, c.transparency));
        const std::uint8_t* source = scene.source->pixel(c.x, c.y);
        if (!c.source.empty()) {
            EXPECT_EQ(Bytes(source, source + 4), c.source);
        }
        const std::uint16_t* range = g.layerRange(c.x, c.y);
        ASSERT_EQ(range[1] - range[0], c.layerWeight ? 1 : 0);
        if (c.layerWeight == 0) continue;
        float depth;
        std::memcpy(&depth, layerBytes(g, kGBufferDepth, c.y, range[0], 4).data(), sizeof depth);
        EXPECT_TRUE(depthIn(depth, c.layerMin, c.layerMax));
        EXPECT_EQ(layerBytes(g, kGBufferLayerWeight, c.y, range[0], 3), Bytes(3, c.layerWeight));
        EXPECT_EQ(layerBytes(g, kGBufferTransparency, c.y, range[0], 3), Bytes(3, 0))
            << "opaque behind";
    }
}

}  // namespace
