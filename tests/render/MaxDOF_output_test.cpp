// What a whole render writes, worked out by hand: sharp pixels, the radius
// thresholds, the box average at the region's corner, and single fragments
// resolved against the source.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "render/render_scene.h"

namespace rendertest {
namespace {

constexpr double kFocal = -10.0;
constexpr float kFullBlurDepth = -30.0f;  // three times the focal depth: fraction 1

// Sources whose float values are multiples of 1/16, so that the float
// summed-area tables hold exact sums; some floats lie outside 0..1.
void fillExactSource(PixelImage& image, Random& random) {
    fillSource(image, random);
    if (image.format() != kQVBitmapRGBAFloat) return;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            for (int c = 0; c < 4; ++c) image.setComponent(x, y, c, (random.below(80) - 16) / 16.0);
}

std::string caseName(QVBitmapType format, double method) {
    return std::string(formatName(format)) + ", method " + std::to_string(int(method));
}

class OutputTest : public RenderTest {
protected:
    // A 5 x 4 region at (1, 1) of a 7 x 6 image, every pixel in focus and
    // opaque, with no colour channel.
    void sharpScene(QVBitmapType format, std::uint32_t seed) {
        Random random(seed);
        source = makeImage(format, 7, 6);
        destination = makeImage(format, 7, 6);
        fillExactSource(*source, random);
        fillBytes(*destination, random);
        before = makeImage(format, 7, 6);
        std::memcpy(before->record().baseAddr, destination->record().baseAddr,
                    bufferBytes(*destination).size());
        gbuffers.reset(new GBufferSet(7, 6));
        gbuffers->addDepth();
        gbuffers->addCoverage();
        gbuffers->addTransparency();
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 7; ++x) {
                gbuffers->depth(x, y) = float(kFocal);
                gbuffers->coverage(x, y) = 255;
            }
        settings = RenderSettings();
        settings.focalDepth = kFocal;
        settings.region = QVRect{1, 1, 5, 4};
    }

    bool inRegion(int x, int y) const {
        const QVRect& r = settings.region;
        return x >= r.left && x < r.left + r.width && y >= r.top && y < r.top + r.height;
    }

    // The images live in host memory: gone before the fixture counts blocks.
    void TearDown() override {
        source.reset();
        destination.reset();
        before.reset();
        RenderTest::TearDown();
    }

