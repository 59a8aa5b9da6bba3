// Deep samples to fragments: front-to-back compositing, merging what the
// g-buffer bytes cannot carry, and the bytes themselves.
#include "model/deep_fragments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using dof::DeepSample;
using dof::Fragment;
using dof::PixelFragments;

PixelFragments pixelOf(double alpha, std::vector<Fragment> fragments) {
    PixelFragments p;
    p.alpha = alpha;
    for (const Fragment& f : fragments)
        for (int c = 0; c < 3; ++c) p.colour[c] += f.colour[c];
    p.fragments = std::move(fragments);
    return p;
}

// The same alpha, flattened colour and fragments, bit for bit (NaN matching
// NaN).
void expectPixel(const PixelFragments& got, const PixelFragments& expected, const char* why) {
    const auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    EXPECT_EQ(got.alpha, expected.alpha) << why;
    for (int c = 0; c < 3; ++c) EXPECT_EQ(got.colour[c], expected.colour[c]) << why;
    ASSERT_EQ(got.fragments.size(), expected.fragments.size()) << why;
    for (std::size_t k = 0; k < expected.fragments.size(); ++k) {
        const Fragment &g = got.fragments[k], &e = expected.fragments[k];
        EXPECT_TRUE(same(g.distance, e.distance) && g.weight == e.weight &&
                    g.colour[0] == e.colour[0] && g.colour[1] == e.colour[1] &&
                    g.colour[2] == e.colour[2])
            << why << ": fragment " << k;
    }
}

TEST(DeepFragments, SamplesCompositeFrontToBack) {
    const struct {
        const char* why;
        std::vector<DeepSample> samples;
        PixelFragments expected;
    } cases[] = {
        {"given back first, the half-transparent one sorts in front; the opaque one behind "
         "is seen in the half it lets through",
         {{5.0, {0.25, 0.5, 0.75}, 1.0}, {2.0, {0.25, 0.0, 0.0}, 0.5}},
         pixelOf(1.0, {{2.0, 0.5, {0.25, 0, 0}}, {5.0, 0.5, {0.125, 0.25, 0.375}}})},
        {"no hit sorts last; alpha -1 counts as 0 (its light still adds), alpha 2 as 1",
         {{std::nan(""), {1.0, 1.0, 1.0}, 2.0}, {3.0, {0.5, 0.0, 0.0}, -1.0}},
         pixelOf(1.0, {{3.0, 0.0, {0.5, 0, 0}}, {std::nan(""), 1.0, {1, 1, 1}}})},
    };
    for (const auto& c : cases) expectPixel(dof::flattenSamples(c.samples), c.expected, c.why);
}

struct MergeCase {
    const char* why;
    PixelFragments pixel;
    std::size_t maxFragments;
    std::vector<Fragment> expected;
};

TEST(DeepFragments, MergeFoldsWhatTheBytesCannotCarry) {
    const double tiny = 1.0 / 1024.0;  // share byte round(255 / 1024) = 0
    // clang-format off
    const MergeCase cases[] = {
        {"a zero-share front joins the first that stays, a zero-share behind joins its front",
         pixelOf(1.0, {{1.0, tiny, {0.25, 0, 0}}, {2.0, 0.5, {0, 0.25, 0}},
                       {3.0, tiny, {0, 0, 0.25}}, {4.0, 510.0 / 1024.0, {0.5, 0, 0}}}), 8,
         {{2.0, 0.5 + 2 * tiny, {0.25, 0.25, 0.25}}, {4.0, 510.0 / 1024.0, {0.5, 0, 0}}}},
        {"over the cap the lightest joins its front neighbour, first lightest on ties",
         pixelOf(1.0, {{1.0, 0.5, {0.5, 0, 0}}, {2.0, 0.125, {0, 0.125, 0}},
                       {3.0, 0.25, {0, 0, 0.25}}, {4.0, 0.125, {0.125, 0, 0}}}), 2,
         {{1.0, 0.625, {0.5, 0.125, 0}}, {3.0, 0.375, {0.125, 0, 0.25}}}},
        {"the lightest at the front joins the one behind it",
         pixelOf(1.0, {{1.0, 0.125, {0.125, 0, 0}}, {2.0, 0.5, {0.5, 0, 0}},
                       {3.0, 0.375, {0.375, 0, 0}}}), 2,
         {{2.0, 0.625, {0.625, 0, 0}}, {3.0, 0.375, {0.375, 0, 0}}}},
        {"an uncovered pixel with light keeps it in one fragment at its nearest sample",
         pixelOf(0.0, {{1.5, 0.0, {0.25, 0, 0}}, {2.5, 0.0, {0, 0.5, 0}}}), 8,
         {{1.5, 0.0, {0.25, 0.5, 0}}}},
        {"an uncovered, unlit pixel keeps nothing", pixelOf(0.0, {{1.5, 0.0, {0, 0, 0}}}), 8, {}},
    };
    // clang-format on
    for (const MergeCase& c : cases) {
        PixelFragments pixel = c.pixel;
        dof::mergeFragments(pixel, c.maxFragments);
        PixelFragments expected = c.pixel;
        expected.fragments = c.expected;
        expectPixel(pixel, expected, c.why);
    }
}

