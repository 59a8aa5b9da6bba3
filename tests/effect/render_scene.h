// Scenes for the render tests: images in the five formats, g-buffers with
// every kind of channel the engine reads, and the effect run as the host
// runs it, through the built module or this program's own copy of the
// engine, whose splatting walk the tests tune (vector unit, tile and band
// sizes).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FILTMAIN.h"
#include "dof/splat_walk.h"
#include "qvlib_testing.h"
#include "runtime/GBufferSet.h"
#include "runtime/PixelImage.h"
#include "runtime/RenderSession.h"
#include "support/effect_fixture.h"
#include "support/format_facts.h"
#include "support/random.h"
#include "support/render_reference.h"
#include "support/same_bytes.h"

namespace dof::test {

using runtime::GBufferSet;
using runtime::PixelImage;
using runtime::RenderSettings;

constexpr QVBitmapType kAllFormats[] = {kQVBitmapRGBA8, kQVBitmapRGBA10, kQVBitmapRGBA12,
                                        kQVBitmapRGBA16, kQVBitmapRGBAFloat};

inline std::string formatName(QVBitmapType format) { return formatFacts(format)->name; }

// Calls of the host allocator so far.
inline std::uint64_t allocations() { return dof::qvlib::allocStats().totalAllocations; }

// Every byte of an image's buffer, padding pixels included.
inline std::vector<std::uint8_t> bufferBytes(const PixelImage& image) {
    const QVBitmap& r = image.record();
    return std::vector<std::uint8_t>(r.baseAddr, r.baseAddr + std::size_t(r.rowPixels) *
                                                                  std::size_t(image.height()) *
                                                                  std::size_t(image.pixelBytes()));
}

// Rows of width + 2 pixels, every byte from the generator: a sentinel the
// render must leave wherever it writes nothing. Float pixels get values a
// picture would have (random bytes make NaNs), and with `infinite` some
// infinite ones.
inline std::unique_ptr<PixelImage> randomImage(QVBitmapType format, int width, int height,
                                               Random& random, bool infinite = false) {
    auto image = PixelImage::create(format, width, height, width + 2);
    const QVBitmap& r = image->record();
    for (std::size_t i = 0, n = bufferBytes(*image).size(); i < n; ++i)
        r.baseAddr[i] = random.byte();
    if (format != kQVBitmapRGBAFloat) return image;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c)
                image->setComponent(x, y, c,
                                    infinite && random.chance(8)
                                        ? (random.chance(50) ? 1.0 : -1.0) / 0.0
                                        : -0.25 + 1.5 * random.unit());
    return image;
}

// A buffer of the same format, size, layout and bytes.
inline std::unique_ptr<PixelImage> copyOf(const PixelImage& image) {
    auto copy =
        PixelImage::create(image.format(), image.width(), image.height(), image.record().rowPixels);
    std::memcpy(copy->record().baseAddr, image.record().baseAddr, bufferBytes(image).size());
    copy->record().layoutId = image.record().layoutId;
    return copy;
}

// What a scene's g-buffers hold.
enum SceneFeature : unsigned {
    kCoverage = 1u << 0,
    kColour = 1u << 1,
    kExponent = 1u << 2,  // the colour channel with a shared exponent
    kTransparency = 1u << 3,
    kLayers = 1u << 4,
    kEveryChannel = kCoverage | kColour | kTransparency | kLayers,
    kOpaque = 1u << 5,            // coverage 255 wherever it is not 0
    kEqualWeights = 1u << 6,      // layer weights equal in the three channels
    kPaddedStrides = 1u << 7,     // elements further apart than their size
    kMissingLayerRows = 1u << 8,  // layer rows without a base, a channel without rows
    kOddRanges = 1u << 9,         // reversed, empty and past-the-end layer ranges
    kDummyTypes = 1u << 10,       // element types that pick other dummies
    kInfinite = 1u << 11,         // infinite source colours (float)
    kNoDepth = 1u << 12,
    kNoTable = 1u << 13,
    kOtherLayout = 1u << 14,  // destination of another layout than the source
    kSparse = 1u << 15,       // coverage mostly 0, else 1 to 3: weights as low as 1e-8
    kClearSource = 1u << 16,  // source alpha 0 to 2 in raw units: averages that store 0
};

