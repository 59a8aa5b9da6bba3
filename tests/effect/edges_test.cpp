// What random scenes cannot reach. The render lifecycle: prepare picks the
// engine by the destination's format, apply runs a pass, finished releases
// everything; calls out of protocol, passes above 4 and an allocation
// failure at every step leave nothing behind. Pixels worked out by hand,
// which anchor the literal reference that the random scenes are compared
// with; buffer sizes beyond 32 bits and regions at the largest coordinate;
// and the splatting pass asking the host whether to stop.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "dof/scratch_tables.h"
#include "effect/render_scene.h"
#include "qvlib_testing.h"

namespace dof::test {
namespace {

// The four components of pixel (x, y), as floats: the float format keeps
// them so.
std::vector<float> pixelAt(const PixelImage& image, int x, int y) {
    std::vector<float> v;
    for (int c = 0; c < 4; ++c) v.push_back(float(image.component(x, y, c)));
    return v;
}

bool allBuffersNull(Parameters* p) {
    for (int t = 0; t < kScratchTableCount; ++t)
        if (scratch_table(p, t) != nullptr) return false;
    return p->cocMap == nullptr;
}

class EdgeTest : public RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        scene(kQVBitmapRGBA8, 8, 6, 11, kEveryChannel);
        settings.radius = 2.5;
    }
    // A scene whose source pixels are all `pixel` and whose depths are all
    // `depth`, with coverage 0 wherever there is coverage.
    void uniform(QVBitmapType format, int w, int h, std::vector<double> pixel, float depth,
                 unsigned features) {
        scene(format, w, h, 3, features);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                gbuffers->set.depth(x, y) = depth;
                for (int c = 0; c < 4; ++c) source->setComponent(x, y, c, pixel[std::size_t(c)]);
                if (features & kCoverage) gbuffers->set.coverage(x, y) = 0;
            }
    }
};

// Answers of prepare and of passes 0 to 4 by format code and method. Codes
// other than 1 to 5 get no engine: every apply then answers 0 (status 4,
// not a want of memory) and allocates nothing. An unknown method fails
// passes 2 and 4 only. Passes above 4 fail and allocate nothing anywhere; a
// render whose pass 4 fails writes nothing.
TEST_F(EdgeTest, AnswersByFormatCodeAndMethod) {
    const struct {
        int code;
        int method;
        QVULong answers[5];
    } cases[] = {{1, 1, {1, 1, 1, 1, 1}},  {2, 2, {1, 1, 1, 1, 1}}, {3, 1, {1, 1, 1, 1, 1}},
                 {4, 2, {1, 1, 1, 1, 1}},  {5, 2, {1, 1, 1, 1, 1}}, {1, 3, {1, 1, 0, 1, 0}},
                 {0, 1, {0, 0, 0, 0, 0}},  {6, 2, {0, 0, 0, 0, 0}}, {128, 1, {0, 0, 0, 0, 0}},
                 {255, 2, {0, 0, 0, 0, 0}}};
    for (const auto& c : cases) {
        const bool known = c.code >= 1 && c.code <= 5;
        SCOPED_TRACE(::testing::Message() << "code " << c.code << ", method " << c.method);
        scene(QVBitmapType(known ? c.code : 2), 5, 4, 5, kEveryChannel);
        settings.radius = 1.5;
        settings.method = FilterMethod(c.method);
        destination->record().formatCode = QVBitmapType(c.code);
        const std::vector<std::uint8_t> before = bufferBytes(*destination);
        auto s = session();
        EXPECT_EQ(s->prepare(), known ? 1u : 0u);
        EXPECT_EQ(instance->record().engine != nullptr, known);
        if (!known) {
            EXPECT_EQ(filter_apply(instance->record(), instance->parameters()),
                      kStatusUnknownPassOrMode);
        }
        const std::uint64_t allocated = allocations();
        for (std::uint32_t pass : {kRenderPassCount + 0u, kRenderPassCount + 1u, 255u, 0xFFFFFFFFu})
            EXPECT_EQ(s->apply(pass, s->region()), 0u) << "pass " << pass;
        EXPECT_EQ(allocations(), allocated) << "passes above 4 allocate nothing";
        for (std::uint32_t pass = kPassAllocateRadiusMap; pass <= kPassWriteOutput; ++pass)
            EXPECT_EQ(s->apply(pass, s->region()), c.answers[pass]) << "pass " << pass;
        if (!known) {
            EXPECT_EQ(allocations(), allocated);
        }
        EXPECT_EQ(s->finished(), 1u);
        EXPECT_EQ(instance->record().engine, nullptr) << "finished clears the engine";
        EXPECT_TRUE(allBuffersNull(instance->parameters()));
        destination->record().formatCode = QVBitmapType(known ? c.code : 2);
        if (c.answers[kPassWriteOutput] == 0) {
            EXPECT_EQ(bufferBytes(*destination), before);
        }
    }
}

