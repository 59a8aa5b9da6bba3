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

struct StridePair {
    const char* name;
    int srcStride;
    int outStride;
};

const StridePair kStrides[] = {
    {"Packed", 1, 1},
    {"ColumnToGappedRow", 3, 2},
    {"ReversedSource", -1, 1},
    {"ReversedGappedOutput", 2, -3},
};

// The two routines share arguments; the tests run both through one table.
using GrayscaleRoutine = void (*)(unsigned char const*, unsigned char*, int, int, int,
                                  Kernel const*);
using GrayscaleReference = void (*)(unsigned char const*, unsigned char*, std::ptrdiff_t,
                                    std::ptrdiff_t, int, std::vector<double> const&);

struct Routine {
    const char* name;
    GrayscaleRoutine routine;
    GrayscaleReference reference;
    double weightScale;  // the mean wants weights summing to 1; the maximum any
};

const Routine kRoutines[] = {
    {"Mean", grayscale_blur, blurref::grayscaleBlur, 1.0},
    {"Max", grayscale_max_blur, blurref::grayscaleMaxBlur, 4.0},
};

SentinelLine randomLine(int n, int stride, TestValues& values) {
    SentinelLine line(n, stride, 1);
    for (int j = 0; j < n; ++j)
        line.origin()[std::ptrdiff_t(j) * stride] = (unsigned char)values.between(0, 255);
    return line;
}

class GrayscaleBlurLine : public doftest::HostAllocTest,
                          public ::testing::WithParamInterface<std::tuple<int, int, int>> {
protected:
    const blurtest::LineShape& shape() const { return lineShapes()[std::get<0>(GetParam())]; }
    const StridePair& strides() const { return kStrides[std::get<1>(GetParam())]; }
    const Routine& routine() const { return kRoutines[std::get<2>(GetParam())]; }

    std::vector<double> weights(TestValues& values) const {
        std::vector<double> w = blurtest::lopsidedWeights(shape().R, values);
        for (double& x : w) x *= routine().weightScale;
        return w;
    }
};

// Every byte of source and output buffers, and one scratch line taken and
// given back per call that has samples.
TEST_P(GrayscaleBlurLine, MatchesReference) {
    const int n = shape().n;
    TestValues values(7000 + n * 19 + shape().R * 3 + std::get<1>(GetParam()));
    const std::vector<double> w = weights(values);
    auto kernel = kernelWith(w);
    ASSERT_TRUE(kernel);
    SentinelLine src = randomLine(n, strides().srcStride, values);
    const std::vector<unsigned char> sourceBefore = src.bytes;
    SentinelLine actual(n, strides().outStride, 1), expected(n, strides().outStride, 1);
    routine().reference(src.origin(), expected.origin(), strides().srcStride, strides().outStride,
                        n, w);
    const qvlib::AllocStats before = qvlib::allocStats();
    routine().routine(src.origin(), actual.origin(), strides().srcStride, strides().outStride, n,
                      kernel.get());
    const qvlib::AllocStats after = qvlib::allocStats();
    const std::uint64_t calls = n > 0 ? 1 : 0;
    EXPECT_EQ(after.totalAllocations - before.totalAllocations, calls);
    EXPECT_EQ(after.totalFrees - before.totalFrees, calls);
    EXPECT_TRUE(sameBytes(actual.bytes, expected.bytes));
    EXPECT_TRUE(sameBytes(src.bytes, sourceBefore)) << "the source is only read";
}

INSTANTIATE_TEST_SUITE_P(
    ShapesStridesRoutines, GrayscaleBlurLine,
    ::testing::Combine(::testing::Range(0, int(lineShapes().size())),
                       ::testing::Range(0, int(sizeof kStrides / sizeof kStrides[0])),
                       ::testing::Range(0, 2)),
    [](const ::testing::TestParamInfo<std::tuple<int, int, int>>& info) {
        return blurtest::shapeName(std::get<0>(info.param)) +
               kStrides[std::get<1>(info.param)].name + kRoutines[std::get<2>(info.param)].name;
    });

using GrayscaleBlur = doftest::HostAllocTest;

