// The pass protocol of the render engine: methods by the rounded mode,
// unknown passes, the radius map of pass 1, and what the host hands over
// that would reach outside the buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "qvlib_testing.h"
#include "render/render_scene.h"

namespace rendertest {
namespace {

using dofrt::RenderSession;

std::uint64_t allocations() { return qvlib::allocStats().totalAllocations; }

class PassesTest : public RenderTest {
protected:
    void scene(QVBitmapType format, std::uint32_t seed, int width = 8, int height = 6) {
        randomScene(format, seed, width, height, 2.5);
    }
};

struct ModeCase {
    double mode;
    int method;  // the method it selects; 0 = none
    const char* why;
};

TEST_F(PassesTest, ModeIsRoundedHalfToEven) {
    const std::vector<ModeCase> cases = {
        {1.0, 1, "box averaging"}, {1.4, 1, "rounds down"},        {1.5, 2, "half to the even 2"},
        {2.0, 2, "splatting"},     {2.5, 2, "half to the even 2"}, {0.5, 0, "half to the even 0"},
        {2.6, 0, "rounds to 3"},   {3.0, 0, "no method 3"},        {-1.0, 0, "negative"},
    };
    for (QVBitmapType format : kAllFormats) {
        std::vector<std::uint8_t> byMethod[3];
        for (int method : {1, 2}) {
            scene(format, 3);
            settings.method = method;
            ASSERT_TRUE(run(*source, *destination, gbuffers.get(), settings).ok);
            byMethod[method] = bufferBytes(*destination);
        }
        ASSERT_NE(byMethod[1], byMethod[2]) << "the scene tells the methods apart";
        for (const ModeCase& m : cases) {
            scene(format, 3);
            settings.method = m.mode;
            const dofrt::RenderReport report = run(*source, *destination, gbuffers.get(), settings);
            const std::string what =
                std::string(formatName(format)) + ", mode " + std::to_string(m.mode) + ": " + m.why;
            if (m.method == 0) {
                EXPECT_FALSE(report.ok) << what;
                EXPECT_EQ(report.failedPass, 2) << what;
                EXPECT_EQ(bufferBytes(*destination), before) << what;
            } else {
                EXPECT_TRUE(report.ok) << what;
                EXPECT_EQ(bufferBytes(*destination), byMethod[m.method]) << what;
            }
        }
    }
}

// An unknown method fails passes 2 and 4 but lets pass 3 through.
TEST_F(PassesTest, UnknownMethodFailsPassesTwoAndFourOnly) {
    scene(kQVBitmapRGBA8, 4);
    settings.method = 3.0;
    auto s = session();
    const QVRect all = s->region();
    ASSERT_EQ(s->prepare(), 1u);
    EXPECT_EQ(s->apply(0, all), 1u);
    EXPECT_EQ(s->apply(1, all), 1u);
    EXPECT_EQ(s->apply(2, all), 0u);
    EXPECT_EQ(s->apply(3, all), 1u);
    EXPECT_EQ(s->apply(4, all), 0u);
    EXPECT_EQ(bufferBytes(*destination), before);
    EXPECT_EQ(s->finished(), 1u);
}

TEST_F(PassesTest, PassesAboveFourDoNothing) {
    for (double method : {1.0, 2.0}) {
        scene(kQVBitmapRGBA16, 5);
        settings.method = method;
        auto s = session();
        ASSERT_EQ(s->prepare(), 1u);
        const std::uint64_t allocated = allocations();
        for (std::uint32_t pass : {5u, 6u, 255u, 0xFFFFFFFFu})
            EXPECT_EQ(s->apply(pass, s->region()), 0u) << "pass " << pass;
        EXPECT_EQ(allocations(), allocated) << "nothing allocated";
        EXPECT_EQ(bufferBytes(*destination), before);
        const Parameters* p = s->parameters();
        EXPECT_EQ(p->cocMap, nullptr);
        EXPECT_EQ(p->colourSumR, nullptr);
        EXPECT_EQ(s->finished(), 1u);
    }
}

struct DepthByte {
    float depth;
    std::uint8_t expected;
    const char* why;
};

// Focal depth -1, no sharp zone: the fraction is |1 - d / F| up to 1.
const std::vector<DepthByte>& depthBytes() {
    static const std::vector<DepthByte> cases = {
        {-1.0f, 0, "in focus"},
        {-0.5f, 128, "fraction 0.5: 127.5 to the even 128"},
        {-0.75f, 64, "fraction 0.25: 63.75"},
        {-0.6f, 102, "fraction 0.4: 102"},
        {-0.8f, 51, "fraction 0.2: 51"},
        {-2.0f, 255, "fraction 1"},
        {-100.0f, 255, "far beyond: limited to 1"},
        {0.0f, 0, "depth 0: no finite fraction, stored as 0"},
        {3.0f, 0, "behind the viewer"},
        {-1.5f, 128, "behind the focal depth: 127.50000000000003"},
        {-1.25f, 64, "fraction 0.25 behind"},
        {-0.0f, 0, "negative zero"},
    };
    return cases;
}

// Pass 1 over two tiles side by side: every tile writes its own bytes of
// the region's map, one byte per region pixel.
TEST_F(PassesTest, RadiusMapHasOneBytePerRegionPixel) {
    const int n = int(depthBytes().size());  // 12 depths on a 4 x 3 region at (2, 1)
    scene(kQVBitmapRGBA8, 6);
    settings.focalDepth = -1.0;
    settings.focusRangeDepth = 0.0;
    settings.region = QVRect{2, 1, 4, 3};
    for (int i = 0; i < n; ++i)
        gbuffers->depth(2 + i % 4, 1 + i / 4) = depthBytes()[std::size_t(i)].depth;
    auto s = session();
    ASSERT_EQ(s->prepare(), 1u);
    ASSERT_EQ(s->apply(0, s->region()), 1u);
    unsigned char* map = s->parameters()->cocMap;
    ASSERT_NE(map, nullptr);
    std::memset(map, 0xEE, 12);
    // The right tile first, then a rectangle that reaches beyond the region.
    ASSERT_EQ(s->apply(1, QVRect{4, 1, 2, 3}), 1u);
    for (int i = 0; i < n; ++i) {
        if (i % 4 < 2) {
            EXPECT_EQ(map[i], 0xEE) << "left tile not yet written, byte " << i;
        }
    }
    ASSERT_EQ(s->apply(1, QVRect{-5, -5, 9, 20}), 1u);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(map[i], depthBytes()[std::size_t(i)].expected)
            << depthBytes()[std::size_t(i)].why;
    EXPECT_EQ(s->finished(), 1u);
}

struct ZeroMapCase {
    double radius;
    bool depthChannel;
    const char* why;
};

TEST_F(PassesTest, RadiusMapIsZeroWithoutBlur) {
    const std::vector<ZeroMapCase> cases = {
        {0.0, true, "radius 0"},
        {0.0000099, true, "below 0.00001"},
        {5.0, false, "no depth channel"},
    };
    for (const ZeroMapCase& z : cases) {
        scene(kQVBitmapRGBA8, 7);
        settings.radius = z.radius;
        settings.focalDepth = -1.0;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x) gbuffers->depth(x, y) = -2.0f;
        if (!z.depthChannel) gbuffers->remove(kGBufferDepth);
        auto s = session();
        ASSERT_EQ(s->prepare(), 1u);
        ASSERT_EQ(s->apply(0, s->region()), 1u);
        unsigned char* map = s->parameters()->cocMap;
        std::memset(map, 0xEE, 48);
        ASSERT_EQ(s->apply(1, s->region()), 1u);
        for (int i = 0; i < 48; ++i) ASSERT_EQ(map[i], 0) << z.why << ", byte " << i;
        EXPECT_EQ(s->finished(), 1u);
    }
}

struct StrideCase {
    int left;                  // first column of the output rectangle
    std::vector<int> offsets;  // where the walk finds the depths, in bytes
    const char* why;
};

// A depth channel of xStride 6 is walked by 4 bytes from the first pixel,
// which alone sits at left x 6.
TEST_F(PassesTest, DepthWalkAdvancesByStrideRoundedDownToFour) {
    const std::vector<StrideCase> cases = {
        {0, {0, 4, 8, 12}, "from column 0"},
        {1, {6, 10, 14}, "from column 1: first at 6, then every 4"},
    };
    const float depths[4] = {-2.0f, -0.8f, -1.0f, -0.5f};
    const std::uint8_t bytes[4] = {255, 51, 0, 128};
    for (const StrideCase& c : cases) {
        scene(kQVBitmapRGBA8, 8, 4, 1);
        settings.focalDepth = -1.0;
        // Every other byte makes a positive float (0x7F7F7F7F): fraction 0.
        std::vector<std::uint8_t> data(32, 0x7F);
        for (std::size_t k = 0; k < c.offsets.size(); ++k)
            std::memcpy(&data[std::size_t(c.offsets[k])], &depths[k], 4);
        GBufferChannel* depth = gbuffers->channel(kGBufferDepth);
        depth->data = data.data();
        depth->xStride = 6;
        depth->yStride = 32;
        auto s = session();
        ASSERT_EQ(s->prepare(), 1u);
        ASSERT_EQ(s->apply(0, s->region()), 1u);
        unsigned char* map = s->parameters()->cocMap;
        ASSERT_EQ(s->apply(1, QVRect{c.left, 0, 4 - c.left, 1}), 1u);
        for (std::size_t k = 0; k < c.offsets.size(); ++k)
            EXPECT_EQ(map[std::size_t(c.left) + k], bytes[k]) << c.why << ", pixel " << k;
        EXPECT_EQ(s->finished(), 1u);
    }
}

struct RectCase {
    QVRect region;
    QVRect rect;
    const char* why;
};

// Regions or rectangles of no size do nothing, allocate nothing and fail
// nothing; rectangles reaching outside the region are cut to it.
TEST_F(PassesTest, EmptyAreasDoNothing) {
    const std::vector<RectCase> cases = {
        {{2, 1, 0, 4}, {2, 1, 3, 3}, "region of width 0"},
        {{2, 1, 4, -3}, {2, 1, 3, 3}, "region of negative height"},
        {{2, 1, 4, 3}, {2, 1, 0, 3}, "rectangle of width 0"},
        {{2, 1, 4, 3}, {2, 1, 3, -1}, "rectangle of negative height"},
        {{2, 1, 4, 3}, {6, 1, 2, 2}, "rectangle right of the region"},
        {{2, 1, 4, 3}, {0, 4, 8, 2}, "rectangle below the region"},
    };
    for (double method : {1.0, 2.0}) {
        for (const RectCase& c : cases) {
            scene(kQVBitmapRGBA12, 9);
            settings.method = method;
            settings.radius = 0.0;  // the copy path would write every pixel it is given
            settings.region = c.region;
            settings.outputRects = {c.rect};
            const std::uint64_t allocated = allocations();
            const dofrt::RenderReport report = run(*source, *destination, gbuffers.get(), settings);
            const bool emptyRegion = c.region.width <= 0 || c.region.height <= 0;
            EXPECT_TRUE(report.ok) << c.why;
            EXPECT_EQ(bufferBytes(*destination), before) << c.why;
            if (emptyRegion) {
                EXPECT_EQ(allocations() - allocated, 1u) << c.why << ": only the engine";
            }
        }
    }
}

TEST_F(PassesTest, RectangleReachingOutsideIsClippedToTheRegion) {
    for (QVBitmapType format : kAllFormats) {
        for (double method : {1.0, 2.0}) {
            for (double radius : {0.0, 2.0}) {
                scene(format, 10);
                settings.method = method;
                settings.radius = radius;
                settings.region = QVRect{2, 1, 4, 3};
                settings.outputRects = {QVRect{-3, -2, 20, 20}};
                expectMatchesReference(*source, *destination, gbuffers.get(), settings,
                                       std::string(formatName(format)) + ", method " +
                                           std::to_string(int(method)) + ", radius " +
                                           std::to_string(radius));
                // The copy path shows the cut by hand: the region copied, the rest kept.
                if (radius != 0.0) continue;
                const std::vector<std::uint8_t> after = bufferBytes(*destination);
                const int bpp = destination->pixelBytes();
                const int rowPixels = destination->record().rowPixels;
                for (int y = 0; y < 6; ++y)
                    for (int x = 0; x < rowPixels; ++x) {
                        const bool inside = x >= 2 && x < 6 && y >= 1 && y < 4;
                        const std::size_t at = std::size_t(y * rowPixels + x) * std::size_t(bpp);
                        const std::uint8_t* want = inside ? source->pixel(x, y) : &before[at];
                        EXPECT_EQ(std::memcmp(&after[at], want, std::size_t(bpp)), 0)
                            << formatName(format) << " pixel (" << x << ", " << y << ")";
                    }
            }
        }
    }
}

struct SizeCase {
    std::uint32_t pass;
    double method;
    QVRect region;
    const char* why;
};

// Sizes are counted in 64 bits: a region whose buffer does not fit the
// host allocator's 32-bit size fails with "out of memory" before asking.
TEST_F(PassesTest, BufferSizesBeyondThirtyTwoBitsFail) {
    const std::vector<SizeCase> cases = {
        {0, 1.0, {0, 0, 65536, 65536}, "map of 2^32 bytes"},
        {0, 2.0, {0, 0, 65537, 65536}, "map that wraps to 65536 bytes in 32 bits"},
        {0, 1.0, {0, 0, 0x7FFFFFFF, 3}, "wide region"},
        {2, 1.0, {0, 0, 30000, 30000}, "tables of 7.2e9 bytes"},
        {2, 2.0, {0, 0, 30000, 30000}, "planes of 7.2e9 bytes"},
        {2, 1.0, {0, 0, 23170, 23170}, "(w + 1) x (h + 1) x 8 just above 2^32"},
        {2, 2.0, {0, 0, 65536, 8192}, "planes of exactly 2^32 bytes"},
        {2, 1.0, {0, 0, 0x7FFFFFFF, 0x3FFFFFFF}, "(w + 1) x (h + 1) x 8 = 2^64, which wraps to 0"},
    };
    for (const SizeCase& c : cases) {
        scene(kQVBitmapRGBA8, 11);
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

struct TopRegionCase {
    QVRect region;
    int namedColumns;  // columns whose x fits 32 bits
    int namedRows;     // rows whose y fits 32 bits
    const char* why;
};

// Regions that reach the largest 32-bit coordinate: the radius map and the
// planes receive every pixel up to it, and a pixel beyond it, which has no
// coordinate, is neither mapped nor splatted. The g-buffer elements all read
// one element (strides 0): in focus, so each splat lands on its own pixel
// with weight 1 and leaves transmittance 0 there.
TEST_F(PassesTest, RegionReachingTheLargestCoordinateIsWalkedUpToIt) {
    const int kMax = 0x7FFFFFFF;
    const std::vector<TopRegionCase> cases = {
        {{0, kMax - 3, 2, 4}, 2, 4, "last row at 2^31 - 1"},
        {{kMax - 2, 5, 3, 2}, 3, 2, "last column at 2^31 - 1"},
        {{kMax - 1, kMax - 1, 2, 2}, 2, 2, "corner at (2^31 - 1, 2^31 - 1)"},
        {{kMax - 1, 0, 5, 2}, 2, 2, "three columns beyond 2^31 - 1"},
        {{3, kMax, 2, 3}, 2, 1, "two rows beyond 2^31 - 1"},
    };
    for (const TopRegionCase& c : cases) {
        scene(kQVBitmapRGBA8, 13);
        settings.method = 2.0;
        settings.focalDepth = -1.0;
        settings.region = c.region;
        const float depth = -1.0f;
        const std::uint8_t coverage = 255;
        const std::uint8_t colour[3] = {51, 102, 153};
        gbuffers.reset(new GBufferSet(8, 6));
        gbuffers->addDepth();
        gbuffers->addCoverage();
        gbuffers->addColour(false);
        const std::pair<GBufferEntry, const void*> elements[] = {
            {kGBufferDepth, &depth}, {kGBufferCoverage, &coverage}, {kGBufferColour, colour}};
        for (const auto& e : elements) {
            GBufferChannel* ch = gbuffers->channel(e.first);
            ch->data = static_cast<std::uint8_t*>(const_cast<void*>(e.second));
            ch->xStride = 0;
            ch->yStride = 0;
        }
        auto s = session();
        const int width = c.region.width;
        const std::size_t pixels = std::size_t(width) * std::size_t(c.region.height);
        ASSERT_EQ(s->prepare(), 1u);
        ASSERT_EQ(s->apply(0, c.region), 1u) << c.why;
        const Parameters* p = s->parameters();
        ASSERT_NE(p->cocMap, nullptr) << c.why;
        std::memset(p->cocMap, 0xEE, pixels);
        ASSERT_EQ(s->apply(1, c.region), 1u) << c.why;
        ASSERT_EQ(s->apply(2, c.region), 1u) << c.why;
        ASSERT_EQ(s->apply(3, c.region), 1u) << c.why;
        for (std::size_t i = 0; i < pixels; ++i) {
            const bool named = int(i) % width < c.namedColumns && int(i) / width < c.namedRows;
            EXPECT_EQ(p->cocMap[i], named ? 0 : 0xEE) << c.why << ": map byte " << i;
            EXPECT_EQ(p->weightSumR[i], named ? 1.0 : 0.0) << c.why << ": weight of pixel " << i;
            EXPECT_EQ(p->colourSumG[i], named ? 102 / 255.0 : 0.0)
                << c.why << ": colour of pixel " << i;
            EXPECT_EQ(p->transmitB[i], named ? 0.0 : 1.0)
                << c.why << ": transmittance of pixel " << i;
        }
        EXPECT_EQ(s->finished(), 1u);
    }
}

// A host that repeats a pass, or changes the method between pass 2 and
// pass 4, leaks nothing and never reads a buffer of the other method.
TEST_F(PassesTest, RepeatedPassesAndMethodChangesStayInsideTheBuffers) {
    scene(kQVBitmapRGBA16, 12);
    settings.method = 1.0;
    auto s = session();
    const QVRect all = s->region();
    ASSERT_EQ(s->prepare(), 1u);
    EXPECT_EQ(s->apply(0, all), 1u);
    EXPECT_EQ(s->apply(0, all), 1u);
    EXPECT_EQ(s->apply(1, all), 1u);
    EXPECT_EQ(s->apply(2, all), 1u);
    const Parameters* p = s->parameters();
    EXPECT_NE(p->alphaTable, nullptr);

    settings.method = 2.0;
    ASSERT_TRUE(dofrt::setRenderParameters(*instance, settings));
    EXPECT_EQ(s->apply(2, all), 1u);
    EXPECT_EQ(p->alphaTable, nullptr) << "the box tables went with the method";
    EXPECT_NE(p->opacitySumR, nullptr);
    EXPECT_EQ(s->apply(3, all), 1u);

    settings.method = 1.0;
    ASSERT_TRUE(dofrt::setRenderParameters(*instance, settings));
    const std::vector<std::uint8_t> afterSplat = bufferBytes(*destination);
    EXPECT_EQ(s->apply(4, all), 0u) << "no summed-area tables for the box average";
    EXPECT_EQ(bufferBytes(*destination), afterSplat);
    EXPECT_EQ(s->finished(), 1u);
}

}  // namespace
}  // namespace rendertest
