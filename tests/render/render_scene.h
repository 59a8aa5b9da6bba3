// Scenes for the render tests: images in the five formats, g-buffers, the
// effect run through the runtime, and the literal reference beside it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "runtime/GBufferSet.h"
#include "runtime/PixelImage.h"
#include "runtime/RenderSession.h"
#include "support/effect_fixture.h"
#include "support/random.h"
#include "support/render_reference.h"

namespace rendertest {

using dofrt::GBufferSet;
using dofrt::PixelImage;
using dofrt::RenderSettings;

constexpr QVBitmapType kAllFormats[] = {kQVBitmapRGBA8, kQVBitmapRGBA10, kQVBitmapRGBA12,
                                        kQVBitmapRGBA16, kQVBitmapRGBAFloat};

inline const char* formatName(QVBitmapType format) {
    switch (format) {
        case kQVBitmapRGBA8:
            return "RGBA8";
        case kQVBitmapRGBA10:
            return "RGBA10";
        case kQVBitmapRGBA12:
            return "RGBA12";
        case kQVBitmapRGBA16:
            return "RGBA16";
        case kQVBitmapRGBAFloat:
            return "RGBAFloat";
        default:
            return "unknown";
    }
}

// Full scale of the integer formats; 1.0 stands for it in the float format.
inline double fullScale(QVBitmapType format) {
    switch (format) {
        case kQVBitmapRGBA8:
            return 255.0;
        case kQVBitmapRGBA10:
            return 1023.0;
        case kQVBitmapRGBA12:
            return 4095.0;
        case kQVBitmapRGBA16:
            return 65535.0;
        default:
            return 1.0;
    }
}

using testsupport::Random;

struct RGBA {
    double r, g, b, a;
};

inline RGBA pixelOf(const PixelImage& image, int x, int y) {
    return {image.component(x, y, 0), image.component(x, y, 1), image.component(x, y, 2),
            image.component(x, y, 3)};
}

inline void setPixel(PixelImage& image, int x, int y, RGBA v) {
    image.setComponent(x, y, 0, v.r);
    image.setComponent(x, y, 1, v.g);
    image.setComponent(x, y, 2, v.b);
    image.setComponent(x, y, 3, v.a);
}

inline std::string describe(RGBA v) {
    return "(" + std::to_string(v.r) + ", " + std::to_string(v.g) + ", " + std::to_string(v.b) +
           ", " + std::to_string(v.a) + ")";
}

// Components compared as stored: raw integers, or float bit patterns.
#define EXPECT_PIXEL(image, x, y, expected, why)                                                   \
    do {                                                                                           \
        const ::rendertest::RGBA got_ = ::rendertest::pixelOf((image), (x), (y));                  \
        const ::rendertest::RGBA want_ = (expected);                                               \
        EXPECT_TRUE(::rendertest::sameComponents(got_, want_))                                     \
            << (why) << " at (" << (x) << ", " << (y) << "): got " << ::rendertest::describe(got_) \
            << ", expected " << ::rendertest::describe(want_);                                     \
    } while (0)

inline bool sameFloat(double a, double b) {
    const float fa = float(a), fb = float(b);
    return std::memcmp(&fa, &fb, sizeof fa) == 0;
}

inline bool sameComponents(RGBA a, RGBA b) {
    return sameFloat(a.r, b.r) && sameFloat(a.g, b.g) && sameFloat(a.b, b.b) && sameFloat(a.a, b.a);
}

// Every byte of an image's buffer, padding pixels included.
inline std::vector<std::uint8_t> bufferBytes(const PixelImage& image) {
    const QVBitmap& r = image.record();
    const std::size_t bytes =
        std::size_t(r.rowPixels) * std::size_t(image.height()) * std::size_t(image.pixelBytes());
    return std::vector<std::uint8_t>(r.baseAddr, r.baseAddr + bytes);
}

inline std::unique_ptr<PixelImage> makeImage(QVBitmapType format, int width, int height,
                                             int padPixels = 2) {
    auto image = PixelImage::create(format, width, height, width + padPixels);
    EXPECT_TRUE(image != nullptr);
    return image;
}

// Every byte of the buffer, the row padding included, from the generator:
// a sentinel pattern the render must leave wherever it writes nothing.
inline void fillBytes(PixelImage& image, Random& random) {
    const QVBitmap& r = image.record();
    const std::size_t bytes =
        std::size_t(r.rowPixels) * std::size_t(image.height()) * std::size_t(image.pixelBytes());
    for (std::size_t i = 0; i < bytes; ++i) r.baseAddr[i] = std::uint8_t(random.next());
    if (image.format() == kQVBitmapRGBAFloat) {
        // Random bytes make NaNs and huge floats: keep them in the padding and
        // give the image's own pixels values a picture would have.
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                for (int c = 0; c < 4; ++c)
                    image.setComponent(x, y, c, -0.25 + 1.5 * random.unit());
    }
}

// Source components in raw units: any code of the integer formats, and
// floats mostly in 0..1 with some beyond; alpha 0 on some pixels.
inline void fillSource(PixelImage& image, Random& random) {
    fillBytes(image, random);
    const double M = fullScale(image.format());
    const bool isFloat = image.format() == kQVBitmapRGBAFloat;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            for (int c = 0; c < 4; ++c) {
                double v = isFloat ? -0.25 + 1.5 * random.unit() : double(random.below(int(M) + 1));
                if (c == 3 && random.below(6) == 0) v = 0.0;
                image.setComponent(x, y, c, v);
            }
        }
    }
}