    std::unique_ptr<PixelImage> source, destination, before;
    std::unique_ptr<GBufferSet> gbuffers;
    RenderSettings settings;
};

// In focus, the box average is over the pixel alone, giving back (C x A) / A;
// the splat lands on its own pixel with transmittance 0 and full opacity.
TEST_F(OutputTest, SharpPixelsStayAsTheyAre) {
    for (QVBitmapType format : kAllFormats) {
        for (double method : {1.0, 2.0}) {
            sharpScene(format, 11u + unsigned(format));
            settings.method = method;
            settings.radius = 4.0;
            ASSERT_TRUE(run(*source, *destination, gbuffers.get(), settings).ok);
            const double M = fullScale(format);
            for (int y = 0; y < 6; ++y) {
                for (int x = 0; x < 7; ++x) {
                    RGBA s = pixelOf(*source, x, y);
                    RGBA expected = pixelOf(*before, x, y);
                    if (inRegion(x, y)) {
                        if (method == 2.0) {
                            expected = {s.r, s.g, s.b, M};
                        } else if (s.a != 0) {
                            expected = s;
                        } else {
                            expected.a = 0;  // colour left as the destination held it
                        }
                    }
                    EXPECT_PIXEL(*destination, x, y, expected, caseName(format, method));
                }
            }
        }
    }
}

enum class Expect { kRawCopy, kOwnPixelAverage };

struct ThresholdCase {
    double method;
    double radius;
    Expect expect;
    const char* why;
};

TEST_F(OutputTest, SmallRadiiCopyOrAverageOverThePixelItself) {
    const std::vector<ThresholdCase> cases = {
        {1.0, 0.0, Expect::kRawCopy, "radius 0: the rows are copied"},
        {1.0, 0.0000005, Expect::kRawCopy, "below 0.000001: copied"},
        {1.0, 0.000005, Expect::kOwnPixelAverage, "map all 0, averaged over the pixel alone"},
        {2.0, 0.0, Expect::kRawCopy, "radius 0: pass 3 copies"},
        {2.0, 0.000005, Expect::kRawCopy, "below 0.00001: pass 3 copies"},
    };
    for (QVBitmapType format : kAllFormats) {
        for (const ThresholdCase& t : cases) {
            sharpScene(format, 23u + unsigned(format));
            // Blurred depths: only the radius keeps the pixels sharp.
            for (int y = 0; y < 6; ++y)
                for (int x = 0; x < 7; ++x) gbuffers->depth(x, y) = kFullBlurDepth;
            settings.method = t.method;
            settings.radius = t.radius;
            ASSERT_TRUE(run(*source, *destination, gbuffers.get(), settings).ok);
            for (int y = 0; y < 6; ++y) {
                for (int x = 0; x < 7; ++x) {
                    const RGBA s = pixelOf(*source, x, y);
                    RGBA expected = pixelOf(*before, x, y);
                    if (inRegion(x, y)) {
                        if (t.expect == Expect::kRawCopy || s.a != 0) {
                            expected = s;
                        } else {
                            expected.a = 0;
                        }
                    }
                    EXPECT_PIXEL(*destination, x, y, expected,
                                 caseName(format, t.method) + ": " + t.why);
                }
            }
        }
    }
}

TEST_F(OutputTest, RawCopyNeedsTheSameLayout) {
    for (double method : {1.0, 2.0}) {
        sharpScene(kQVBitmapRGBA16, 5);
        destination->record().layoutId = 99;
        settings.method = method;
        settings.radius = 0.0;
        ASSERT_TRUE(run(*source, *destination, gbuffers.get(), settings).ok);
        EXPECT_EQ(bufferBytes(*destination), bufferBytes(*before)) << "method " << method;
    }
}

// Region-relative pixels of the corner scene: four of them carry alpha,
// all others alpha 0. Raw values fit every format.
struct CornerPixel {
    int x, y;
    RGBA value;
};
const CornerPixel kCornerPixels[] = {
    {0, 0, {10, 11, 12, 255}},
    {1, 0, {20, 21, 22, 0}},
    {0, 1, {30, 31, 32, 128}},
    {1, 1, {41, 42, 43, 64}},
};

struct WindowCase {
    int x, y;  // region-relative output pixel
    int area;  // its window clipped to the region
    const char* why;
};

// Radius 1 and fraction 1 give half-sizes of 1: a 3 x 3 window, cut by the
// region's edges. The alpha sum is 447 in every window below; the colour
// sums are 10 x 255 + 30 x 128 + 41 x 64 = 9014 (R), 9461 (G), 9908 (B).
TEST_F(OutputTest, BoxAverageNearTheRegionCorner) {
    const std::vector<WindowCase> windows = {
        {0, 0, 4, "corner: columns 0-1, rows 0-1"},
        {1, 1, 9, "the full 3 x 3 window"},
        {0, 1, 6, "left edge: columns 0-1, rows 0-2"},
        {1, 0, 6, "top edge: columns 0-2, rows 0-1"},
    };
    for (QVBitmapType format : kAllFormats) {
        sharpScene(format, 31);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 7; ++x) {
                gbuffers->depth(x, y) = kFullBlurDepth;
                // Outside the region: large values the average must not see.
                setPixel(*source, x, y,
                         inRegion(x, y) ? RGBA{7, 7, 7, 0} : RGBA{200, 200, 200, 250});
            }
        for (const CornerPixel& p : kCornerPixels) setPixel(*source, 1 + p.x, 1 + p.y, p.value);
        settings.method = 1.0;
        settings.radius = 1.0;
        ASSERT_TRUE(run(*source, *destination, gbuffers.get(), settings).ok);

        for (const WindowCase& w : windows) {
            RGBA expected;
            if (format == kQVBitmapRGBAFloat) {
                expected = {9014.0 / 447.0, 9461.0 / 447.0, 9908.0 / 447.0, 447.0 / w.area};
            } else {
                // Means 111.75, 49.67, 74.5 (to the even 74); 20.17, 21.17, 22.17.
                const double alpha[10] = {0, 0, 0, 0, 112, 0, 74, 0, 0, 50};
                expected = {20, 21, 22, alpha[w.area]};
            }
            EXPECT_PIXEL(*destination, 1 + w.x, 1 + w.y, expected,
                         std::string(formatName(format)) + ": " + w.why);
        }
        // The far corner's window holds no alpha: A is 0, the colour stays.
        RGBA farCorner = pixelOf(*before, 5, 4);
        farCorner.a = 0;
        EXPECT_PIXEL(*destination, 5, 4, farCorner, formatName(format));
    }
}

// Five pixels in a row, one of alpha 2 in 12-bit units: the centre pixel's
// window holds all five, a mean alpha of 0.4 that is stored as 0, so its
// colour is not written and the packed group keeps the old colour bits.
TEST_F(OutputTest, TwelveBitMeanAlphaBelowHalfLeavesColourBits) {
    auto src = makeImage(kQVBitmapRGBA12, 5, 1, 0);
    auto dst = makeImage(kQVBitmapRGBA12, 5, 1, 0);
    for (int x = 0; x < 5; ++x) {
        setPixel(*src, x, 0, {100, 200, 300, x == 0 ? 2.0 : 0.0});
        setPixel(*dst, x, 0, {0xABC, 0x123, 0x456, 0xFFF});
    }
    GBufferSet g(5, 1);
    g.addDepth();
    for (int x = 0; x < 5; ++x) g.depth(x, 0) = float(kFocal);
    g.depth(2, 0) = kFullBlurDepth;
    RenderSettings s;
    s.method = 1.0;
    s.radius = 2.0;
    s.focalDepth = kFocal;
    ASSERT_TRUE(run(*src, *dst, &g, s).ok);
    // R ABC, G 123, B 456, A 000 as one 48-bit big-endian group.
    const std::uint8_t expected[6] = {0xAB, 0xC1, 0x23, 0x45, 0x60, 0x00};
    EXPECT_EQ(std::vector<std::uint8_t>(dst->pixel(2, 0), dst->pixel(2, 0) + 6),
              std::vector<std::uint8_t>(expected, expected + 6));
    // In focus with alpha 2: its own colour and alpha.
    EXPECT_PIXEL(*dst, 0, 0, (RGBA{100, 200, 300, 2}), "sharp pixel with alpha");
    EXPECT_PIXEL(*dst, 1, 0, (RGBA{0xABC, 0x123, 0x456, 0}), "sharp pixel without alpha");
}

