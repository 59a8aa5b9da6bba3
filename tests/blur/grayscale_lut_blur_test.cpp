#include <tuple>
#include <vector>

#include "blur/line_blur.h"
#include "blur/line_fixture.h"
#include "qvlib_testing.h"
#include "support/blur_reference.h"

namespace {

using blurref::TableRounding;
using blurtest::lineShapes;
using blurtest::sameBytes;
using blurtest::SentinelLine;
using blurtest::TestValues;

// The routine takes its strides as 32-bit unsigned values; a step back is the
// value that wraps to it.
unsigned int asHostStride(int stride) { return static_cast<unsigned int>(stride); }

struct StridePair {
    const char* name;
    int srcStride;
    int outStride;
};

const StridePair kStrides[] = {
    {"Packed", 1, 1},
    {"ColumnToGappedRow", 5, 2},
    {"ReversedSource", -1, 1},
    {"ReversedGappedOutput", 3, -2},
};

struct RoundingCase {
    const char* name;
    TableRounding rounding;
};

const RoundingCase kRoundings[] = {{"RoundedTable", TableRounding::Nearest},
                                   {"TruncatedTable", TableRounding::Truncate}};

class GrayscaleLutBlurLine : public doftest::HostAllocTest,
                             public ::testing::WithParamInterface<std::tuple<int, int, int>> {
protected:
    const blurtest::LineShape& shape() const { return lineShapes()[std::get<0>(GetParam())]; }
    const StridePair& strides() const { return kStrides[std::get<1>(GetParam())]; }
    TableRounding rounding() const { return kRoundings[std::get<2>(GetParam())].rounding; }
};

// Every byte of both buffers; a separate output allocates nothing.
TEST_P(GrayscaleLutBlurLine, MatchesReference) {
    const int n = shape().n;
    if (n < 0) return;  // the length is unsigned
    TestValues values(9000 + n * 23 + shape().R * 5 + std::get<1>(GetParam()));
    const std::vector<double> weights = blurtest::lopsidedWeights(shape().R, values);
    const std::vector<QVULong> lut = blurref::productTable(weights, rounding());
    SentinelLine src(n, strides().srcStride, 1);
    for (int j = 0; j < n; ++j)
        src.origin()[std::ptrdiff_t(j) * strides().srcStride] =
            (unsigned char)values.between(0, 255);
    const std::vector<unsigned char> sourceBefore = src.bytes;
    SentinelLine actual(n, strides().outStride, 1), expected(n, strides().outStride, 1);
    blurref::grayscaleLutBlur(src.origin(), expected.origin(), strides().srcStride,
                              strides().outStride, n, weights, lut);
    const std::uint64_t before = qvlib::allocStats().totalAllocations;
    grayscale_LUT_blur(src.origin(), actual.origin(), asHostStride(strides().srcStride),
                       asHostStride(strides().outStride), unsigned(n), unsigned(shape().R),
                       weights.data(), lut.data());
    EXPECT_EQ(qvlib::allocStats().totalAllocations, before) << "a separate output needs no copy";
    EXPECT_TRUE(sameBytes(actual.bytes, expected.bytes));
    EXPECT_TRUE(sameBytes(src.bytes, sourceBefore)) << "the source is only read";
}

// A constant line stays constant in all three runs.
TEST_P(GrayscaleLutBlurLine, ConstantLineStaysConstant) {
    const int n = shape().n;
    if (n <= 0) return;
    TestValues values(9500 + n);
    const std::vector<double> weights = blurtest::lopsidedWeights(shape().R, values);
    const std::vector<QVULong> lut = blurref::productTable(weights, rounding());
    for (unsigned char v : {0, 1, 128, 254, 255}) {
        SentinelLine src(n, strides().srcStride, 1), out(n, strides().outStride, 1);
        for (int j = 0; j < n; ++j) src.origin()[std::ptrdiff_t(j) * strides().srcStride] = v;
        grayscale_LUT_blur(src.origin(), out.origin(), asHostStride(strides().srcStride),
                           asHostStride(strides().outStride), unsigned(n), unsigned(shape().R),
                           weights.data(), lut.data());
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(out.origin()[std::ptrdiff_t(i) * strides().outStride], v)
                << "value " << int(v) << " output " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ShapesStridesTables, GrayscaleLutBlurLine,
    ::testing::Combine(::testing::Range(0, int(lineShapes().size())),
                       ::testing::Range(0, int(sizeof kStrides / sizeof kStrides[0])),
                       ::testing::Range(0, 2)),
    [](const ::testing::TestParamInfo<std::tuple<int, int, int>>& info) {
        return blurtest::shapeName(std::get<0>(info.param)) +
               kStrides[std::get<1>(info.param)].name + kRoundings[std::get<2>(info.param)].name;
    });

using GrayscaleLutBlur = doftest::HostAllocTest;

// src equal to out, along any strides: the same bytes as a separate output,
// through one working copy that is given back.
TEST_F(GrayscaleLutBlur, InPlaceEqualsSeparateOutput) {
    struct Case {
        const char* why;
        int n, R, srcStride, outStride;
    };
    const Case cases[] = {
        {"same bytes, packed", 30, 3, 1, 1},
        {"same bytes, reversed", 24, 5, -3, -3},
        {"column read, row written over it", 25, 2, 4, 1},
        {"short line, window past both ends", 4, 6, 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        TestValues values(9900 + c.n + c.R);
        const std::vector<double> weights = blurtest::lopsidedWeights(c.R, values);
        const std::vector<QVULong> lut = blurref::productTable(weights, TableRounding::Nearest);
        const int reach = std::abs(c.srcStride) > std::abs(c.outStride) ? c.srcStride : c.outStride;
        SentinelLine line(c.n, reach, 1);
        for (std::size_t b = 0; b < line.bytes.size(); ++b)
            line.bytes[b] = (unsigned char)values.between(0, 255);
        const std::vector<unsigned char> original = line.bytes;

        SentinelLine separate(c.n, c.outStride, 1);
        grayscale_LUT_blur(line.origin(), separate.origin(), asHostStride(c.srcStride),
                           asHostStride(c.outStride), unsigned(c.n), unsigned(c.R), weights.data(),
                           lut.data());

        std::vector<unsigned char> expected = original;
        const std::ptrdiff_t origin = line.origin() - line.bytes.data();
        blurref::grayscaleLutBlur(original.data() + origin, expected.data() + origin, c.srcStride,
                                  c.outStride, c.n, weights, lut);

        const qvlib::AllocStats before = qvlib::allocStats();
        grayscale_LUT_blur(line.origin(), line.origin(), asHostStride(c.srcStride),
                           asHostStride(c.outStride), unsigned(c.n), unsigned(c.R), weights.data(),
                           lut.data());
        const qvlib::AllocStats after = qvlib::allocStats();
        EXPECT_EQ(after.totalAllocations - before.totalAllocations, 1u);
        EXPECT_EQ(after.totalFrees - before.totalFrees, 1u);
        EXPECT_TRUE(sameBytes(line.bytes, expected));
        for (int i = 0; i < c.n; ++i)
            EXPECT_EQ(line.origin()[std::ptrdiff_t(i) * c.outStride],
                      separate.origin()[std::ptrdiff_t(i) * c.outStride])
                << "output " << i;
    }
}

// Radius 0 with weights {1} and the identity row copies every sample; entries
// set by hand show the interior rounding: 98304 (1.5) gives 1, 98305 gives 2.
TEST_F(GrayscaleLutBlur, InteriorRoundsHalvesDown) {
    const double weights[1] = {1.0};
    std::vector<QVULong> lut(256);
    for (int v = 0; v < 256; ++v) lut[std::size_t(v)] = QVULong(v) * 65536u;
    lut[3] = 98304;
    lut[4] = 98305;
    const unsigned char src[6] = {0, 3, 4, 100, 254, 255};
    unsigned char out[6] = {9, 9, 9, 9, 9, 9};
    grayscale_LUT_blur(src, out, 1, 1, 6, 0, weights, lut.data());
    const std::vector<unsigned char> expected = {0, 1, 2, 100, 254, 255};
    EXPECT_TRUE(sameBytes(std::vector<unsigned char>(out, out + 6), expected));
}

// One sample under weights {0, 1, 0}: W = 1, the byte is round_to_int of the
// entry / 65536, halves to even: 1.5 and 2.5 both give 2, 255.5 wraps to 0.
TEST_F(GrayscaleLutBlur, CutWindowRoundsHalvesToEven) {
    const double weights[3] = {0.0, 1.0, 0.0};
    std::vector<QVULong> lut(3 * 256, 0);
    lut[256 + 1] = 98304;
    lut[256 + 2] = 163840;
    lut[256 + 3] = 16744448;  // 255.5
    const struct {
        unsigned char sample;
        unsigned char expected;
    } cases[] = {{1, 2}, {2, 2}, {3, 0}};
    for (const auto& c : cases) {
        unsigned char out = 9;
        grayscale_LUT_blur(&c.sample, &out, 1, 1, 1, 1, weights, lut.data());
        EXPECT_EQ(out, c.expected) << "sample " << int(c.sample);
    }
}

// Taps of 0.11, W = 0.22, and entries of 90112 so that each cut window sums to
// S = 180224: S x (2^-16 / W) is 12.500000000000002 (13), where S / W / 65536
// and S / (W x 65536) give 12.5 (12).
TEST_F(GrayscaleLutBlur, CutWindowScalesByOneFactor) {
    const double weights[3] = {0.11, 0.11, 0.11};
    std::vector<QVULong> lut(3 * 256, 0);
    lut[1] = lut[256 + 1] = lut[512 + 1] = 90112;
    const unsigned char src[2] = {1, 1};
    unsigned char out[2] = {9, 9};
    grayscale_LUT_blur(src, out, 1, 1, 2, 1, weights, lut.data());
    EXPECT_EQ(out[0], 13);
    EXPECT_EQ(out[1], 13);
}

TEST_F(GrayscaleLutBlur, EmptyLineWritesAndAllocatesNothing) {
    const double weights[1] = {1.0};
    const std::vector<QVULong> lut(256, 0);
    unsigned char byte = 9;
    const std::uint64_t before = qvlib::allocStats().totalAllocations;
    grayscale_LUT_blur(&byte, &byte, 1, 1, 0, 0, weights, lut.data());
    EXPECT_EQ(byte, 9);
    EXPECT_EQ(qvlib::allocStats().totalAllocations, before);
}

// Without its working copy an in-place call leaves the line as it was.
TEST_F(GrayscaleLutBlur, WorkingCopyFailureLeavesLine) {
    const double weights[3] = {0.25, 0.5, 0.25};
    const std::vector<QVULong> lut =
        blurref::productTable({0.25, 0.5, 0.25}, TableRounding::Nearest);
    SentinelLine line(8, 1, 1);
    const std::vector<unsigned char> untouched = line.bytes;
    qvlib::failAllocationAt(1);
    grayscale_LUT_blur(line.origin(), line.origin(), 1, 1, 8, 1, weights, lut.data());
    EXPECT_TRUE(sameBytes(line.bytes, untouched));
}

TEST_F(GrayscaleLutBlur, MissingWeightsLeaveOutput) {
    const std::vector<QVULong> lut(3 * 256, 65536);
    const unsigned char src[4] = {1, 2, 3, 4};
    SentinelLine out(4, 1, 1);
    const std::vector<unsigned char> untouched = out.bytes;
    grayscale_LUT_blur(src, out.origin(), 1, 1, 4, 1, nullptr, lut.data());
    EXPECT_TRUE(sameBytes(out.bytes, untouched));
}

}  // namespace