// An instance whose set up failed has no Parameters record: no engine.
TEST_F(EdgeTest, NoEngineWithoutParameters) {
    runtime::EffectInstance failed(effectLibrary());
    ASSERT_TRUE(failed.describe());
    dof::qvlib::failAllAllocations(true);
    ASSERT_FALSE(failed.setup());
    dof::qvlib::failAllAllocations(false);
    runtime::RenderSession s(failed, *source, *destination, &gbuffers->set, settings);
    EXPECT_EQ(s.prepare(), 0u);
    EXPECT_EQ(failed.record().engine, nullptr);
    EXPECT_EQ(s.apply(kPassAllocateRadiusMap, s.region()), 0u);
}

// Out of protocol: a second prepare replaces the engine without stranding
// the first; repeated passes and a method changed between pass 2 and pass 4
// leak nothing and never read a buffer of the other method; a second
// finished finds nothing left to release.
TEST_F(EdgeTest, RepeatedCallsAndMethodChangesLeakNothing) {
    settings.method = kMethodBoxAverage;
    auto s = session();
    const QVRect all = s->region();
    ASSERT_EQ(s->prepare(), 1u);
    const std::uint64_t live = liveBlocks();
    ASSERT_EQ(s->prepare(), 1u);
    EXPECT_EQ(liveBlocks(), live) << "the first engine was released";
    for (RenderPass pass :
         {kPassAllocateRadiusMap, kPassAllocateRadiusMap, kPassFillRadiusMap, kPassBuildTables})
        EXPECT_EQ(s->apply(pass, all), 1u);
    const Parameters* p = s->parameters();
    EXPECT_NE(p->alphaTable, nullptr);
    settings.method = kMethodSplatting;
    ASSERT_TRUE(runtime::setRenderParameters(*instance, settings));
    EXPECT_EQ(s->apply(kPassBuildTables, all), 1u);
    EXPECT_EQ(p->alphaTable, nullptr) << "the box tables went with the method";
    EXPECT_EQ(s->apply(kPassSplat, all), 1u);
    settings.method = kMethodBoxAverage;
    ASSERT_TRUE(runtime::setRenderParameters(*instance, settings));
    const std::vector<std::uint8_t> afterSplat = bufferBytes(*destination);
    EXPECT_EQ(s->apply(kPassWriteOutput, all), 0u) << "no summed-area tables for the box average";
    EXPECT_EQ(bufferBytes(*destination), afterSplat);
    EXPECT_EQ(s->finished(), 1u);
    EXPECT_TRUE(allBuffersNull(instance->parameters()));
    EXPECT_EQ(s->finished(), 1u) << "a second finished is harmless";
    EXPECT_EQ(s->apply(kPassWriteOutput, all), 0u) << "no engine after finished";
}

// A failure injected at each allocation of a whole render in turn, output
// rectangle by output rectangle: the engine, the radius map, the tables or
// planes (all asked for before any is tested), then for splatting the
// scratch of each pass 3 call. The render fails at the step that allocates
// and finished leaves no block, whatever the passes returned.
TEST_F(EdgeTest, AllocationFailureAtEveryStep) {
    for (QVBitmapType format : kAllFormats) {
        scene(format, 5, 4, std::uint32_t(format), kEveryChannel);
        settings.radius = 1.5;
        settings.outputRects = {{0, 0, 5, 2}, {0, 2, 5, 2}};
        for (FilterMethod method : {kMethodBoxAverage, kMethodSplatting}) {
            settings.method = method;
            SCOPED_TRACE(formatName(format) + ", method " + std::to_string(method));
            const std::uint64_t tables = method == kMethodBoxAverage ? 6 : 14;
            const std::uint64_t steps = method == kMethodBoxAverage ? 6 : 16;
            const std::uint64_t live = liveBlocks();
            for (std::uint64_t n = 1; n <= steps + 1; ++n) {
                SCOPED_TRACE(::testing::Message() << "failure at allocation " << n);
                dof::qvlib::failAllocationAt(n);
                const runtime::RenderReport report =
                    render(*source, *destination, &gbuffers->set, settings);
                dof::qvlib::failAllocationAt(0);
                EXPECT_EQ(liveBlocks(), live);
                EXPECT_EQ(report.ok, n > steps);
                EXPECT_EQ(report.failedSelector,
                          n == 1 ? kSelectorPrepare : (n <= steps ? kSelectorApply : 0u));
                if (n > 1 && n <= steps) {
                    EXPECT_EQ(report.failedPass,
                              int(n == 2 ? kPassAllocateRadiusMap
                                         : (n <= tables ? kPassBuildTables : kPassSplat)));
                }
            }
        }
    }
}