// Depths about a focal depth of -10: in focus, near, far, at the viewer
// (depth 0, no finite fraction) and behind it.
inline float randomDepth(Random& random) {
    const int pick = random.below(8);
    return pick == 0 ? -10.0f
                     : (pick == 1 ? 0.0f : (pick == 2 ? 3.0f : float(-1.0 - 30.0 * random.unit())));
}

// A scene's g-buffers, and the storage of the channels laid out again with
// padded strides.
struct SceneGBuffers {
    SceneGBuffers(int width, int height, Random& random, unsigned features);
    GBufferSet set;
    std::vector<std::vector<std::uint8_t>> padded;
};

inline SceneGBuffers::SceneGBuffers(int width, int height, Random& random, unsigned features)
    : set(width, height) {
    set.addDepth();
    if (features & kCoverage) set.addCoverage();
    if (features & kColour) set.addColour((features & kExponent) != 0);
    if (features & kTransparency) set.addTransparency();
    if (features & kLayers) set.enableLayers();
    const int colourBytes = features & kExponent ? 4 : 3;
    auto bytes = [&](std::uint8_t* to, int n, bool exponent) {
        for (int b = 0; b < n; ++b)
            to[b] = std::uint8_t(exponent && b == 3 ? 120 + random.below(16)
                                                    : (random.chance(30) ? 0 : random.below(256)));
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            set.depth(x, y) = randomDepth(random);
            const int pick = random.below(4);
            if (features & kCoverage)
                set.coverage(x, y) = std::uint8_t(
                    pick == 0 ? 0 : (pick == 1 || features & kOpaque ? 255 : random.below(256)));
            if (features & kSparse)
                set.coverage(x, y) = random.chance(80) ? 0 : 1 + random.below(3);
            if (features & kColour) bytes(set.colour(x, y), colourBytes, true);
            if (features & kTransparency) bytes(set.transparency(x, y), 3, false);
            if (!(features & kLayers)) continue;
            for (int k = random.below(3); k > 0; --k) {
                runtime::LayerFragment f;
                f.depth = randomDepth(random);
                bytes(f.colour, 4, true);
                bytes(f.transparency, 3, false);
                bytes(f.weight, 3, false);
                if (features & kEqualWeights) f.weight[1] = f.weight[2] = f.weight[0];
                EXPECT_TRUE(set.addLayer(x, y, f));
            }
            std::uint16_t* range = set.layerRange(x, y);
            if (features & kOddRanges && random.chance(30))
                range[random.below(2)] = std::uint16_t(random.below(4) == 0 ? 0xFFFF : 0);
            if (features & kOddRanges && random.chance(15)) range[1] = std::uint16_t(range[1] + 2);
        }
    }
    GBufferChannel* const* table = set.table();
    if (features & kMissingLayerRows && features & kLayers) {
        if (features & kTransparency) table[kGBufferTransparency]->layers = nullptr;
        for (int y = 0; y < height; y += 2) table[kGBufferDepth]->layers[y].layerBase = nullptr;
    }
    if (features & kDummyTypes) {
        table[kGBufferDepth]->elemType = kGBufferElemUShort;
        if (features & kLayers) table[kGBufferLayerWeight]->elemType = kGBufferElemFloat;
        if (features & kColour && !(features & kExponent)) table[kGBufferColour]->elemType = 9;
    }
    if (features & kPaddedStrides) {
        // Depth walked by 4 of 6, ranges by 6 of 7, bytes by their stride; the
        // gaps are zero, so that a walk that rounds its step otherwise reads
        // zeros.
        const std::pair<GBufferEntry, int> pads[] = {
            {kGBufferDepth, 2},  {kGBufferLayerRange, 3},   {kGBufferCoverage, 2},
            {kGBufferColour, 1}, {kGBufferTransparency, 5}, {kGBufferColourExponent, 3}};
        for (const auto& p : pads) {
            GBufferChannel* ch = table[p.first];
            if (ch == nullptr) continue;
            const int size = ch->xStride, stride = size + p.second;
            padded.emplace_back(std::size_t(stride) * std::size_t(width * height) + 16, 0);
            for (int i = 0; i < width * height; ++i)
                std::memcpy(&padded.back()[std::size_t(i * stride)], ch->data + i * size,
                            std::size_t(size));
            ch->data = padded.back().data();
            ch->xStride = stride;
            ch->yStride = stride * width;
        }
    }
    if (features & kNoDepth) set.remove(kGBufferDepth);
}

