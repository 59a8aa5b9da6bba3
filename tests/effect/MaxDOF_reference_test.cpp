// Whole renders of random scenes against the literal reference, in every
// format: the destination's bytes, and after the splatting pass the twelve
// planes, as the built module renders and as this program's engine renders
// with each vector unit the processor has, on small tiles and bands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effect/render_scene.h"

namespace dof::test {
namespace {

enum Tiling { kWhole, kBands, kQuarters, kUneven, kOutside };

// Output rectangles over a region of w x h at (l, t).
std::vector<QVRect> tiling(Tiling kind, QVRect r) {
    const int l = r.left, t = r.top, w = r.width, h = r.height, hw = w / 2, hh = h / 2;
    // clang-format off
    switch (kind) {
        case kBands: return {{l, t, w, hh}, {l, t + hh, w, h - hh}};
        case kQuarters: return {{l, t, hw, hh}, {l + hw, t, w - hw, hh},
                                {l, t + hh, hw, h - hh}, {l + hw, t + hh, w - hw, h - hh}};
        // In an order other than the raster's.
        case kUneven: return {{l + hw, t + hh, w - hw, h - hh}, {l, t, 1, h},
                              {l + 1, t, w - 1, hh}, {l + 1, t + hh, hw - 1, h - hh}};
        // Reaching past every edge, and one of no size.
        case kOutside: return {{l - 3, t - 2, w + 9, h + 7}, {l + 1, t + 1, 0, 4}};
        default: return {};
    }
    // clang-format on
}

constexpr QVRect kRegion{3, 2, 11, 9};  // of a 16 x 13 image

struct Scene {
    const char* why;
    unsigned features;
    double radius;
    double mode;  // 0: both methods
    Tiling tiling;
    QVRect region = kRegion;
    double scaleX = 1.0;
    double focusRangeDepth = 0.0;
};

// clang-format off
const Scene kScenes[] = {
    {"every channel", kEveryChannel, 2.5, 0, kBands},
    {"shared exponent colour", kEveryChannel | kExponent, 1.75, 0, kQuarters},
    {"sharp zone, wide pixels", kEveryChannel, 3.0, 0, kUneven, kRegion, 1.5, -20.0},
    {"opaque and fully covered: five planes", kCoverage | kColour | kOpaque, 4.0, 2, kQuarters},
    {"equal layer weights: eight planes", kEveryChannel | kEqualWeights, 3.0, 2, kWhole},
    {"no colour channel: the source's colour, some infinite",
     kCoverage | kTransparency | kInfinite, 2.0, 0, kBands},
    {"footprints larger than the region", kEveryChannel, 12.0, 2, kUneven},
    {"tiny radii", kEveryChannel, 0.3, 0, kQuarters},
    {"a nearly clear source: alpha stored as 0 leaves the colour bits", kEveryChannel | kClearSource, 1.0, 0, kBands},
    {"radius 0: copies", kEveryChannel, 0.0, 0, kUneven},
    {"radius 0.000005: mode 1 averages each pixel alone, mode 2 copies",
     kEveryChannel, 0.000005, 0, kBands},
    {"radius 0.0000005: mode 1 copies", kEveryChannel, 0.0000005, 1, kWhole},
    {"no depth channel", kEveryChannel | kNoDepth, 3.0, 0, kBands},
    {"no g-buffer table", kNoTable, 3.0, 0, kWhole},
    {"sparse fragments: weights from the hats' ends alone", kEveryChannel | kSparse, 2.5, 2, kWhole},
    {"no coverage: nothing splatted", kColour | kTransparency | kLayers, 3.0, 2, kWhole},
    {"padded strides", kEveryChannel | kPaddedStrides, 2.5, 0, kQuarters},
    {"padded strides, shared exponent", kEveryChannel | kExponent | kPaddedStrides, 2.5, 2, kBands},
    {"missing layer rows, dummies by element type",
     kEveryChannel | kMissingLayerRows | kDummyTypes, 2.0, 2, kWhole},
    {"reversed, empty and past-the-end layer ranges", kEveryChannel | kOddRanges, 2.0, 2, kBands},
    {"a region one pixel wide", kEveryChannel, 3.0, 0, kBands, {5, 0, 1, 13}},
    {"a region one pixel high", kEveryChannel, 3.0, 0, kQuarters, {0, 6, 16, 1}},
    {"rectangles reaching outside the region", kEveryChannel, 2.0, 0, kOutside},
    {"buffers of other layouts: nothing copied", kEveryChannel | kOtherLayout, 0.0, 0, kWhole},
    {"mode 1.4 rounds to 1", kEveryChannel, 2.0, 1.4, kWhole},
    {"modes 1.5 and 2.5 round to 2", kEveryChannel, 2.0, 1.5, kWhole},
    {"modes 1.5 and 2.5 round to 2", kEveryChannel, 2.0, 2.5, kBands},
    {"mode 3: no method, nothing written", kEveryChannel, 2.0, 3.0, kWhole},
    {"mode 0.5 rounds to 0: no method", kEveryChannel, 2.0, 0.5, kWhole},
};
// clang-format on

// Each vector unit on tiles and bands of its own small sizes, so that the
// scenes meet every remainder.
std::vector<SplatWalkTuning> tunings() {
    std::vector<SplatWalkTuning> out;
    const SplatWalkTuning all[] = {
        {kSplatSSE2, 40, 3, 8}, {kSplatAVX2, 300, 5, 16}, {kSplatAVX512, 2000, 2, 24}};
    for (const SplatWalkTuning& t : all)
        if (splat_group_kernels(t.variant) != nullptr) out.push_back(t);
    return out;
}

class ReferenceScenes : public RenderTest, public ::testing::WithParamInterface<QVBitmapType> {};

TEST_P(ReferenceScenes, MatchTheLiteralReference) {
    const QVBitmapType format = GetParam();
    std::uint32_t seed = 1000u * unsigned(format);
    for (const Scene& row : kScenes) {
        for (double mode :
             row.mode != 0 ? std::vector<double>{row.mode} : std::vector<double>{1.0, 2.0}) {
            scene(format, 16, 13, ++seed, row.features);
            GBufferSet* channels = row.features & kNoTable ? nullptr : &gbuffers->set;
            settings.radius = row.radius;
            // The reference is handed the method the effect makes of the value.
            settings.method = FilterMethod(roundToInt(mode));
            modeParameter = mode;
            settings.focusRangeDepth = row.focusRangeDepth;
            settings.scaleX = row.scaleX;
            settings.scaleY = 0.75;
            settings.region = row.region;
            settings.outputRects = tiling(row.tiling, row.region);
            const std::string what =
                formatName(format) + ", " + row.why + ", mode " + std::to_string(mode);

            auto expected = copyOf(*destination);
            ReferencePlanes planes;
            const bool known = referenceRender(
                settings, *source, channels ? channels->table() : nullptr, *expected, &planes);
            // This program's engine with each vector unit, then the built module.
            const std::vector<SplatWalkTuning> units = tunings();
            for (std::size_t u = 0; u <= units.size(); ++u) {
                const bool local = u < units.size();
                if (local) splat_walk_tuning() = units[u];
                const std::string who =
                    what + (local ? ", unit " + std::to_string(units[u].variant) : ", module");
                auto rendered = copyOf(*destination);
                bool splatted = false;
                const runtime::RenderReport report =
                    render(*source, *rendered, channels, settings, local, [&](const Parameters& p) {
                        splatted = p.transmitR != nullptr && !planes[0].empty();
                        if (splatted) {
                            EXPECT_TRUE(samePlanes(planesOf(p, planes[0].size()), planes)) << who;
                        }
                    });
                EXPECT_EQ(report.failedPass, known ? -1 : int(kPassBuildTables)) << who;
                EXPECT_EQ(splatted, !planes[0].empty()) << who;
                EXPECT_TRUE(sameBytes(bufferBytes(*rendered), bufferBytes(*expected))) << who;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ReferenceScenes, ::testing::ValuesIn(kAllFormats),
                         [](const ::testing::TestParamInfo<QVBitmapType>& info) {
                             return formatName(info.param);
                         });

}  // namespace
}  // namespace dof::test
