#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/GBufferSet.h"

namespace {

using dofrt::GBufferSet;
using dofrt::LayerFragment;

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

LayerFragment fragment(float depth, std::uint8_t tag) {
    return LayerFragment{depth,
                         {tag, std::uint8_t(tag + 1), std::uint8_t(tag + 2), std::uint8_t(tag + 3)},
                         {std::uint8_t(tag + 4), std::uint8_t(tag + 5), std::uint8_t(tag + 6)},
                         {std::uint8_t(tag + 7), std::uint8_t(tag + 8), std::uint8_t(tag + 9)}};
}

// Every channel a render reads: descriptors as the effect walks them.
GBufferSet& fullSet(GBufferSet& g, bool withExponent) {
    g.addDepth();
    g.addCoverage();
    g.addColour(withExponent);
    g.addTransparency();
    g.enableLayers();
    return g;
}

TEST(GBufferSet, StartsWithAnEmptyTable) {
    GBufferSet g(4, 3);
    for (int entry = 0; entry < kGBufferEntryCount; ++entry)
        EXPECT_EQ(g.table()[entry], nullptr) << entry;
}

TEST(GBufferSet, DescriptorsArePacked) {
    struct Case {
        GBufferEntry entry;
        bool withExponent;
        int xStride;
        std::uint8_t elemType;
        bool hasLayers;
    } cases[] = {
        {kGBufferDepth, true, 4, kGBufferElemFloat, true},
        {kGBufferColourExponent, true, 4, kGBufferElemUByte, true},
        {kGBufferCoverage, true, 1, kGBufferElemUByte, false},
        {kGBufferColour, false, 3, kGBufferElemUByte, true},
        {kGBufferTransparency, true, 3, kGBufferElemUByte, true},
        {kGBufferLayerWeight, true, 3, kGBufferElemUByte, true},
        {kGBufferLayerRange, true, 4, kGBufferElemUShort, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.entry));
        GBufferSet g(7, 3);
        fullSet(g, c.withExponent);
        const GBufferChannel* channel = g.channel(c.entry);
        ASSERT_NE(channel, nullptr);
        EXPECT_EQ(channel->xStride, c.xStride);
        EXPECT_EQ(channel->yStride, 7 * c.xStride);
        EXPECT_EQ(channel->elemType, c.elemType);
        EXPECT_EQ(bytesOf(channel->data, 7 * 3 * c.xStride),
                  std::vector<std::uint8_t>(size_t(7 * 3 * c.xStride), 0));
        ASSERT_EQ(channel->layers != nullptr, c.hasLayers);
        if (!c.hasLayers) continue;
        for (int y = 0; y < 3; ++y) {
            EXPECT_EQ(channel->layers[y].layerCount, 0u);
            EXPECT_EQ(channel->layers[y].layerStride, c.xStride);
            EXPECT_EQ(channel->layers[y].layerBase, nullptr);
        }
    }
}

// The accessors reach the element at data + x * xStride + y * yStride.
TEST(GBufferSet, AccessorsAddressTheDescribedElement) {
    GBufferSet g(5, 4);
    fullSet(g, true);
    g.depth(3, 2) = -3.5f;
    g.coverage(4, 1) = 200;
    g.colour(1, 3)[3] = 131;
    g.transparency(2, 2)[1] = 77;
    g.layerRange(4, 3)[1] = 9;

    float depth;
    const GBufferChannel* d = g.channel(kGBufferDepth);
    std::memcpy(&depth, d->data + 3 * 4 + 2 * 20, 4);
    EXPECT_EQ(depth, -3.5f);
    EXPECT_EQ(g.channel(kGBufferCoverage)->data[4 + 1 * 5], 200);
    EXPECT_EQ(g.channel(kGBufferColourExponent)->data[1 * 4 + 3 * 20 + 3], 131);
    EXPECT_EQ(g.channel(kGBufferTransparency)->data[2 * 3 + 2 * 15 + 1], 77);
    std::uint16_t end;
    std::memcpy(&end, g.channel(kGBufferLayerRange)->data + 4 * 4 + 3 * 20 + 2, 2);
    EXPECT_EQ(end, 9);
}

TEST(GBufferSet, AddingAgainKeepsTheData) {
    GBufferSet g(2, 2);
    g.addDepth();
    g.depth(1, 1) = -2.0f;
    const GBufferChannel* before = g.channel(kGBufferDepth);
    g.addDepth();
    EXPECT_EQ(g.channel(kGBufferDepth), before);
    EXPECT_EQ(g.depth(1, 1), -2.0f);
}

