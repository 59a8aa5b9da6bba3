// How the splatting reads the g-buffer channels: missing channels, layer
// ranges, layer elements beyond a row's layers, element types of the
// dummies, strides, and depths of exactly 0.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "render/render_scene.h"

namespace rendertest {
namespace {

constexpr double kFocal = -10.0;

class GBufferTest : public RenderTest {
protected:
    void scene(QVBitmapType format, std::uint32_t seed,
               const SceneOptions& options = SceneOptions()) {
        Random random(seed);
        source = makeImage(format, 9, 7);
        destination = makeImage(format, 9, 7);
        fillSource(*source, random);
        fillBytes(*destination, random);
        gbuffers = makeGBuffers(9, 7, random, options);
        settings = RenderSettings();
        settings.method = 2.0;
        settings.radius = 2.0;
        settings.focalDepth = kFocal;
        settings.region = QVRect{1, 1, 7, 5};
    }

    void TearDown() override {
        source.reset();
        destination.reset();
        RenderTest::TearDown();
    }

    std::unique_ptr<PixelImage> source, destination;
    std::unique_ptr<GBufferSet> gbuffers;
    RenderSettings settings;
};

struct MissingCase {
    GBufferEntry entry;
    const char* why;
};

TEST_F(GBufferTest, MissingChannelsOneByOne) {
    const std::vector<MissingCase> cases = {
        {kGBufferDepth, "no depth: the source is copied"},
        {kGBufferCoverage, "no coverage: nothing splatted"},
        {kGBufferColour, "no colour: the source pixel's colour, and no layers"},
        {kGBufferTransparency, "no transparency: fully opaque"},
        {kGBufferLayerWeight, "no layer weight: no layers"},
        {kGBufferLayerRange, "no layer range: no layers"},
    };
    for (QVBitmapType format : kAllFormats) {
        for (const MissingCase& m : cases) {
            scene(format, 100u + unsigned(m.entry));
            gbuffers->remove(m.entry);
            expectMatchesReference(*source, *destination, gbuffers.get(), settings,
                                   std::string(formatName(format)) + ": " + m.why);
        }
        scene(format, 99);
        expectMatchesReference(*source, *destination, nullptr, settings,
                               std::string(formatName(format)) + ": no g-buffer table");
    }
}

// Layers whose range is empty or reversed, or that belong to a pixel of
// coverage 0, add nothing: the render equals one with those ranges cleared.
struct RangeCase {
    std::uint16_t first, end;
    bool coverage;
    const char* why;
};

TEST_F(GBufferTest, LayerRangesThatSplatNothing) {
    const std::vector<RangeCase> cases = {
        {1, 1, true, "first = end"},
        {2, 0, true, "first > end"},
        {0xFFFF, 3, true, "first far beyond end"},
        {0, 2, false, "coverage byte 0 with two layers"},
    };
    for (QVBitmapType format : {kQVBitmapRGBA8, kQVBitmapRGBAFloat}) {
        for (const RangeCase& c : cases) {
            std::vector<std::uint8_t> expected;
            for (bool cleared : {true, false}) {
                scene(format, 5);
                // No pixel's layers count, but pixel (4, 3)'s range is the
                // case's; row 3 gets a layer of colour 255 per pixel, so that
                // any layer splatted shows.
                for (int y = 0; y < 7; ++y)
                    for (int x = 0; x < 9; ++x) {
                        gbuffers->layerRange(x, y)[0] = 0;
                        gbuffers->layerRange(x, y)[1] = 0;
                    }
                for (int x = 0; x < 9; ++x) {
                    dofrt::LayerFragment f = {
                        float(kFocal), {255, 255, 255, 128}, {0, 0, 0}, {255, 255, 255}};
                    gbuffers->addLayer(x, 3, f);
                }
                std::uint16_t* range = gbuffers->layerRange(4, 3);
                range[0] = cleared ? 0 : c.first;
                range[1] = cleared ? 0 : c.end;
                gbuffers->coverage(4, 3) = c.coverage ? 200 : 0;
                for (int x = 0; x < 9; ++x)
                    if (x != 4) gbuffers->layerRange(x, 3)[1] = gbuffers->layerRange(x, 3)[0];
                if (cleared) {
                    ASSERT_TRUE(run(*source, *destination, gbuffers.get(), settings).ok);
                    expected = bufferBytes(*destination);
                } else {
                    expectMatchesReference(*source, *destination, gbuffers.get(), settings,
                                           std::string(formatName(format)) + ": " + c.why);
                    EXPECT_EQ(bufferBytes(*destination), expected)
                        << formatName(format) << ": " << c.why;
                }
            }
        }
    }
}

// Pixel (1, 0) of a 3 x 1 image: an opaque black front fragment in focus,
// and a layer range (0, 1) on a row without layers, so that every layer
// element is its channel's dummy: depth 1.0 (in front of the viewer: sharp),
// colour bytes 1, transparency bytes 1 (opacity 254/255), weights 1/255.
//   colour sum = ((1/255) x 1) x (1/255), weight sum = 1 + 1/255,
//   opacity sum = 1 + ((254/255) x 1) x (1/255), transmittance 0,
// so colour = 1 / 65280 and alpha = 65279 / 65280 of full scale:
// 8-bit 0 and 255, 16-bit 1.0039 -> 1 and 65533.996 -> 65534.
TEST_F(GBufferTest, LayerBeyondTheRowsLayersReadsTheDummies) {
    struct Expected {
        QVBitmapType format;
        RGBA pixel;
    };
    const std::vector<Expected> cases = {
        {kQVBitmapRGBA8, {0, 0, 0, 255}},
        {kQVBitmapRGBA16, {1, 1, 1, 65534}},
        {kQVBitmapRGBAFloat, {1.0 / 65280.0, 1.0 / 65280.0, 1.0 / 65280.0, 65279.0 / 65280.0}},
    };
    for (const Expected& e : cases) {
        auto src = makeImage(e.format, 3, 1);
        auto dst = makeImage(e.format, 3, 1);
        GBufferSet g(3, 1);
        g.addDepth();
        g.addCoverage();
        g.addColour(false);
        g.addTransparency();
        g.enableLayers();
        for (int x = 0; x < 3; ++x) g.depth(x, 0) = float(kFocal);
        g.coverage(1, 0) = 255;
        g.layerRange(1, 0)[0] = 0;
        g.layerRange(1, 0)[1] = 1;
        ASSERT_EQ(g.layerCount(0), 0u);
        RenderSettings s;
        s.method = 2.0;
        s.radius = 3.0;
        s.focalDepth = kFocal;
        ASSERT_TRUE(run(*src, *dst, &g, s).ok);
        EXPECT_PIXEL(*dst, 1, 0, e.pixel, formatName(e.format));
    }
}

struct DummyCase {
    GBufferEntry entry;
    std::uint8_t elemType;
    const char* why;
};

// The dummy is chosen by the channel's element type and read as the type
// the engine expects: a float dummy read as bytes is 00 00 80 3F, a long
// dummy 01 00 00 00, a short dummy 01 00 01 00, a byte dummy read as a
// depth is the tiny positive float 0x01010101.
TEST_F(GBufferTest, DummiesByElementType) {
    const std::vector<DummyCase> cases = {
        {kGBufferLayerWeight, kGBufferElemFloat, "weights 0, 0, 128"},
        {kGBufferLayerWeight, kGBufferElemFloat2, "weights 0, 0, 128"},
        {kGBufferLayerWeight, kGBufferElemLong, "weights 1, 0, 0"},
        {kGBufferLayerWeight, kGBufferElemLong2, "weights 1, 0, 0"},
        {kGBufferLayerWeight, kGBufferElemUShort, "weights 1, 0, 1"},
        {kGBufferLayerWeight, 9, "unknown type: byte dummy"},
        {kGBufferColour, kGBufferElemFloat, "colour 0, 0, 128"},
        {kGBufferColourExponent, kGBufferElemFloat, "colour 0, 0, 128 x 2^(63 - 128)"},
        {kGBufferColourExponent, kGBufferElemUByte, "colour 1, 1, 1 x 2^-127"},
        {kGBufferTransparency, kGBufferElemLong, "transparency 1, 0, 0"},
        {kGBufferDepth, kGBufferElemUByte, "depth 2.4e-38: in front of the viewer"},
        {kGBufferDepth, kGBufferElemUShort, "depth from 01 00 01 00"},
        {kGBufferDepth, kGBufferElemLong, "depth from 01 00 00 00"},
    };
    for (QVBitmapType format : {kQVBitmapRGBA16, kQVBitmapRGBAFloat}) {
        for (const DummyCase& d : cases) {
            SceneOptions options;
            options.exponent = d.entry == kGBufferColourExponent;
            scene(format, 31, options);
            // Ranges reach past every row's layers.
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 9; ++x) {
                    std::uint16_t* range = gbuffers->layerRange(x, y);
                    range[1] = std::uint16_t(range[1] + 2);
                }
            GBufferChannel* channel = gbuffers->channel(d.entry);
            ASSERT_NE(channel, nullptr) << d.why;
            channel->elemType = d.elemType;
            expectMatchesReference(*source, *destination, gbuffers.get(), settings,
                                   std::string(formatName(format)) + ": " + d.why);
        }
    }
}

// A layer row with a null base, or a row list that is absent, also reads the
// dummies.
TEST_F(GBufferTest, AbsentLayerRowsReadTheDummies) {
    for (int variant = 0; variant < 2; ++variant) {
        scene(kQVBitmapRGBA12, 41);
        GBufferChannel* colour = gbuffers->channel(kGBufferColour);
        if (variant == 0) {
            colour->layers = nullptr;
        } else {
            for (int y = 0; y < 7; ++y) colour->layers[y].layerBase = nullptr;
        }
        expectMatchesReference(*source, *destination, gbuffers.get(), settings,
                               variant == 0 ? "no layer rows" : "null layer bases");
    }
}

struct StrideCase {
    GBufferEntry entry;
    int extraBytes;  // added to the element size for xStride
    const char* why;
};

// Channels whose elements stand further apart than their size: the depth
// walks by xStride rounded down to 4, the range by xStride rounded down to
// 2, the bytes by xStride. The data is re-laid out with that stride, the
// gaps zero, so a walk that rounds differently reads other values.
TEST_F(GBufferTest, StridesOfTheRowWalks) {
    const std::vector<StrideCase> cases = {
        {kGBufferDepth, 2, "depth xStride 6, walked by 4"},
        {kGBufferDepth, 4, "depth xStride 8"},
        {kGBufferLayerRange, 1, "range xStride 5, walked by 4"},
        {kGBufferLayerRange, 3, "range xStride 7, walked by 6"},
        {kGBufferCoverage, 2, "coverage xStride 3"},
        {kGBufferColour, 1, "colour xStride 4"},
        {kGBufferTransparency, 5, "transparency xStride 8"},
    };
    for (double method : {1.0, 2.0}) {
        for (const StrideCase& c : cases) {
            scene(kQVBitmapRGBA8, 51);
            settings.method = method;
            settings.outputRects = {{1, 1, 3, 5}, {4, 1, 4, 5}};
            // Ranges of at most one layer keep misread ranges short.
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 9; ++x) {
                    std::uint16_t* range = gbuffers->layerRange(x, y);
                    range[0] = 0;
                    range[1] = gbuffers->layerCount(y) > 0 ? 1 : 0;
                }
            GBufferChannel* ch = gbuffers->channel(c.entry);
            const int size = ch->xStride;
            const int stride = size + c.extraBytes;
            std::vector<std::uint8_t> data(std::size_t(stride) * 9 * 7 + 16, 0);
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 9; ++x)
                    std::memcpy(&data[std::size_t((y * 9 + x) * stride)],
                                ch->data + (y * 9 + x) * size, std::size_t(size));
            ch->data = data.data();
            ch->xStride = stride;
            ch->yStride = stride * 9;
            expectMatchesReference(*source, *destination, gbuffers.get(), settings,
                                   std::string(c.why) + ", method " + std::to_string(int(method)));
        }
    }
}

// A depth of exactly 0 has no finite fraction and counts as sharp: its
// splat stays on its own pixel, and its box window is the pixel alone.
TEST_F(GBufferTest, DepthExactlyZeroIsSharp) {
    for (double method : {1.0, 2.0}) {
        auto src = makeImage(kQVBitmapRGBA8, 3, 3);
        auto dst = makeImage(kQVBitmapRGBA8, 3, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x) {
                setPixel(*src, x, y, {10.0 * x, 20.0 * y, 30, 255});
                setPixel(*dst, x, y, {1, 2, 3, 4});
            }
        GBufferSet g(3, 3);
        g.addDepth();
        g.addCoverage();
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x) g.depth(x, y) = float(kFocal);
        g.depth(1, 1) = 0.0f;
        g.coverage(1, 1) = 255;
        RenderSettings s;
        s.method = method;
        s.radius = 5.0;
        s.focalDepth = kFocal;
        ASSERT_TRUE(run(*src, *dst, &g, s).ok);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_PIXEL(*dst, x, y, (RGBA{10.0 * x, 20.0 * y, 30, 255}),
                             "method " + std::to_string(int(method)));
    }
}

}  // namespace
}  // namespace rendertest