// One opaque fragment in focus alone on pixel (1, 1): transmittance 0, so
// the pixel takes the fragment's colour and full alpha. 200/255 x 1023 =
// 802.35, x 4095 = 3211.76; exponent byte 129 doubles, and above 1 the
// integer formats store full scale while the float keeps the value.
TEST_F(EdgeTest, OpaqueSharpFragmentTakesItsOwnColour) {
    // clang-format off
    const struct {
        std::uint8_t bytes[4];
        bool exponent;
        float expected[5][4];  // 8, 10, 12, 16 bits; float
    } cases[] = {
        {{200, 100, 50, 0}, false, {{200, 100, 50, 255}, {802, 401, 201, 1023}, {3212, 1606, 803, 4095},
                                    {51400, 25700, 12850, 65535}, {200 / 255.0, 100 / 255.0, 50 / 255.0, 1}}},
        {{128, 64, 255, 129}, true, {{255, 128, 255, 255}, {1023, 514, 1023, 1023}, {4095, 2056, 4095, 4095},
                                     {65535, 32896, 65535, 65535}, {256 / 255.0, 128 / 255.0, 2, 1}}},
    };
    // clang-format on
    for (int f = 0; f < 5; ++f) {
        for (const auto& c : cases) {
            SCOPED_TRACE(formatName(kAllFormats[f]));
            uniform(kAllFormats[f], 3, 3, {0.25, 0.5, 0.75, 0.5}, -10.0f,
                    kCoverage | kColour | (c.exponent ? unsigned(kExponent) : 0u));
            gbuffers->set.coverage(1, 1) = 255;
            std::memcpy(gbuffers->set.colour(1, 1), c.bytes, c.exponent ? 4 : 3);
            settings.method = kMethodSplatting;
            settings.radius = 3.0;
            const std::vector<float> sourceCorner = pixelAt(*source, 0, 2);
            ASSERT_TRUE(render(*source, *destination, &gbuffers->set, settings).ok);
            EXPECT_EQ(pixelAt(*destination, 1, 1),
                      std::vector<float>(c.expected[f], c.expected[f] + 4));
            EXPECT_EQ(pixelAt(*destination, 0, 2), sourceCorner)
                << "no coverage: the source, alpha too";
        }
    }
}

// Radius 1, fraction 1: 3 x 3 windows cut by the corner of a region at
// (1, 1) whose pixels carry alpha 255, 128 and 64 at (0, 0), (0, 1),
// (1, 1) and 0 elsewhere; pixels outside the region are bright and opaque.
// Every window below sums alpha 447 and R x A 9014 (10 x 255 + 30 x 128 +
// 41 x 64), G x A 9461, B x A 9908: mean colour 20.17, 21.17, 22.17.
TEST_F(EdgeTest, BoxAverageAtTheRegionCorner) {
    const struct {
        int x, y, area;
        double alpha;  // 447 / area, to the even, in the integer formats
    } windows[] = {{0, 0, 4, 112}, {1, 1, 9, 50}, {0, 1, 6, 74}, {1, 0, 6, 74}};
    for (QVBitmapType format : kAllFormats) {
        uniform(format, 7, 6, {200, 200, 200, 250}, -30.0f, 0);
        settings.region = QVRect{1, 1, 5, 4};
        for (int y = 1; y < 5; ++y)
            for (int x = 1; x < 6; ++x)
                for (int c = 0; c < 4; ++c) source->setComponent(x, y, c, c == 3 ? 0 : 7);
        const double corner[3][4] = {{10, 11, 12, 255}, {30, 31, 32, 128}, {41, 42, 43, 64}};
        const int at[3][2] = {{1, 1}, {1, 2}, {2, 2}};
        for (int p = 0; p < 3; ++p)
            for (int c = 0; c < 4; ++c) source->setComponent(at[p][0], at[p][1], c, corner[p][c]);
        settings.method = kMethodBoxAverage;
        settings.radius = 1.0;
        ASSERT_TRUE(render(*source, *destination, &gbuffers->set, settings).ok);
        const bool isFloat = format == kQVBitmapRGBAFloat;
        for (const auto& w : windows) {
            const std::vector<float> expected =
                isFloat ? std::vector<float>{float(9014.0 / 447), float(9461.0 / 447),
                                             float(9908.0 / 447), float(447.0 / w.area)}
                        : std::vector<float>{20, 21, 22, float(w.alpha)};
            EXPECT_EQ(pixelAt(*destination, 1 + w.x, 1 + w.y), expected)
                << formatName(format) << ", window of " << w.area;
        }
    }
}