struct SceneOptions {
    bool coverage = true;
    bool colour = true;
    bool exponent = false;
    bool transparency = true;
    bool layers = true;
};

// Depths about a focal depth of -10: in focus, near, far, at the viewer and
// behind it.
inline float randomDepth(Random& random) {
    switch (random.below(8)) {
        case 0:
            return -10.0f;
        case 1:
            return 0.0f;
        case 2:
            return 3.0f;
        default:
            return float(-1.0 - 30.0 * random.unit());
    }
}

inline std::unique_ptr<GBufferSet> makeGBuffers(int width, int height, Random& random,
                                                const SceneOptions& options) {
    std::unique_ptr<GBufferSet> g(new GBufferSet(width, height));
    g->addDepth();
    if (options.coverage) g->addCoverage();
    if (options.colour) g->addColour(options.exponent);
    if (options.transparency) g->addTransparency();
    if (options.layers) g->enableLayers();
    const int colourBytes = options.exponent ? 4 : 3;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            g->depth(x, y) = randomDepth(random);
            if (options.coverage) {
                const int pick = random.below(4);
                g->coverage(x, y) =
                    std::uint8_t(pick == 0 ? 0 : (pick == 1 ? 255 : random.below(256)));
            }
            if (options.colour)
                for (int b = 0; b < colourBytes; ++b)
                    g->colour(x, y)[b] =
                        std::uint8_t(b == 3 ? 120 + random.below(16) : random.below(256));
            if (options.transparency)
                for (int b = 0; b < 3; ++b)
                    g->transparency(x, y)[b] =
                        std::uint8_t(random.below(3) == 0 ? 0 : random.below(256));
            if (!options.layers) continue;
            const int layers = random.below(3);
            for (int k = 0; k < layers; ++k) {
                dofrt::LayerFragment f;
                f.depth = randomDepth(random);
                for (int b = 0; b < 4; ++b)
                    f.colour[b] = std::uint8_t(b == 3 ? 120 + random.below(16) : random.below(256));
                for (int b = 0; b < 3; ++b) f.transparency[b] = std::uint8_t(random.below(256));
                for (int b = 0; b < 3; ++b) f.weight[b] = std::uint8_t(random.below(256));
                EXPECT_TRUE(g->addLayer(x, y, f));
            }
        }
    }
    return g;
}

