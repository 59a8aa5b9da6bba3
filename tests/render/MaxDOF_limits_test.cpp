// What random scenes cannot reach: buffer sizes beyond 32 bits and regions
// at the largest coordinate.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "render/render_scene.h"

namespace rendertest {
namespace {

class LimitsTest : public RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        scene(kQVBitmapRGBA8, 8, 6, 11, kEveryChannel);
        settings.radius = 2.5;
    }
};

// Sizes are counted in 64 bits: a region whose buffer does not fit the
// host allocator's 32-bit size fails with "out of memory" before asking.
TEST_F(LimitsTest, BufferSizesBeyondThirtyTwoBitsFail) {
    const struct {
        std::uint32_t pass;
        double method;
        QVRect region;
        const char* why;
    } cases[] = {
        // clang-format off
        {kPassAllocateRadiusMap, 1.0, {0, 0, 65536, 65536}, "map of 2^32 bytes"},
        {kPassAllocateRadiusMap, 2.0, {0, 0, 65537, 65536}, "map that wraps to 65536 bytes in 32 bits"},
        {kPassAllocateRadiusMap, 1.0, {0, 0, 0x7FFFFFFF, 3}, "wide region"},
        {kPassBuildTables, 1.0, {0, 0, 23170, 23170}, "(w + 1) x (h + 1) x 8 just above 2^32"},
        {kPassBuildTables, 2.0, {0, 0, 65536, 8192}, "planes of exactly 2^32 bytes"},
        {kPassBuildTables, 1.0, {0, 0, 0x7FFFFFFF, 0x3FFFFFFF}, "(w + 1) x (h + 1) x 8 = 2^64, which wraps to 0"},
        // clang-format on
    };
    for (const auto& c : cases) {
        settings.method = c.method;
        settings.region = c.region;
        auto s = session();
        ASSERT_EQ(s->prepare(), 1u);
        const std::uint64_t allocated = allocations();
        EXPECT_EQ(s->apply(c.pass, c.region), 0u) << c.why;
        EXPECT_EQ(allocations(), allocated) << c.why << ": the allocator is not asked";
        EXPECT_EQ(s->finished(), 1u);
    }
}

// Regions that reach the largest 32-bit coordinate: the radius map and the
// planes receive every pixel up to it; a pixel beyond it has no coordinate
// and is neither mapped nor splatted. Every g-buffer element is one element
// (strides 0): in focus, so each splat stays on its own pixel with weight 1.
TEST_F(LimitsTest, RegionAtTheLargestCoordinateIsWalkedUpToIt) {
    const int kMax = 0x7FFFFFFF;
    const struct {
        QVRect region;
        int namedColumns, namedRows;  // whose coordinates fit 32 bits
    } cases[] = {{{0, kMax - 3, 2, 4}, 2, 4},
                 {{kMax - 2, 5, 3, 2}, 3, 2},
                 {{kMax - 1, kMax - 1, 2, 2}, 2, 2},
                 {{kMax - 1, 0, 5, 2}, 2, 2},
                 {{3, kMax, 2, 3}, 2, 1}};
    const float depth = -10.0f;
    std::uint8_t coverage = 255, colour[3] = {51, 102, 153};
    for (auto entry : {kGBufferColourExponent, kGBufferTransparency, kGBufferLayerWeight})
        gbuffers->set.remove(entry);
    const std::pair<GBufferEntry, const void*> elements[] = {
        {kGBufferDepth, &depth}, {kGBufferCoverage, &coverage}, {kGBufferColour, colour}};
    for (const auto& e : elements) {
        GBufferChannel* ch = gbuffers->set.channel(e.first);
        ch->data = static_cast<std::uint8_t*>(const_cast<void*>(e.second));
        ch->xStride = ch->yStride = 0;
    }
    for (const auto& c : cases) {
        settings.method = 2.0;
        settings.region = c.region;
        auto s = session();
        const std::size_t pixels = std::size_t(c.region.width) * std::size_t(c.region.height);
        ASSERT_EQ(s->prepare(), 1u);
        ASSERT_EQ(s->apply(kPassAllocateRadiusMap, c.region), 1u);
        const Parameters* p = s->parameters();
        std::memset(p->cocMap, 0xEE, pixels);
        for (std::uint32_t pass = kPassFillRadiusMap; pass <= kPassSplat; ++pass)
            ASSERT_EQ(s->apply(pass, c.region), 1u);
        for (std::size_t i = 0; i < pixels; ++i) {
            const bool named = int(i % std::size_t(c.region.width)) < c.namedColumns &&
                               int(i / std::size_t(c.region.width)) < c.namedRows;
            EXPECT_EQ(p->cocMap[i], named ? 0 : 0xEE) << "map byte " << i;
            EXPECT_EQ(p->weightSumR[i], named ? 1.0 : 0.0) << "weight of pixel " << i;
            EXPECT_EQ(p->colourSumG[i], named ? 102 / 255.0 : 0.0) << "colour of pixel " << i;
            EXPECT_EQ(p->transmitB[i], named ? 0.0 : 1.0) << "transmittance of pixel " << i;
        }
        EXPECT_EQ(s->finished(), 1u);
    }
}

}  // namespace
}  // namespace rendertest
