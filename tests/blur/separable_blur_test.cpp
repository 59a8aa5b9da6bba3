#include <tuple>
#include <vector>

#include "blur/line_blur.h"
#include "blur/line_fixture.h"
#include "qvlib_testing.h"
#include "support/blur_reference.h"

namespace {

using blurtest::kernelWith;
using blurtest::lineShapes;
using blurtest::sameBytes;
using blurtest::SentinelLine;
using blurtest::TestValues;

struct StrideCase {
    const char* name;
    long stride;
};

const StrideCase kPixelStrides[] = {
    {"Packed", 4},            // consecutive pixels of a row
    {"Gapped", 7},            // three bytes between pixels stay as they were
    {"Reversed", -4},         // a row written right to left
    {"ReversedGapped", -11},  // a column walked upward
};

// Premultiplied planes of a line: colour 0 to 255 times the alpha of its
// sample. A stretch above 1 makes some results wrap past 255.
struct Planes {
    std::vector<double> alpha, c1, c2, c3;
};

Planes premultiplied(int n, std::vector<double> const& alpha, double stretch, TestValues& values) {
    Planes planes;
    planes.alpha = alpha;
    for (int j = 0; j < n; ++j) {
        const double a = alpha[std::size_t(j)];
        planes.c1.push_back(values.between(0, 255) * a * stretch);
        planes.c2.push_back(values.between(0, 255) * a * stretch);
        planes.c3.push_back(values.between(0, 255) * a * stretch);
    }
    return planes;
}

std::uint64_t allocationsSoFar() { return qvlib::allocStats().totalAllocations; }

class SeparableBlurLine : public doftest::HostAllocTest,
                          public ::testing::WithParamInterface<std::tuple<int, int>> {
protected:
    const blurtest::LineShape& shape() const { return lineShapes()[std::get<0>(GetParam())]; }
    long stride() const { return kPixelStrides[std::get<1>(GetParam())].stride; }
};

TEST_P(SeparableBlurLine, StdBlurMatchesReference) {
    const int n = shape().n;
    TestValues values(1000 + n * 31 + shape().R);
    const std::vector<double> weights = blurtest::lopsidedWeights(shape().R, values);
    auto kernel = kernelWith(weights);
    ASSERT_TRUE(kernel);
    struct AlphaCase {
        const char* why;
        double alpha;
        double stretch;
    };
    const AlphaCase cases[] = {
        {"opaque line", 255.0, 1.0},
        {"part transparent line", 97.0, 1.0},
        {"alpha between bytes", 41.5, 1.0},
        {"colour past the alpha wraps", 200.0, 1.4},
        {"transparent line keeps its colour bytes", 0.0, 1.0},
    };
    for (const AlphaCase& c : cases) {
        SCOPED_TRACE(c.why);
        const Planes p = premultiplied(n, std::vector<double>(std::size_t(n > 0 ? n : 0), c.alpha),
                                       c.stretch, values);
        SentinelLine actual(n, stride(), 4), expected(n, stride(), 4);
        blurref::stdBlur(c.alpha, p.c1, p.c2, p.c3, n, expected.origin(), stride(), weights);
        const std::uint64_t before = allocationsSoFar();
        std_blur(&c.alpha, p.c1.data(), p.c2.data(), p.c3.data(), n, actual.origin(), stride(),
                 kernel.get());
        EXPECT_EQ(allocationsSoFar(), before) << "std_blur allocates nothing";
        EXPECT_TRUE(sameBytes(actual.bytes, expected.bytes));
    }
}

TEST_P(SeparableBlurLine, AwBlurMatchesReference) {
    const int n = shape().n;
    TestValues values(2000 + n * 31 + shape().R);
    const std::size_t count = std::size_t(n > 0 ? n : 0);
    // An unnormalised kernel: aw_blur divides by its own sums.
    std::vector<double> weights = blurtest::lopsidedWeights(shape().R, values);
    for (double& w : weights) w *= 3.0;
    auto kernel = kernelWith(weights);
    ASSERT_TRUE(kernel);

    std::vector<double> sparse, opaque(count, 255.0), clear(count, 0.0), uneven;
    for (std::size_t j = 0; j < count; ++j) {
        // Mostly transparent, so that some windows hold no alpha at all.
        sparse.push_back(values.between(0, 9) < 7 ? 0.0 : double(values.between(1, 255)));
        uneven.push_back(double(values.between(0, 255)));
    }
    struct AlphaCase {
        const char* why;
        std::vector<double> const* alpha;
        double stretch;
    };
    const AlphaCase cases[] = {
        {"opaque line", &opaque, 1.0},
        {"alpha varies", &uneven, 1.0},
        {"windows without alpha keep their colour bytes", &sparse, 1.0},
        {"transparent line writes only alpha", &clear, 1.0},
        {"colour past the alpha wraps", &uneven, 1.3},
    };
    for (const AlphaCase& c : cases) {
        SCOPED_TRACE(c.why);
        const Planes p = premultiplied(n, *c.alpha, c.stretch, values);
        SentinelLine actual(n, stride(), 4), expected(n, stride(), 4);
        blurref::awBlur(p.alpha, p.c1, p.c2, p.c3, n, expected.origin(), stride(), weights);
        const std::uint64_t before = allocationsSoFar();
        aw_blur(p.alpha.data(), p.c1.data(), p.c2.data(), p.c3.data(), n, actual.origin(), stride(),
                kernel.get());
        EXPECT_EQ(allocationsSoFar(), before) << "aw_blur allocates nothing";
        EXPECT_TRUE(sameBytes(actual.bytes, expected.bytes));
    }
}

INSTANTIATE_TEST_SUITE_P(ShapesAndStrides, SeparableBlurLine,
                         ::testing::Combine(::testing::Range(0, int(lineShapes().size())),
                                            ::testing::Range(0, int(sizeof kPixelStrides /
                                                                    sizeof kPixelStrides[0]))),
                         [](const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
                             return blurtest::shapeName(std::get<0>(info.param)) +
                                    kPixelStrides[std::get<1>(info.param)].name;
                         });

using SeparableBlur = doftest::HostAllocTest;

// One sample through a kernel of one tap 1.0: the bytes are the rounded
// quotient colour / alpha, worked out by hand.
TEST_F(SeparableBlur, RoundingHalvesToEvenAndWraps) {
    struct Case {
        const char* why;
        double alpha;
        double colour;
        unsigned char alphaByte;
        unsigned char colourByte;
    };
    const Case cases[] = {
        {"2.5 is stored as 2", 2.0, 5.0, 2, 2},
        {"3.5 is stored as 4", 2.0, 7.0, 2, 4},
        {"255.5 rounds to 256, stored as 0", 2.0, 511.0, 2, 0},
        {"-1 is stored as 255", 2.0, -2.0, 2, 255},
        {"full colour of an opaque sample", 255.0, 255.0 * 255.0, 255, 255},
        {"alpha 2.5 is stored as 2", 2.5, 5.0, 2, 2},
        {"alpha 255.5 is stored as 0", 255.5, 511.0, 0, 2},
    };
    auto kernel = kernelWith({1.0});
    ASSERT_TRUE(kernel);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const double plane = c.colour;
        unsigned char stdOut[4] = {9, 9, 9, 9};
        std_blur(&c.alpha, &plane, &plane, &plane, 1, stdOut, 4, kernel.get());
        EXPECT_EQ(stdOut[0], c.alphaByte);
        EXPECT_EQ(stdOut[1], c.colourByte);
        EXPECT_EQ(stdOut[2], c.colourByte);
        EXPECT_EQ(stdOut[3], c.colourByte);
        unsigned char awOut[4] = {9, 9, 9, 9};
        aw_blur(&c.alpha, &plane, &plane, &plane, 1, awOut, 4, kernel.get());
        EXPECT_EQ(awOut[0], c.alphaByte);
        EXPECT_EQ(awOut[1], c.colourByte);
        EXPECT_EQ(awOut[2], c.colourByte);
        EXPECT_EQ(awOut[3], c.colourByte);
    }
}

