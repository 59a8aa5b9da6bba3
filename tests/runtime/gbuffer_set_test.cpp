// The g-buffer channels the host side builds, read back through the
// descriptors and layer rows exactly as the effect walks them.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/GBufferSet.h"

namespace {

using dofrt::GBufferSet;
using Bytes = std::vector<std::uint8_t>;

// Element k of row y's layers, and the n bytes there.
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
dofrt::LayerFragment fragment(float depth, int tag) {
    dofrt::LayerFragment f{depth, {}, {}, {}};
    for (int b = 0; b < 4; ++b) f.colour[b] = std::uint8_t(tag + b);
    for (int b = 0; b < 3; ++b) f.transparency[b] = std::uint8_t(tag + 4 + b);
    for (int b = 0; b < 3; ++b) f.weight[b] = std::uint8_t(tag + 7 + b);
    return f;
}

// Each channel packed and zeroed, its accessor reaching element (x, y) at
// data + x xStride + y yStride, and layer rows where a render reads layers.
TEST(GBufferSet, DescriptorsArePackedAndZeroed) {
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
TEST(GBufferSet, LayersRunPerPixel) {
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
            const dofrt::LayerFragment f = fragment(-10.0f - accepted[k], 10 * accepted[k]);
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
TEST(GBufferSet, ARowHoldsAtMost65535Layers) {
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

}  // namespace
