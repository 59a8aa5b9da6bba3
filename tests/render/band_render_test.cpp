// One render on bands of rows, each its own effect instance: how bands are
// cut, and that they give the bytes of one instance over the whole region.
#include "render/band_render.h"

#include <gtest/gtest.h>

#include <cmath>

#include "effect/render_scene.h"
#include "render/frame_render.h"
#include "support/same_bytes.h"

namespace {

using dof::Band;
using dof::RenderWork;

std::vector<int> rowsOf(const std::vector<Band>& bands, bool regions) {
    std::vector<int> out;
    for (const Band& b : bands) {
        const dof::Rect& r = regions ? b.region : b.rows;
        out.push_back(r.y);
        out.push_back(r.yend());
    }
    return out;
}

TEST(BandRender, PlanBalancesTheRegionsWork) {
    const std::vector<double> even(100, 10.0);
    std::vector<double> topHeavy(100, 0.0);
    for (int y = 0; y < 20; ++y) topHeavy[std::size_t(y)] = 1e6;
    const struct {
        int height, count, reach;
        std::vector<double> taps;
        std::vector<int> rows, regions;
        const char* why;
    } cases[] = {
        {100, 2, 10, even, {0, 50, 50, 100}, {0, 60, 40, 100}, "even work: halves"},
        {9, 3, 0, std::vector<double>(9, 1.0), {0, 3, 3, 6, 6, 9}, {0, 3, 3, 6, 6, 9}, "no reach"},
        {30, 4, 20, std::vector<double>(30, 1.0), {0, 30}, {0, 30}, "bands shorter than the reach"},
        // The first 20 rows weigh 1e6 each; a region pixel 2 x 200, a band
        // pixel 200. Split after row 9 the bands cost 14.074e6 and
        // 16.566e6, after 10 15.08e6 and 15.56e6, after 11 16.086e6 and
        // 14.554e6.
        {100, 2, 5, topHeavy, {0, 10, 10, 100}, {0, 15, 5, 100}, "heavy top rows"},
    };
    for (const auto& c : cases) {
        const std::vector<Band> bands =
            dof::planBands(dof::Rect{0, 0, 10, c.height}, c.count, c.reach, RenderWork(0, c.taps));
        EXPECT_EQ(rowsOf(bands, false), c.rows) << c.why;
        EXPECT_EQ(rowsOf(bands, true), c.regions) << c.why;
    }
}

TEST(BandRender, BoxTablesAreExactWhileTheirSumsFitADouble) {
    const struct {
        QVBitmapType format;
        double pixels;
        bool exact;
    } cases[] = {
        {kQVBitmapRGBA8, 1 << 29, true},       // the largest frame: 2^29 x 255^2 x 2 < 2^53
        {kQVBitmapRGBA12, 268435456.0, true},  // 2^28 x 4095^2 x 2 < 2^53
        {kQVBitmapRGBA12, 268435457.0 * 2, false},
        {kQVBitmapRGBA16, 1920.0 * 1080, false},  // 2073600 x 65535^2 x 2 > 2^53
        {kQVBitmapRGBA16, 1024.0 * 1024, true},
        {kQVBitmapRGBAFloat, 1.0, false},  // float sums round
    };
    for (const auto& c : cases)
        EXPECT_EQ(dof::boxTablesExact(c.format, c.pixels), c.exact) << c.format << " " << c.pixels;
}

// A random scene with depth layers in every format, rendered by one
// instance and on three bands; box averaging too where its tables are exact.
TEST(BandRender, BandsGiveTheBytesOfOneInstance) {
    for (QVBitmapType format : dof::test::kAllFormats)
        for (FilterMethod method : {kMethodSplatting, kMethodBoxAverage}) {
            const std::string why = std::string(dof::test::formatName(format)) +
                                    (method == kMethodSplatting ? " splat" : " box");
            dof::test::Random random(format * 7 + int(method));
            const int w = 23, h = 61;
            auto source = dof::test::randomImage(format, w, h, random);
            auto one = dof::test::randomImage(format, w, h, random);
            auto banded = dof::test::copyOf(*one);
            const std::vector<std::uint8_t> before = dof::test::bufferBytes(*one);
            dof::test::SceneGBuffers scene(w, h, random, dof::test::kEveryChannel);
            dof::runtime::GBufferSet* gb = &scene.set;
            dof::runtime::RenderSettings settings;
            settings.radius = 2.5;
            settings.method = method;
            settings.focalDepth = -10.0;
            settings.scaleY = 1.5;
            settings.region = QVRect{0, 0, w, h};
            if (method == kMethodBoxAverage && !dof::boxTablesExact(format, double(w) * h))
                continue;

            dof::runtime::EffectInstance instance(dof::test::effectLibrary());
            std::string error;
            ASSERT_TRUE(instance.start(&error)) << error;
            ASSERT_TRUE(dof::runtime::setRenderParameters(instance, settings));
            ASSERT_TRUE(dof::runtime::render(instance, *source, *one, gb, settings).ok) << why;
            // Every hat reaches 2 x 2.5 x 1.5 rows and 5 columns; a box
            // window 4 rows (3.75 rounded) and 3 columns.
            for (const dof::BandAxis axis : {dof::BandAxis::Rows, dof::BandAxis::Columns}) {
                const bool rows = axis == dof::BandAxis::Rows;
                const int reach = method == kMethodSplatting ? (rows ? 7 : 5) : (rows ? 5 : 3);
                const RenderWork work(0, std::vector<double>(std::size_t(rows ? h : w), 1.0));
                const std::vector<Band> bands =
                    dof::planBands(dof::Rect{0, 0, w, h}, 3, reach, work, axis);
                ASSERT_EQ(bands.size(), 3u) << why;
                std::copy(before.begin(), before.end(), banded->record().baseAddr);
                for (const Band& band : bands)
                    ASSERT_TRUE(dof::renderBand(
                                    dof::test::effectLibrary(), *source, *banded, gb, settings,
                                    band, work.band(band), [] { return false; }, nullptr, &error)
                                    .ok)
                        << why << ": " << error;
                EXPECT_TRUE(dof::test::sameBytes(dof::test::bufferBytes(*banded),
                                                 dof::test::bufferBytes(*one)))
                    << why << (rows ? " in rows" : " in columns");
            }
        }
}

}  // namespace