inline doftest::ReferenceSettings referenceSettings(const RenderSettings& s,
                                                    const PixelImage& source) {
    doftest::ReferenceSettings r;
    r.radius = s.radius;
    r.mode = s.method;
    r.focalDepth = s.focalDepth;
    r.focusRangeDepth = s.focusRangeDepth;
    r.pixelAspect = s.pixelAspect;
    r.scaleX = s.scaleX;
    r.scaleY = s.scaleY;
    r.region = s.region;
    if (r.region.width == 0 && r.region.height == 0)
        r.region = QVRect{0, 0, source.width(), source.height()};
    r.outputRects = s.outputRects;
    return r;
}

// An effect instance, described and set up, that renders scenes.
class RenderTest : public doftest::EffectTest {
protected:
    // A random scene of one format: source, a destination of random bytes
    // (kept in `before`), all g-buffer channels, focus at -10.
    void randomScene(QVBitmapType format, std::uint32_t seed, int width, int height,
                     double radius) {
        Random random(seed);
        source = makeImage(format, width, height);
        destination = makeImage(format, width, height);
        fillSource(*source, random);
        fillBytes(*destination, random);
        gbuffers = makeGBuffers(width, height, random, SceneOptions());
        before = bufferBytes(*destination);
        settings = RenderSettings();
        settings.radius = radius;
        settings.focalDepth = -10.0;
    }

    // A session over the scene, with the settings written to the effect.
    std::unique_ptr<dofrt::RenderSession> session() {
        EXPECT_TRUE(dofrt::setRenderParameters(*instance, settings));
        return std::unique_ptr<dofrt::RenderSession>(
            new dofrt::RenderSession(*instance, *source, *destination, gbuffers.get(), settings));
    }

    // The pictures are host blocks: release them before the count of live
    // blocks is checked.
    void TearDown() override {
        source.reset();
        destination.reset();
        doftest::EffectTest::TearDown();
    }

    std::unique_ptr<PixelImage> source, destination;
    std::unique_ptr<GBufferSet> gbuffers;
    std::vector<std::uint8_t> before;
    RenderSettings settings;

    dofrt::RenderReport run(PixelImage& source, PixelImage& destination, GBufferSet* gbuffers,
                            const RenderSettings& settings) {
        EXPECT_TRUE(dofrt::setRenderParameters(*instance, settings));
        return dofrt::render(*instance, source, destination, gbuffers, settings);
    }

    // Renders with the effect and with the reference from the same starting
    // destination and expects the same bytes everywhere in the buffer.
    void expectMatchesReference(PixelImage& source, PixelImage& destination, GBufferSet* gbuffers,
                                const RenderSettings& settings, const std::string& what) {
        auto expected = PixelImage::create(destination.format(), destination.width(),
                                           destination.height(), destination.record().rowPixels);
        ASSERT_TRUE(expected != nullptr);
        std::memcpy(expected->record().baseAddr, destination.record().baseAddr,
                    bufferBytes(destination).size());
        const bool known =
            doftest::referenceRender(referenceSettings(settings, source), source,
                                     gbuffers ? gbuffers->table() : nullptr, *expected);
        const dofrt::RenderReport report = run(source, destination, gbuffers, settings);
        EXPECT_EQ(report.ok, known) << what;
        expectSameBytes(*expected, destination, what);
    }

    static void expectSameBytes(const PixelImage& expected, const PixelImage& actual,
                                const std::string& what) {
        const std::vector<std::uint8_t> e = bufferBytes(expected);
        const std::vector<std::uint8_t> a = bufferBytes(actual);
        ASSERT_EQ(e.size(), a.size()) << what;
        const int pixelBytes = actual.pixelBytes();
        const int rowPixels = actual.record().rowPixels;
        int reported = 0;
        for (std::size_t i = 0; i < e.size() && reported < 8; ++i) {
            if (e[i] == a[i]) continue;
            const int pixel = int(i) / pixelBytes;
            ADD_FAILURE() << what << ": byte " << (int(i) % pixelBytes) << " of pixel ("
                          << pixel % rowPixels << ", " << pixel / rowPixels << ") is " << int(a[i])
                          << ", expected " << int(e[i]);
            ++reported;
        }
    }
};

}  // namespace rendertest
