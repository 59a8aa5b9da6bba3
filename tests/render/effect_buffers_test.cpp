// A render input as the effect's buffers: source colour in the association
// each method needs, coverage and transparency from alpha; and the result
// back in the file's association.
#include "render/effect_buffers.h"

#include <gtest/gtest.h>

#include <cmath>

#include "render/flat_frame.h"
#include "support/effect_fixture.h"

namespace {

using dof::Frame;
using dof::Method;

// Three pixels in a row, R G B A (+ Z unused): half-covered colour, empty,
// and light under zero alpha.
Frame flatFrame(bool associated) {
    Frame f = dof::test::flatFrame(3, 1);
    f.associated = associated;
    f.parts[0].values = {0.5f,  0.25f, 0.125f, 0.5f,  //
                         0.0f,  0.0f,  0.0f,   0.0f,  //
                         0.25f, 0.0f,  0.0f,   0.0f};
    f.distance = {10.0, NAN, 20.0};
    return f;
}

dof::DepthPlacement placement() {
    dof::DepthPlacement d;
    d.scale.factor = 0.5;
    d.scale.focalDepth = -5.0;
    return d;
}

class EffectBuffers : public dof::test::HostAllocTest {};

struct SourceCase {
    const char* why;
    bool associated;
    Method method;
    QVBitmapType format;
    std::uint8_t coverage[3];
    double expected[3][4];  // raw components of the three source pixels
};

TEST_F(EffectBuffers, SourceAndChannelsOfFlatFrames) {
    // clang-format off
    const SourceCase cases[] = {
        {"splat sees premultiplied colour as stored",
         true, Method::Splat, kQVBitmapRGBAFloat, {255, 0, 255},
         {{0.5, 0.25, 0.125, 0.5}, {0, 0, 0, 0}, {0.25, 0, 0, 0}}},
        {"box sees straight colour; zero alpha keeps what is stored",
         true, Method::Box, kQVBitmapRGBAFloat, {255, 0, 255},
         {{1.0, 0.5, 0.25, 0.5}, {0, 0, 0, 0}, {0.25, 0, 0, 0}}},
        {"straight files are premultiplied for splatting; colour under zero alpha is nothing",
         false, Method::Splat, kQVBitmapRGBAFloat, {255, 0, 0},
         {{0.25, 0.125, 0.0625, 0.5}, {0, 0, 0, 0}, {0, 0, 0, 0}}},
        {"straight files go to box averaging as they are",
         false, Method::Box, kQVBitmapRGBAFloat, {255, 0, 0},
         {{0.5, 0.25, 0.125, 0.5}, {0, 0, 0, 0}, {0.25, 0, 0, 0}}},
        {"8-bit codes, 127.5 and 31.875 rounded to nearest",
         true, Method::Splat, kQVBitmapRGBA8, {255, 0, 255},
         {{128, 64, 32, 128}, {0, 0, 0, 0}, {64, 0, 0, 0}}},
        {"12-bit codes of straight colour",
         true, Method::Box, kQVBitmapRGBA12, {255, 0, 255},
         {{4095, 2048, 1024, 2048}, {0, 0, 0, 0}, {1024, 0, 0, 0}}},
    };
    // clang-format on
    for (const SourceCase& c : cases) {
        const Frame frame = flatFrame(c.associated);
        dof::EffectBuffers buffers;
        std::string error;
        ASSERT_TRUE(dof::buildEffectBuffers(dof::RenderInput(frame), c.method, c.format,
                                            placement(), &buffers, &error))
            << error;
        for (int x = 0; x < 3; ++x) {
            for (int ch = 0; ch < 4; ++ch) {
                EXPECT_EQ(buffers.source->component(x, 0, ch), c.expected[x][ch])
                    << c.why << " pixel " << x << " channel " << ch;
                EXPECT_EQ(buffers.destination->component(x, 0, ch), c.expected[x][ch]) << c.why;
            }
            EXPECT_EQ(buffers.gbuffers->coverage(x, 0), c.coverage[x]) << c.why << " pixel " << x;
        }
        // Transparency: 255 - round(alpha x 255), the same in all three bytes.
        const std::uint8_t transparency[3] = {127, 255, 255};
        for (int x = 0; x < 3; ++x)
            for (int ch = 0; ch < 3; ++ch)
                EXPECT_EQ(buffers.gbuffers->transparency(x, 0)[ch], transparency[x]) << c.why;
        EXPECT_EQ(buffers.gbuffers->depth(0, 0), -5.0f);
        EXPECT_EQ(buffers.gbuffers->depth(1, 0), -1e30f);
        EXPECT_EQ(buffers.gbuffers->depth(2, 0), -10.0f);
        EXPECT_EQ(buffers.gbuffers->channel(kGBufferColour), nullptr);
        EXPECT_EQ(buffers.gbuffers->channel(kGBufferColourExponent), nullptr);
        EXPECT_EQ(buffers.gbuffers->channel(kGBufferLayerRange), nullptr);
    }
}

struct StoreCase {
    bool associated;
    Method method;
    double result[4];   // what the effect left in the destination, float format
    float expected[4];  // the result's R, G, B, A
    const char* why;
};

TEST_F(EffectBuffers, ResultReturnsInTheFilesAssociation) {
    // clang-format off
    const StoreCase cases[] = {
        {true, Method::Splat, {0.3, 0.2, 0.1, 0.6}, {0.3f, 0.2f, 0.1f, 0.6f},
         "splat result is premultiplied, like the file"},
        {false, Method::Splat, {0.3, 0.15, 0.0, 0.6}, {0.5f, 0.25f, 0.0f, 0.6f},
         "splat result un-premultiplied for a straight file"},
        {true, Method::Box, {0.5, 0.25, 1.0, 0.5}, {0.25f, 0.125f, 0.5f, 0.5f},
         "box result premultiplied again"},
        {false, Method::Box, {0.5, 0.25, 1.0, 0.5}, {0.5f, 0.25f, 1.0f, 0.5f},
         "box result as it is for a straight file"},
        {true, Method::Box, {0.7, 0.7, 0.7, 0.0}, {0.0f, 0.0f, 0.0f, 0.0f},
         "box result of zero alpha over a covered pixel: no colour"},
    };
    // clang-format on
    for (const StoreCase& c : cases) {
        const Frame frame = flatFrame(c.associated);
        const dof::RenderInput input(frame);
        dof::EffectBuffers buffers;
        std::string error;
        ASSERT_TRUE(dof::buildEffectBuffers(input, c.method, kQVBitmapRGBAFloat, placement(),
                                            &buffers, &error));
        for (int ch = 0; ch < 4; ++ch) buffers.destination->setComponent(0, 0, ch, c.result[ch]);
        const dof::RenderedColour result = dof::storeResult(buffers, c.method, input);
        for (int ch = 0; ch < 4; ++ch)
            EXPECT_EQ(dof::test::valueAt(result, 0, ch), c.expected[ch]) << c.why << " " << ch;
        // Pixels the effect left alone keep the file's values.
        EXPECT_EQ(result.colour[0][2], 0.25f) << c.why;
    }
}

}  // namespace