// One opaque sample among transparent ones, taps 1/4, 1/2, 1/4: its colour
// reaches every pixel within 1 exactly; alpha 255/4 = 63.75 and 255/2 = 127.5
// round to 64 and 128; pixels it does not reach keep their colour bytes.
TEST_F(SeparableBlur, AwBlurSpreadsOneOpaqueSample) {
    auto kernel = kernelWith({0.25, 0.5, 0.25});
    ASSERT_TRUE(kernel);
    const std::vector<double> alpha = {0, 0, 255, 0, 0};
    const std::vector<double> c1 = {0, 0, 100 * 255, 0, 0};
    const std::vector<double> c2 = {0, 0, 20 * 255, 0, 0};
    const std::vector<double> c3 = {0, 0, 255 * 255, 0, 0};
    unsigned char out[20];
    for (int b = 0; b < 20; ++b) out[b] = (unsigned char)(200 + b);
    aw_blur(alpha.data(), c1.data(), c2.data(), c3.data(), 5, out, 4, kernel.get());
    const unsigned char expected[20] = {0,   201, 202, 203,  //
                                        64,  100, 20,  255,  //
                                        128, 100, 20,  255,  //
                                        64,  100, 20,  255,  //
                                        0,   217, 218, 219};
    for (int b = 0; b < 20; ++b) EXPECT_EQ(out[b], expected[b]) << "byte " << b;
}