TEST(DeepFragments, SharedExponentBytes) {
    struct Case {
        double rgb[3];
        std::uint8_t expected[4];
        const char* why;
    } const cases[] = {
        {{1.0, 0.5, 0.25}, {255, 128, 64, 128}, "1.0 is 255 with exponent 0; 127.5 rounds to even"},
        {{2.0, 1.0, 0.0}, {255, 128, 0, 129}, "above 1: exponent 1"},
        {{0.75, 0.375, 0.0}, {191, 96, 0, 128}, "191.25 and 95.625 round to nearest"},
        {{0.2, 0.1, 0.05}, {204, 102, 51, 126}, "dim colours keep precision with exponent -2"},
        {{-1.0, 0.5, 0.0}, {0, 255, 0, 127}, "negative components stored as 0"},
        {{0.0, 0.0, 0.0}, {0, 0, 0, 0}, "black"},
        {{-1.0, -2.0, -3.0}, {0, 0, 0, 0}, "all negative: black"},
        {{1e-50, 0.0, 0.0}, {0, 0, 0, 0}, "below the smallest exponent: black"},
        {{std::ldexp(1.0, -127), 0.0, 0.0}, {255, 0, 0, 1}, "the smallest exponent"},
        {{std::ldexp(1.0, -128), 0.0, 0.0}, {0, 0, 0, 0}, "just below it"},
        {{1e300, 0.0, 0.0}, {255, 0, 0, 255}, "beyond the largest exponent: full scale"},
    };
    for (const auto& c : cases) {
        std::uint8_t out[4];
        dof::encodeSharedExponent(c.rgb, out);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], c.expected[i]) << c.why << " byte " << i;
    }
}

// The rounding and limits the encoded pixels below do not reach.
TEST(DeepFragments, ShareAndTransparencyBytesAtTheirEdges) {
    EXPECT_EQ(dof::shareByte(1.0 / 510.0, 1.0), 0);  // half a code rounds to even 0
    EXPECT_EQ(dof::shareByte(0.5, 0.0), 0);          // an uncovered pixel
    EXPECT_EQ(dof::transparencyByte(0.75), 64);      // 255 - round(191.25)
    EXPECT_EQ(dof::transparencyByte(-0.5), 255);
    EXPECT_EQ(dof::transparencyByte(1.5), 0);
}

TEST(DeepFragments, EncodedPixelCarriesSharesAndCompensatedColours) {
    const struct {
        const char* why;
        PixelFragments pixel;
        std::uint8_t transparency;
        std::size_t front;
        std::vector<dof::EncodedFragment> expected;
    } cases[] = {
        // clang-format off
        {"shares 191.25 and 63.75; colour x 255 / share: (0.4005, 0.2003, 0) and (0.1992, "
         "0.3984, 0.7969)",
         pixelOf(1.0, {{2.0, 0.75, {0.3, 0.15, 0.0}}, {4.0, 0.25, {0.05, 0.1, 0.2}}}), 0, 0,
         {{2.0, 191, {204, 102, 0, 127}}, {4.0, 64, {51, 102, 203, 128}}}},
        {"half covered: shares of the pixel's alpha, 63.75 and 127.5 (to even); colours 0.1 x "
         "256 / 64 = 0.4; the heaviest is the front one",
         pixelOf(0.5, {{1.0, 0.125, {0.1, 0, 0}}, {2.0, 0.25, {0.2, 0, 0}},
                       {3.0, 0.125, {0.1, 0, 0}}}), 127, 1,
         {{1.0, 64, {204, 0, 0, 127}}, {2.0, 128, {204, 0, 0, 127}}, {3.0, 64, {204, 0, 0, 127}}}},
        // clang-format on
    };
    for (const auto& c : cases) {
        const dof::EncodedPixel encoded = dof::encodePixel(c.pixel);
        EXPECT_EQ(encoded.transparency, c.transparency) << c.why;
        EXPECT_EQ(encoded.front, c.front) << c.why;
        ASSERT_EQ(encoded.fragments.size(), c.expected.size()) << c.why;
        for (std::size_t k = 0; k < c.expected.size(); ++k) {
            const dof::EncodedFragment &g = encoded.fragments[k], &e = c.expected[k];
            EXPECT_EQ(g.distance, e.distance) << c.why;
            EXPECT_EQ(g.weight, e.weight) << c.why << ": fragment " << k;
            for (int i = 0; i < 4; ++i) EXPECT_EQ(g.colour[i], e.colour[i]) << c.why << " " << k;
        }
    }
}

}  // namespace