struct FragmentColourCase {
    std::uint8_t bytes[4];  // R, G, B and the exponent byte
    bool exponent;
    RGBA expected[5];  // RGBA8, 10, 12, 16 raw codes; float as fractions
    const char* why;
};

// One opaque fragment in focus alone on its pixel: transmittance 0, so the
// pixel takes the fragment's colour and full alpha. Codes are the colour
// fraction times full scale, rounded: 200/255 x 1023 = 802.35, x 4095 =
// 3211.76, x 65535 = 51400; with exponent byte 129 each colour doubles.
TEST_F(OutputTest, OpaqueSharpFragmentTakesItsOwnColour) {
    const std::vector<FragmentColourCase> cases = {
        {{200, 100, 50, 0},
         false,
         {{200, 100, 50, 255},
          {802, 401, 201, 1023},
          {3212, 1606, 803, 4095},
          {51400, 25700, 12850, 65535},
          {200 / 255.0, 100 / 255.0, 50 / 255.0, 1.0}},
         "colour without exponent"},
        {{128, 64, 255, 129},
         true,
         {{255, 128, 255, 255},
          {1023, 514, 1023, 1023},
          {4095, 2056, 4095, 4095},
          {65535, 32896, 65535, 65535},
          {256 / 255.0, 128 / 255.0, 2.0, 1.0}},
         "2^1: above 1 the integer formats store full scale, the float keeps the value"},
        {{128, 64, 255, 0},
         true,
         {{0, 0, 0, 255}, {0, 0, 0, 1023}, {0, 0, 0, 4095}, {0, 0, 0, 65535}, {0, 0, 0, 1.0}},
         "exponent byte 0 scales by 0"},
        {{10, 0, 255, 128},
         true,
         {{10, 0, 255, 255},
          {40, 0, 1023, 1023},
          {161, 0, 4095, 4095},
          {2570, 0, 65535, 65535},
          {10 / 255.0, 0, 1.0, 1.0}},
         "2^0 leaves the colour: 10/255 x 1023 = 40.12, x 4095 = 160.59"},
    };
    int f = 0;
    for (QVBitmapType format : kAllFormats) {
        for (const FragmentColourCase& c : cases) {
            Random random(41);
            auto src = makeImage(format, 3, 3);
            auto dst = makeImage(format, 3, 3);
            fillSource(*src, random);
            fillBytes(*dst, random);
            GBufferSet g(3, 3);
            g.addDepth();
            g.addCoverage();
            g.addColour(c.exponent);
            g.addTransparency();
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 3; ++x) g.depth(x, y) = float(kFocal);
            g.coverage(1, 1) = 255;
            for (int b = 0; b < (c.exponent ? 4 : 3); ++b) g.colour(1, 1)[b] = c.bytes[b];
            RenderSettings s;
            s.method = 2.0;
            s.radius = 3.0;
            s.focalDepth = kFocal;
            ASSERT_TRUE(run(*src, *dst, &g, s).ok);
            EXPECT_PIXEL(*dst, 1, 1, c.expected[f], std::string(formatName(format)) + ": " + c.why);
            // Pixels without coverage show their source, alpha included.
            EXPECT_PIXEL(*dst, 0, 2, pixelOf(*src, 0, 2), formatName(format));
        }
        ++f;
    }
}

// Without coverage nothing is splatted: every weight sum stays 0 and the
// resolve hands back the source, its alpha through (a + a + a) / 3.
TEST_F(OutputTest, NoCoverageGivesTheSourceBack) {
    for (QVBitmapType format : kAllFormats) {
        for (bool coverageChannel : {false, true}) {
            Random random(53u + unsigned(format));
            auto src = makeImage(format, 6, 5);
            auto dst = makeImage(format, 6, 5);
            fillSource(*src, random);
            fillBytes(*dst, random);
            SceneOptions options;
            options.coverage = coverageChannel;
            auto g = makeGBuffers(6, 5, random, options);
            if (coverageChannel)
                for (int y = 0; y < 5; ++y)
                    for (int x = 0; x < 6; ++x) g->coverage(x, y) = 0;
            RenderSettings s;
            s.method = 2.0;
            s.radius = 3.0;
            s.focalDepth = kFocal;
            ASSERT_TRUE(run(*src, *dst, g.get(), s).ok);
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 6; ++x)
                    EXPECT_PIXEL(*dst, x, y, pixelOf(*src, x, y),
                                 std::string(formatName(format)) +
                                     (coverageChannel ? ", coverage all 0" : ", no coverage"));
        }
    }
}

}  // namespace
}  // namespace rendertest