// Lines picked so that another order of the same operations rounds the other
// way; the bytes follow the formulas step by step, worked with a calculator.
// Taps of 0.01: W = 0.02. std_blur, a = 3: S x (1 / (W a)) gives
// 2.5000000000000004, 4.500000000000001 and 14.500000000000002 (3, 5, 15),
// where S (1/W)(1/a), S / W / a and S / (W a) give 2.5, 4.5 and 14.5; with
// a = 7 it gives 0.5 (0) and 23.5 (24), where S x ((1 / W) / a) gives
// 0.5000000000000001 and S / (W a) 23.499999999999996.
// Interior, a = 98: S x (1 / 98) gives 1.4999999999999998, 3.4999999999999996,
// 7.499999999999999, where S / 98 gives 1.5, 3.5 and 7.5. Sums from the left,
// taps 0.54, 1 - 0.54 - 0.39, 0.39 over 138, 14, 100: 114.50000000000001 (115)
// where summing from the right gives 114.5. aw_blur: Sa / W = 0.21 / 0.02 =
// 10.5 (10) where Sa x (1 / W) gives 10.500000000000002; colour 1.18 x
// (1 / 0.04) = 29.5 (30) where 1.18 / 0.04 gives 29.499999999999996.
TEST_F(SeparableBlur, OperationsInTheirOrder) {
    const std::vector<double> hundredths = {0.01, 0.01, 0.01};
    const std::vector<double> lopsided = {0.54, 1.0 - 0.54 - 0.39, 0.39};
    struct Case {
        const char* why;
        bool weighted;
        std::vector<double> weights, alpha, c1, c2, c3;
        std::vector<unsigned char> expected;
    };
    const Case cases[] = {
        {"std_blur: one reciprocal of W x a",
         false,
         hundredths,
         {3},
         {7, 8},
         {13, 14},
         {43, 44},
         {3, 3, 5, 15, 3, 3, 5, 15}},
        {"std_blur: the reciprocal of the product, not a quotient of quotients",
         false,
         hundredths,
         {7},
         {3, 4},
         {164, 165},
         {0, 0},
         {7, 0, 24, 0, 7, 0, 24, 0}},
        {"std_blur: interior multiplies by 1 / a",
         false,
         {1.0},
         {98},
         {147},
         {343},
         {735},
         {98, 1, 3, 7}},
        {"std_blur: sums run left to right",
         false,
         lopsided,
         {1},
         {138, 14, 100},
         {0, 0, 0},
         {0, 0, 0},
         {1, 33, 0, 0, 1, 115, 0, 0, 1, 24, 0, 0}},
        {"aw_blur: alpha is a true division",
         true,
         hundredths,
         {1, 20},
         {0, 0},
         {0, 0},
         {0, 0},
         {10, 0, 0, 0, 10, 0, 0, 0}},
        {"aw_blur: colour multiplies by 1 / Sa", true, {0.01}, {4}, {118}, {0}, {0}, {4, 30, 0, 0}},
        {"aw_blur: sums run left to right",
         true,
         lopsided,
         {1, 1, 1},
         {138, 14, 100},
         {0, 0, 0},
         {0, 0, 0},
         {1, 33, 0, 0, 1, 115, 0, 0, 1, 24, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        auto kernel = kernelWith(c.weights);
        ASSERT_TRUE(kernel);
        const int n = int(c.c1.size());
        std::vector<unsigned char> out(std::size_t(n) * 4, 77);
        if (c.weighted)
            aw_blur(c.alpha.data(), c.c1.data(), c.c2.data(), c.c3.data(), n, out.data(), 4,
                    kernel.get());
        else
            std_blur(c.alpha.data(), c.c1.data(), c.c2.data(), c.c3.data(), n, out.data(), 4,
                     kernel.get());
        EXPECT_TRUE(sameBytes(out, c.expected));
    }
}

// A kernel whose table could not be allocated has nothing to filter with.
TEST_F(SeparableBlur, KernelWithoutTableLeavesOutput) {
    qvlib::failAllocationAt(1);
    HatKernel empty(1.0);
    ASSERT_EQ(empty.weights, nullptr);
    const std::vector<double> plane(5, 255.0 * 100.0);
    const double alpha = 255.0;
    SentinelLine line(5, 4, 4);
    const std::vector<unsigned char> untouched = line.bytes;
    std_blur(&alpha, plane.data(), plane.data(), plane.data(), 5, line.origin(), 4, &empty);
    EXPECT_TRUE(sameBytes(line.bytes, untouched));
    aw_blur(plane.data(), plane.data(), plane.data(), plane.data(), 5, line.origin(), 4, &empty);
    EXPECT_TRUE(sameBytes(line.bytes, untouched));
}

}  // namespace