// The output may be the source itself, read and written along the same or
// different strides: the result is what filtering into a separate buffer
// gives.
TEST_F(GrayscaleBlur, InPlaceEqualsSeparateOutput) {
    struct Case {
        const char* why;
        int n, R, srcStride, outStride;
    };
    const Case cases[] = {
        {"same bytes, packed", 30, 3, 1, 1},
        {"same bytes, reversed", 30, 4, -2, -2},
        {"column read, row written over it", 25, 2, 3, 1},
        {"short line, window past both ends", 3, 5, 1, 2},
        {"reversed, different strides", 20, 6, -1, -4},
    };
    for (const Routine& r : kRoutines) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(r.name) + ": " + c.why);
            TestValues values(8000 + c.n + c.R);
            std::vector<double> w = blurtest::lopsidedWeights(c.R, values);
            for (double& x : w) x *= r.weightScale;
            auto kernel = kernelWith(w);
            ASSERT_TRUE(kernel);
            // One buffer holds both lines: the wider stride of the same sign.
            const int reach =
                std::abs(c.srcStride) > std::abs(c.outStride) ? c.srcStride : c.outStride;
            SentinelLine line(c.n, reach, 1);
            for (std::size_t b = 0; b < line.bytes.size(); ++b)
                line.bytes[b] = (unsigned char)values.between(0, 255);
            const std::vector<unsigned char> original = line.bytes;

            SentinelLine separate(c.n, c.outStride, 1);
            r.routine(line.origin(), separate.origin(), c.srcStride, c.outStride, c.n,
                      kernel.get());

            std::vector<unsigned char> expected = original;
            const std::ptrdiff_t origin = line.origin() - line.bytes.data();
            r.reference(original.data() + origin, expected.data() + origin, c.srcStride,
                        c.outStride, c.n, w);

            r.routine(line.origin(), line.origin(), c.srcStride, c.outStride, c.n, kernel.get());
            EXPECT_TRUE(sameBytes(line.bytes, expected));
            for (int i = 0; i < c.n; ++i)
                EXPECT_EQ(line.origin()[std::ptrdiff_t(i) * c.outStride],
                          separate.origin()[std::ptrdiff_t(i) * c.outStride])
                    << "output " << i;
        }
    }
}

