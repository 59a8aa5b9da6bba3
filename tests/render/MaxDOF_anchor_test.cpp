// Pixels worked out by hand, which anchor the literal reference that the
// random scenes are compared with: an opaque sharp fragment in each format
// and the box average at the region's corner.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "render/render_scene.h"

namespace rendertest {
namespace {

// The four components of pixel (x, y), as floats: the float format keeps
// them so.
std::vector<float> pixelAt(const PixelImage& image, int x, int y) {
    std::vector<float> v;
    for (int c = 0; c < 4; ++c) v.push_back(float(image.component(x, y, c)));
    return v;
}

class AnchorTest : public RenderTest {
protected:
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

// One opaque fragment in focus alone on pixel (1, 1): transmittance 0, so
// the pixel takes the fragment's colour and full alpha. 200/255 x 1023 =
// 802.35, x 4095 = 3211.76; exponent byte 129 doubles, and above 1 the
// integer formats store full scale while the float keeps the value.
TEST_F(AnchorTest, OpaqueSharpFragmentTakesItsOwnColour) {
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
            settings.method = 2.0;
            settings.radius = 3.0;
            const std::vector<float> sourceCorner = pixelAt(*source, 0, 2);
            ASSERT_TRUE(renderModule(*source, *destination, &gbuffers->set, settings).ok);
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
TEST_F(AnchorTest, BoxAverageAtTheRegionCorner) {
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
        settings.method = 1.0;
        settings.radius = 1.0;
        ASSERT_TRUE(renderModule(*source, *destination, &gbuffers->set, settings).ok);
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

}  // namespace
}  // namespace rendertest