// A dispatcher for the record's execute entry that forwards each call to
// `target` and, after a pass 3 that went through, runs `afterSplat` on the
// planes as the splatting left them before the next call.
struct WatchedExecute {
    static inline FilterDispatch target = nullptr;
    static inline std::function<void(const Parameters&)> afterSplat;
    static inline bool splatted = false;

    static QVULong execute(IFXFilterInstance* record, QVULong selector) {
        const bool splatting = selector == kSelectorApply && record->renderPass == kPassSplat;
        if (splatted && !splatting && afterSplat) afterSplat(*record->parameters);
        const QVULong result = target(record, selector);
        splatted = splatting && result == kDispatchDone;
        return result;
    }
};

// An effect instance, described and set up, that renders scenes.
class RenderTest : public EffectTest {
protected:
    void TearDown() override {
        source.reset();  // host blocks, counted by the fixture
        destination.reset();
        EffectTest::TearDown();
    }

    // A w x h scene of one format from the generator: source, destination
    // and g-buffer channels as `features` describes them; focus at -10.
    void scene(QVBitmapType format, int w, int h, std::uint32_t seed, unsigned features) {
        Random random(seed);
        source = randomImage(format, w, h, random, features & kInfinite);
        for (int i = 0; i < w * h && features & kClearSource; ++i)
            source->setComponent(i % w, i / w, 3, random.below(3));
        destination = randomImage(format, w, h, random);
        if (features & kOtherLayout) destination->record().layoutId = 99;
        gbuffers.reset(new SceneGBuffers(w, h, random, features));
        settings = RenderSettings();
        settings.focalDepth = -10.0;
        modeParameter.reset();
    }

    // `s` written to the effect; `modeParameter`, when set, in place of the
    // method's own value.
    void setParameters(const RenderSettings& s) {
        EXPECT_TRUE(runtime::setRenderParameters(*instance, s));
        if (modeParameter) {
            EXPECT_TRUE(runtime::setParameter(*instance, kStringMethod, *modeParameter));
        }
    }

    // The scene's session, with the settings written to the effect.
    std::unique_ptr<runtime::RenderSession> session() {
        setParameters(settings);
        return std::unique_ptr<runtime::RenderSession>(
            new runtime::RenderSession(*instance, *source, *destination, &gbuffers->set, settings));
    }

    // A whole render as the host runs it, through the built module or, with
    // `local`, this program's copy of the effect, whose walk the tests tune;
    // `afterSplat`, when given, sees the planes after pass 3.
    runtime::RenderReport render(PixelImage& source, PixelImage& destination, GBufferSet* gbuffers,
                                 const RenderSettings& settings, bool local = false,
                                 const std::function<void(const Parameters&)>& afterSplat = {}) {
        IFXFilterInstance& record = instance->record();
        const FilterDispatch module = record.executeEntry;
        WatchedExecute::target = local ? ExecuteFunc : module;
        WatchedExecute::afterSplat = afterSplat;
        record.executeEntry = WatchedExecute::execute;
        setParameters(settings);
        const runtime::RenderReport report =
            runtime::render(*instance, source, destination, gbuffers, settings);
        record.executeEntry = module;
        WatchedExecute::afterSplat = nullptr;
        return report;
    }

    std::unique_ptr<PixelImage> source, destination;
    std::unique_ptr<SceneGBuffers> gbuffers;
    RenderSettings settings;
    std::optional<double> modeParameter;
};

// The twelve planes of a Parameters record as the reference keeps them.
inline ReferencePlanes planesOf(const Parameters& p, std::size_t elements) {
    const double* planes[12] = {p.colourSumR,  p.colourSumG,  p.colourSumB, p.opacitySumR,
                                p.opacitySumG, p.opacitySumB, p.transmitR,  p.transmitG,
                                p.transmitB,   p.weightSumR,  p.weightSumG, p.weightSumB};
    ReferencePlanes out;
    for (std::size_t i = 0; i < 12; ++i) out[i].assign(planes[i], planes[i] + elements);
    return out;
}

inline ::testing::AssertionResult samePlanes(const ReferencePlanes& actual,
                                             const ReferencePlanes& expected) {
    for (std::size_t i = 0; i < 12; ++i) {
        ::testing::AssertionResult same = sameBytes(actual[i], expected[i]);
        if (!same) return same << " in plane " << i;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace dof::test