// Radius 0, one tap w: every output is w x sample, rounded by hand.
TEST_F(GrayscaleBlur, SingleTapRounding) {
    struct Case {
        const char* why;
        double weight;
        unsigned char sample;
        unsigned char mean;
        unsigned char max;
    };
    const Case cases[] = {
        {"2.5 is stored as 2", 0.5, 5, 2, 2},
        {"3.5 is stored as 4", 0.5, 7, 4, 4},
        {"256 is stored as 0", 2.0, 128, 0, 0},
        {"a tap of 1 copies the sample", 1.0, 201, 201, 201},
        {"a negative product: the mean wraps, the maximum stays at 0", -1.0, 3, 253, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        auto kernel = kernelWith({c.weight});
        ASSERT_TRUE(kernel);
        unsigned char out = 99;
        grayscale_blur(&c.sample, &out, 1, 1, 1, kernel.get());
        EXPECT_EQ(out, c.mean);
        out = 99;
        grayscale_max_blur(&c.sample, &out, 1, 1, 1, kernel.get());
        EXPECT_EQ(out, c.max);
    }
}

// A window cut at both ends divides by the taps that remain: one sample comes
// back unchanged through any radius.
TEST_F(GrayscaleBlur, OneSampleComesBack) {
    auto kernel = kernelWith({0.05, 0.1, 0.3, 0.2, 0.35});
    ASSERT_TRUE(kernel);
    for (unsigned char sample : {0, 1, 77, 200, 254, 255}) {
        unsigned char out = 99;
        grayscale_blur(&sample, &out, 1, 1, 1, kernel.get());
        EXPECT_EQ(out, sample);
    }
}

// Lines picked so that another order of the same operations rounds the other
// way, worked step by step with a calculator. Taps of 0.01 over 10, 11 (and
// 11, 12): S x (1 / W) gives 10.500000000000002 (11) and 11.5 (12) where S / W
// gives 10.5 and 11.499999999999998. Taps 0.54, 1 - 0.54 - 0.39, 0.39 over
// 138, 14, 100: the interior sum from the left is 114.50000000000001 (115),
// from the right 114.5; the cut ends are 15.12 / 0.46 and 14.56 / 0.61.
TEST_F(GrayscaleBlur, MeanOperationsInTheirOrder) {
    struct Case {
        const char* why;
        std::vector<double> weights;
        std::vector<unsigned char> src, expected;
    };
    const Case cases[] = {
        {"cut windows multiply by 1 / W", {0.01, 0.01, 0.01}, {10, 11}, {11, 11}},
        {"cut windows multiply by 1 / W, rounding down", {0.01, 0.01, 0.01}, {11, 12}, {12, 12}},
        {"sums run left to right", {0.54, 1.0 - 0.54 - 0.39, 0.39}, {138, 14, 100}, {33, 115, 24}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        auto kernel = kernelWith(c.weights);
        ASSERT_TRUE(kernel);
        std::vector<unsigned char> out(c.src.size(), 99);
        grayscale_blur(c.src.data(), out.data(), 1, 1, int(c.src.size()), kernel.get());
        EXPECT_TRUE(sameBytes(out, c.expected));
    }
}

// One 255 among zeros, taps 0.125, 0.5, 1, 0.25, 0.75 (not symmetric): the
// output d places after it gets 255 x weights[R - d]: 191.25, 63.75, 255,
// 127.5 and 31.875, rounded to 191, 64, 255, 128 and 32.
TEST_F(GrayscaleBlur, MaxSpreadsABrightSampleByItsTaps) {
    auto kernel = kernelWith({0.125, 0.5, 1.0, 0.25, 0.75});
    ASSERT_TRUE(kernel);
    const unsigned char src[7] = {0, 0, 0, 255, 0, 0, 0};
    unsigned char out[7] = {9, 9, 9, 9, 9, 9, 9};
    grayscale_max_blur(src, out, 1, 1, 7, kernel.get());
    const std::vector<unsigned char> expected = {0, 191, 64, 255, 128, 32, 0};
    EXPECT_TRUE(sameBytes(std::vector<unsigned char>(out, out + 7), expected));
}

// Without its scratch line a routine cannot read the source first: it leaves
// the output as it was and keeps nothing.
TEST_F(GrayscaleBlur, ScratchFailureLeavesOutput) {
    auto kernel = kernelWith({0.25, 0.5, 0.25});
    ASSERT_TRUE(kernel);
    const unsigned char src[6] = {10, 20, 30, 40, 50, 60};
    for (const Routine& r : kRoutines) {
        SCOPED_TRACE(r.name);
        SentinelLine out(6, 1, 1);
        const std::vector<unsigned char> untouched = out.bytes;
        const std::uint64_t liveBefore = doftest::liveBlocks();
        qvlib::failAllocationAt(1);
        r.routine(src, out.origin(), 1, 1, 6, kernel.get());
        qvlib::failAllocationAt(0);
        EXPECT_TRUE(sameBytes(out.bytes, untouched));
        EXPECT_EQ(doftest::liveBlocks(), liveBefore);
    }
}

// 2^29 samples need 2^32 bytes of scratch, one more than a 32-bit size can
// count: the line is refused like a failed allocation, without asking the
// allocator for a wrapped size.
TEST_F(GrayscaleBlur, LineTooLongForScratchLeavesOutput) {
    auto kernel = kernelWith({1.0});
    ASSERT_TRUE(kernel);
    const unsigned char src = 42;
    for (const Routine& r : kRoutines) {
        SCOPED_TRACE(r.name);
        unsigned char out = 99;
        const std::uint64_t before = qvlib::allocStats().totalAllocations;
        r.routine(&src, &out, 0, 0, 0x20000000, kernel.get());
        EXPECT_EQ(qvlib::allocStats().totalAllocations, before);
        EXPECT_EQ(out, 99);
    }
}

TEST_F(GrayscaleBlur, KernelWithoutTableLeavesOutput) {
    qvlib::failAllocationAt(1);
    HatKernel empty(1.0);
    ASSERT_EQ(empty.weights, nullptr);
    const unsigned char src[4] = {1, 2, 3, 4};
    for (const Routine& r : kRoutines) {
        SCOPED_TRACE(r.name);
        SentinelLine out(4, 1, 1);
        const std::vector<unsigned char> untouched = out.bytes;
        const std::uint64_t before = qvlib::allocStats().totalAllocations;
        r.routine(src, out.origin(), 1, 1, 4, &empty);
        EXPECT_TRUE(sameBytes(out.bytes, untouched));
        EXPECT_EQ(qvlib::allocStats().totalAllocations, before);
    }
}

}  // namespace