// Layers go into the row of their pixel, one after another; a pixel's range
// grows only while no other pixel has added after it.
TEST(GBufferSet, LayersRunPerPixel) {
    struct Step {
        int x, y;
        float depth;
        bool accepted;
        std::uint16_t first, end;  // the pixel's range afterwards
        const char* why;
    } steps[] = {
        {2, 0, -10.0f, true, 0, 1, "first layer of row 0"},
        {2, 0, -11.0f, true, 0, 2, "the same pixel goes on"},
        {5, 0, -12.0f, true, 2, 3, "the next pixel starts after it"},
        {2, 0, -13.0f, false, 0, 2, "pixel 2 can no longer grow"},
        {5, 0, -14.0f, true, 2, 4, "pixel 5 still can"},
        {2, 1, -15.0f, true, 0, 1, "rows count their layers apart"},
    };
    GBufferSet g(6, 2);
    fullSet(g, true);
    std::uint8_t tag = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.why);
        EXPECT_EQ(g.addLayer(s.x, s.y, fragment(s.depth, tag)), s.accepted);
        EXPECT_EQ(g.layerRange(s.x, s.y)[0], s.first);
        EXPECT_EQ(g.layerRange(s.x, s.y)[1], s.end);
        tag = std::uint8_t(tag + 10);
    }
    EXPECT_EQ(g.layerCount(0), 4u);
    EXPECT_EQ(g.layerCount(1), 1u);
    EXPECT_EQ(g.layerRange(0, 0)[0], 0);
    EXPECT_EQ(g.layerRange(0, 0)[1], 0);

    // Row 0 holds the accepted layers in order (tags 0, 10, 20, 40); the
    // descriptors follow the rows as they grow.
    const float depths[] = {-10.0f, -11.0f, -12.0f, -14.0f};
    const std::uint8_t tags[] = {0, 10, 20, 40};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const std::uint8_t t = tags[k];
        EXPECT_EQ(layerDepth(g, 0, k), depths[k]);
        EXPECT_EQ(bytesOf(layerElement(g, kGBufferColourExponent, 0, k), 4),
                  (std::vector<std::uint8_t>{t, std::uint8_t(t + 1), std::uint8_t(t + 2),
                                             std::uint8_t(t + 3)}));
        EXPECT_EQ(bytesOf(layerElement(g, kGBufferTransparency, 0, k), 3),
                  (std::vector<std::uint8_t>{std::uint8_t(t + 4), std::uint8_t(t + 5),
                                             std::uint8_t(t + 6)}));
        EXPECT_EQ(bytesOf(layerElement(g, kGBufferLayerWeight, 0, k), 3),
                  (std::vector<std::uint8_t>{std::uint8_t(t + 7), std::uint8_t(t + 8),
                                             std::uint8_t(t + 9)}));
    }
    for (GBufferEntry entry :
         {kGBufferDepth, kGBufferColourExponent, kGBufferTransparency, kGBufferLayerWeight}) {
        EXPECT_EQ(g.channel(entry)->layers[0].layerCount, 4u) << entry;
        EXPECT_EQ(g.channel(entry)->layers[1].layerCount, 1u) << entry;
    }
    EXPECT_EQ(layerDepth(g, 1, 0), -15.0f);
}

TEST(GBufferSet, PlainColourLayersKeepThreeBytes) {
    GBufferSet g(3, 1);
    fullSet(g, false);
    ASSERT_TRUE(g.addLayer(0, 0, fragment(-1.0f, 100)));
    ASSERT_TRUE(g.addLayer(0, 0, fragment(-2.0f, 150)));
    EXPECT_EQ(g.channel(kGBufferColour)->layers[0].layerStride, 3);
    EXPECT_EQ(bytesOf(layerElement(g, kGBufferColour, 0, 0), 6),
              (std::vector<std::uint8_t>{100, 101, 102, 150, 151, 152}));
}

TEST(GBufferSet, AddingALayerEnablesLayers) {
    GBufferSet g(3, 2);
    g.addDepth();
    ASSERT_TRUE(g.addLayer(1, 1, fragment(-4.0f, 0)));
    EXPECT_NE(g.channel(kGBufferLayerWeight), nullptr);
    EXPECT_NE(g.channel(kGBufferLayerRange), nullptr);
    EXPECT_EQ(layerDepth(g, 1, 0), -4.0f);
}

// The range holds 16-bit indices: a row takes 65535 layers, and no more.
TEST(GBufferSet, ARowHoldsAtMost65535Layers) {
    GBufferSet g(2, 1);
    g.addDepth();
    g.enableLayers();
    for (int k = 0; k < 65535; ++k) ASSERT_TRUE(g.addLayer(0, 0, fragment(-1.0f, 0))) << k;
    EXPECT_FALSE(g.addLayer(0, 0, fragment(-1.0f, 0)));
    EXPECT_FALSE(g.addLayer(1, 0, fragment(-1.0f, 0)));
    EXPECT_EQ(g.layerCount(0), 65535u);
    EXPECT_EQ(g.layerRange(0, 0)[0], 0);
    EXPECT_EQ(g.layerRange(0, 0)[1], 65535);
    EXPECT_EQ(g.layerRange(1, 0)[1], 0);
}

TEST(GBufferSet, RemovedChannelLeavesTheTable) {
    GBufferSet g(2, 2);
    g.addCoverage();
    g.coverage(1, 1) = 9;
    g.remove(kGBufferCoverage);
    EXPECT_EQ(g.table()[kGBufferCoverage], nullptr);
    EXPECT_EQ(g.channel(kGBufferCoverage), nullptr);
}

}  // namespace