// Sizes are counted in 64 bits: a region whose buffer does not fit the
// host allocator's 32-bit size fails with "out of memory" before asking.
TEST_F(EdgeTest, BufferSizesBeyondThirtyTwoBitsFail) {
    const struct {
        std::uint32_t pass;
        int method;
        QVRect region;
        const char* why;
    } cases[] = {
        // clang-format off
        {kPassAllocateRadiusMap, 1, {0, 0, 65536, 65536}, "map of 2^32 bytes"},
        {kPassAllocateRadiusMap, 2, {0, 0, 65537, 65536}, "map that wraps to 65536 bytes in 32 bits"},
        {kPassAllocateRadiusMap, 1, {0, 0, 0x7FFFFFFF, 3}, "wide region"},
        {kPassBuildTables, 1, {0, 0, 23170, 23170}, "(w + 1) x (h + 1) x 8 just above 2^32"},
        {kPassBuildTables, 2, {0, 0, 65536, 8192}, "planes of exactly 2^32 bytes"},
        {kPassBuildTables, 1, {0, 0, 0x7FFFFFFF, 0x3FFFFFFF}, "(w + 1) x (h + 1) x 8 = 2^64, which wraps to 0"},
        // clang-format on
    };
    for (const auto& c : cases) {
        settings.method = FilterMethod(c.method);
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
TEST_F(EdgeTest, RegionAtTheLargestCoordinateIsWalkedUpToIt) {
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
        settings.method = kMethodSplatting;
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

// The splatting pass asks the host whether to stop between bands: first
// after more than 100 clock ticks, then at most once per 100 ticks, and at
// every poll the planes hold what the literal walk holds after a whole
// number of pixels. A stop splats nothing more. Every footprint covers the
// whole region, so every pixel changes every plane element.
TEST_F(EdgeTest, PollsSeeWholePixelsAndAStopSplatsNothingMore) {
    scene(kQVBitmapRGBA16, 48, 40, 7, kCoverage | kColour | kLayers);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 48; ++x) gbuffers->set.depth(x, y) = -30.0f;  // fully blurred
    settings.method = kMethodSplatting;
    settings.radius = 30.0;  // hats 60 pixels out
    const std::size_t elements = 48 * 40;
    for (const SplatWalkTuning& tuning :
         {SplatWalkTuning{kSplatBest, 3000, 16, 16}, SplatWalkTuning{kSplatSSE2, 9000, 7, 8}}) {
        splat_walk_tuning() = tuning;
        for (unsigned stopAt : {1u, 3u, 0u}) {
            std::vector<ReferencePlanes> seen;
            std::vector<std::clock_t> when;
            const std::clock_t start = std::clock();
            instance->setAbortHandler([&] {
                when.push_back(std::clock());
                seen.push_back(planesOf(*instance->parameters(), elements));
                return seen.size() == stopAt;
            });
            ReferencePlanes last;
            render(*source, *destination, &gbuffers->set, settings, true, [&](const Parameters& p) {
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
            referenceSplatPlanes(
                settings, *source, gbuffers->set.table(), [&](const ReferencePlanes& planes) {
                    while (matched < seen.size() && planes[9][0] == seen[matched][9][0] &&
                           samePlanes(planes, seen[matched]))
                        ++matched;
                    return matched < seen.size();
                });
            EXPECT_EQ(matched, seen.size()) << "stop at poll " << stopAt;
        }
    }
}

}  // namespace
}  // namespace dof::test
