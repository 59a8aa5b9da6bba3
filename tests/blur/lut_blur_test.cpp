#include <tuple>
#include <vector>

#include "blur/line_blur.h"
#include "blur/line_fixture.h"
#include "qvlib_testing.h"
#include "support/blur_reference.h"

namespace {

using blurref::TableRounding;
using blurtest::gaussianWith;
using blurtest::lineShapes;
using blurtest::sameBytes;
using blurtest::SentinelLine;
using blurtest::TestValues;

struct StridePair {
    const char* name;
    int srcStride;
    int outStride;
};

const StridePair kStrides[] = {
    {"Packed", 4, 4},
    {"GappedSource", 9, 4},     // reading a column, writing a row
    {"ReversedOutput", 4, -4},  // a row written right to left
    {"MixedGapped", -6, 11},
};

struct RoundingCase {
    const char* name;
    TableRounding rounding;
};

const RoundingCase kRoundings[] = {{"RoundedTable", TableRounding::Nearest},
                                   {"TruncatedTable", TableRounding::Truncate}};

// A source line of interleaved pixels: first pixel's alpha as given, the
// other alpha bytes and every colour byte from the test values.
SentinelLine sourceLine(int n, int stride, unsigned char firstAlpha, TestValues& values) {
    SentinelLine src(n, stride, 4);
    for (int j = 0; j < n; ++j) {
        unsigned char* pixel = src.origin() + std::ptrdiff_t(j) * stride;
        for (int b = 0; b < 4; ++b) pixel[b] = (unsigned char)values.between(0, 255);
    }
    if (n > 0) src.origin()[0] = firstAlpha;
    return src;
}

class LutBlurLine : public doftest::HostAllocTest,
                    public ::testing::WithParamInterface<std::tuple<int, int, int>> {
protected:
    const blurtest::LineShape& shape() const { return lineShapes()[std::get<0>(GetParam())]; }
    const StridePair& strides() const { return kStrides[std::get<1>(GetParam())]; }
    TableRounding rounding() const { return kRoundings[std::get<2>(GetParam())].rounding; }
};

TEST_P(LutBlurLine, MatchesReference) {
    const int n = shape().n;
    TestValues values(5000 + n * 13 + shape().R * 7 + std::get<1>(GetParam()));
    const std::vector<double> weights = blurtest::lopsidedWeights(shape().R, values);
    auto kernel = gaussianWith(weights);
    ASSERT_TRUE(kernel);
    const std::vector<QVULong> lut = blurref::productTable(weights, rounding());
    const struct {
        const char* why;
        unsigned char firstAlpha;
    } cases[] = {
        {"first alpha taken for the whole line", 200},
        {"opaque first pixel", 255},
        {"transparent first pixel writes only alpha", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        SentinelLine src = sourceLine(n, strides().srcStride, c.firstAlpha, values);
        const std::vector<unsigned char> sourceBefore = src.bytes;
        SentinelLine actual(n, strides().outStride, 4), expected(n, strides().outStride, 4);
        blurref::stdLutBlur(src.origin(), strides().srcStride, strides().outStride, n,
                            expected.origin(), weights, lut);
        const std::uint64_t before = qvlib::allocStats().totalAllocations;
        std_LUT_blur(src.origin(), strides().srcStride, strides().outStride, n, actual.origin(),
                     kernel.get(), lut.data());
        EXPECT_EQ(qvlib::allocStats().totalAllocations, before) << "std_LUT_blur allocates nothing";
        EXPECT_TRUE(sameBytes(actual.bytes, expected.bytes));
        EXPECT_TRUE(sameBytes(src.bytes, sourceBefore)) << "the source is only read";
    }
}

// A constant colour stays that colour in all three runs, whichever way the
// table was made.
TEST_P(LutBlurLine, ConstantLineStaysConstant) {
    const int n = shape().n;
    if (n <= 0) return;
    TestValues values(6000 + n);
    const std::vector<double> weights = blurtest::lopsidedWeights(shape().R, values);
    auto kernel = gaussianWith(weights);
    ASSERT_TRUE(kernel);
    const std::vector<QVULong> lut = blurref::productTable(weights, rounding());
    SentinelLine src(n, strides().srcStride, 4);
    for (int j = 0; j < n; ++j) {
        unsigned char* pixel = src.origin() + std::ptrdiff_t(j) * strides().srcStride;
        pixel[0] = 180;
        pixel[1] = 0;
        pixel[2] = 93;
        pixel[3] = 255;
    }
    SentinelLine out(n, strides().outStride, 4);
    std_LUT_blur(src.origin(), strides().srcStride, strides().outStride, n, out.origin(),
                 kernel.get(), lut.data());
    for (int i = 0; i < n; ++i) {
        unsigned char const* pixel = out.origin() + std::ptrdiff_t(i) * strides().outStride;
        EXPECT_EQ(pixel[0], 180) << "pixel " << i;
        EXPECT_EQ(pixel[1], 0) << "pixel " << i;
        EXPECT_EQ(pixel[2], 93) << "pixel " << i;
        EXPECT_EQ(pixel[3], 255) << "pixel " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ShapesStridesTables, LutBlurLine,
    ::testing::Combine(::testing::Range(0, int(lineShapes().size())),
                       ::testing::Range(0, int(sizeof kStrides / sizeof kStrides[0])),
                       ::testing::Range(0, 2)),
    [](const ::testing::TestParamInfo<std::tuple<int, int, int>>& info) {
        return blurtest::shapeName(std::get<0>(info.param)) +
               kStrides[std::get<1>(info.param)].name + kRoundings[std::get<2>(info.param)].name;
    });

using LutBlur = doftest::HostAllocTest;

// Radius 0: one interior output per pixel, (S + 32767) >> 16 of its own
// entry. Entries set by hand: 98304 is 1.5 in 16.16 and gives 1 (the half
// goes down), 98305 gives 2, and the identity row copies the byte.
TEST_F(LutBlur, InteriorRoundsHalvesDown) {
    auto kernel = gaussianWith({1.0});
    ASSERT_TRUE(kernel);
    std::vector<QVULong> lut(256);
    for (int v = 0; v < 256; ++v) lut[std::size_t(v)] = QVULong(v) * 65536u;
    lut[10] = 98304;
    lut[11] = 98305;
    lut[12] = 0xFFFFFFFFu;  // (S + 32767) wraps in 32 bits to 32766 >> 16 = 0
    const unsigned char src[8] = {255, 10, 11, 12, 9, 200, 0, 255};
    unsigned char out[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    std_LUT_blur(src, 4, 4, 2, out, kernel.get(), lut.data());
    const std::vector<unsigned char> expected = {255, 1, 2, 0, 255, 200, 0, 255};
    EXPECT_TRUE(sameBytes(std::vector<unsigned char>(out, out + 8), expected));
}

// One pixel under a radius-1 kernel {0, 1, 0}: its window is cut at both ends,
// W = 1 and the byte is round_to_int(S / 65536). 1.5 and 2.5 both give 2.
TEST_F(LutBlur, CutWindowRoundsHalvesToEven) {
    auto kernel = gaussianWith({0.0, 1.0, 0.0});
    ASSERT_TRUE(kernel);
    std::vector<QVULong> lut(3 * 256, 0);
    lut[256 + 1] = 98304;   // 1.5
    lut[256 + 2] = 163840;  // 2.5
    lut[256 + 3] = 229376;  // 3.5
    const unsigned char src[4] = {7, 1, 2, 3};
    unsigned char out[4] = {0, 0, 0, 0};
    std_LUT_blur(src, 4, 4, 1, out, kernel.get(), lut.data());
    const std::vector<unsigned char> expected = {7, 2, 2, 4};
    EXPECT_TRUE(sameBytes(std::vector<unsigned char>(out, out + 4), expected));
}

// Taps of 0.11, W = 0.22, and entries of 90112 so that each cut window sums to
// S = 180224: S x (2^-16 / W) is 12.500000000000002 (13), where S / W / 65536
// and S / (W x 65536) give 12.5 (12).
TEST_F(LutBlur, CutWindowScalesByOneFactor) {
    auto kernel = gaussianWith({0.11, 0.11, 0.11});
    ASSERT_TRUE(kernel);
    std::vector<QVULong> lut(3 * 256, 0);
    lut[1] = lut[256 + 1] = lut[512 + 1] = 90112;
    const unsigned char src[8] = {255, 1, 0, 0, 3, 1, 0, 0};
    unsigned char out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    std_LUT_blur(src, 4, 4, 2, out, kernel.get(), lut.data());
    const std::vector<unsigned char> expected = {255, 13, 0, 0, 255, 13, 0, 0};
    EXPECT_TRUE(sameBytes(std::vector<unsigned char>(out, out + 8), expected));
}

TEST_F(LutBlur, KernelWithoutTableLeavesOutput) {
    qvlib::failAllocationAt(1);
    GaussianKernel empty(2.0, 0.01);
    ASSERT_EQ(empty.weights, nullptr);
    const std::vector<QVULong> lut(256, 0);
    const unsigned char src[12] = {255, 1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9};
    SentinelLine line(3, 4, 4);
    const std::vector<unsigned char> untouched = line.bytes;
    std_LUT_blur(src, 4, 4, 3, line.origin(), &empty, lut.data());
    EXPECT_TRUE(sameBytes(line.bytes, untouched));
}

}  // namespace
