#include <climits>
#include <tuple>
#include <vector>

#include "blur/line_blur.h"
#include "blur/line_fixture.h"
#include "qvlib_testing.h"
#include "support/blur_reference.h"

namespace {

using blurtest::lineShapes;
using blurtest::sameBytes;
using blurtest::SentinelLine;
using blurtest::TestValues;

struct StrideCase {
    const char* name;
    QVLong stride;
};

const StrideCase kPixelStrides[] = {
    {"Packed", 4},
    {"Gapped", 6},
    {"Reversed", -4},
    {"ReversedGapped", -13},
};

struct IntPlanes {
    std::vector<QVLong> alpha, c1, c2, c3;
};

// Colour 0 to 255 times each sample's alpha.
IntPlanes premultiplied(std::vector<QVLong> const& alpha, TestValues& values) {
    IntPlanes planes;
    planes.alpha = alpha;
    for (QVLong a : alpha) {
        planes.c1.push_back(values.between(0, 255) * a);
        planes.c2.push_back(values.between(0, 255) * a);
        planes.c3.push_back(values.between(0, 255) * a);
    }
    return planes;
}

class BoxBlurLine : public doftest::HostAllocTest,
                    public ::testing::WithParamInterface<std::tuple<int, int>> {
protected:
    const blurtest::LineShape& shape() const { return lineShapes()[std::get<0>(GetParam())]; }
    QVLong stride() const { return kPixelStrides[std::get<1>(GetParam())].stride; }

    void expectReference(IntPlanes const& p, bool weighted) {
        const int n = shape().n;
        SentinelLine actual(n, stride(), 4), expected(n, stride(), 4);
        blurref::boxBlur(p.alpha, p.c1, p.c2, p.c3, n, expected.origin(), stride(), shape().R,
                         weighted);
        const std::uint64_t before = qvlib::allocStats().totalAllocations;
        boxBlur(p.alpha.data(), p.c1.data(), p.c2.data(), p.c3.data(), n, actual.origin(), stride(),
                shape().R, weighted ? 7 : 0);
        EXPECT_EQ(qvlib::allocStats().totalAllocations, before) << "boxBlur allocates nothing";
        EXPECT_TRUE(sameBytes(actual.bytes, expected.bytes));
    }
};

TEST_P(BoxBlurLine, SingleAlphaMatchesReference) {
    const int n = shape().n;
    const std::size_t count = std::size_t(n > 0 ? n : 0);
    TestValues values(3000 + n * 17 + shape().R);
    const struct {
        const char* why;
        QVLong alpha;
    } cases[] = {
        {"opaque line", 255},
        {"part transparent line", 61},
        {"transparent line keeps its colour bytes", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        IntPlanes p = premultiplied(std::vector<QVLong>(count, c.alpha), values);
        if (count == 0) p.alpha.assign(1, c.alpha);  // the single value is always there
        expectReference(p, false);
    }
}

TEST_P(BoxBlurLine, AlphaPlaneMatchesReference) {
    const int n = shape().n;
    const std::size_t count = std::size_t(n > 0 ? n : 0);
    TestValues values(4000 + n * 17 + shape().R);
    std::vector<QVLong> sparse, uneven;
    for (std::size_t j = 0; j < count; ++j) {
        sparse.push_back(values.between(0, 9) < 7 ? 0 : values.between(1, 255));
        uneven.push_back(values.between(0, 255));
    }
    const struct {
        const char* why;
        std::vector<QVLong> alpha;
    } cases[] = {
        {"opaque line", std::vector<QVLong>(count, 255)},
        {"alpha varies", uneven},
        {"windows without alpha keep their colour bytes", sparse},
        {"transparent line writes only alpha", std::vector<QVLong>(count, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        expectReference(premultiplied(c.alpha, values), true);
    }
}

INSTANTIATE_TEST_SUITE_P(ShapesAndStrides, BoxBlurLine,
                         ::testing::Combine(::testing::Range(0, int(lineShapes().size())),
                                            ::testing::Range(0, int(sizeof kPixelStrides /
                                                                    sizeof kPixelStrides[0]))),
                         [](const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
                             return blurtest::shapeName(std::get<0>(info.param)) +
                                    kPixelStrides[std::get<1>(info.param)].name;
                         });

using BoxBlur = doftest::HostAllocTest;

// Worked by hand: one pixel of four bytes per case, written at stride 4.
TEST_F(BoxBlur, QuotientsTruncate) {
    struct Case {
        const char* why;
        std::vector<QVLong> alpha, c1, c2, c3;
        QVLong R, weighted;
        std::vector<unsigned char> expected;  // bytes of every pixel in turn
    };
    const Case cases[] = {
        // 5355 / 510 = 10.5 at both pixels: stored as 10.
        {"mean 10.5 stored as 10, single alpha",
         {255},
         {2550, 2805},
         {0, 255},
         {255, 510},
         1,
         0,
         {255, 10, 0, 1, 255, 10, 0, 1}},
        {"mean 10.5 stored as 10, alpha plane",
         {255, 255},
         {2550, 2805},
         {0, 255},
         {255, 510},
         1,
         1,
         {255, 10, 0, 1, 255, 10, 0, 1}},
        // Alpha mean (255 + 0) / 2 = 127.5 stored as 127; colour 2550 / 255.
        {"alpha mean truncates",
         {255, 0},
         {2550, 0},
         {0, 0},
         {65025, 0},
         1,
         1,
         {127, 10, 0, 255, 127, 10, 0, 255}},
        // R = 0 gives every sample back.
        {"radius 0 reproduces the samples",
         {3, 200},
         {30, 200 * 7},
         {3, 0},
         {0, 200 * 255},
         0,
         1,
         {3, 10, 1, 0, 200, 7, 0, 255}},
        // -7 / 2 truncates toward zero to -3, whose low byte is 253.
        {"negative quotient truncates toward zero", {2}, {-7}, {7}, {0}, 0, 0, {2, 253, 3, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const QVLong n = QVLong(c.c1.size());
        std::vector<unsigned char> out(std::size_t(n) * 4, 77);
        boxBlur(c.alpha.data(), c.c1.data(), c.c2.data(), c.c3.data(), n, out.data(), 4, c.R,
                c.weighted);
        EXPECT_TRUE(sameBytes(out, c.expected));
    }
}

// Values outside the contract must not stop the program: a divisor that wraps
// to 0 leaves the colour bytes, and -2^31 / -1 stores the low byte of 2^31.
TEST_F(BoxBlur, DivisorsOutsideTheContractDoNotTrap) {
    {
        SCOPED_TRACE("D = 4 x 2^30 wraps to 0");
        const std::vector<QVLong> alpha = {QVLong(1) << 30};
        const std::vector<QVLong> plane = {1, 2, 3, 4};
        std::vector<unsigned char> out(16, 77);
        boxBlur(alpha.data(), plane.data(), plane.data(), plane.data(), 4, out.data(), 4, 3, 0);
        const std::vector<unsigned char> expected = {0, 77, 77, 77, 0, 77, 77, 77,
                                                     0, 77, 77, 77, 0, 77, 77, 77};
        EXPECT_TRUE(sameBytes(out, expected));
    }
    {
        SCOPED_TRACE("alpha -1: quotients of -2^31, 5 and 0");
        const std::vector<QVLong> alpha = {-1};
        const std::vector<QVLong> c1 = {INT_MIN}, c2 = {5}, c3 = {0};
        std::vector<unsigned char> out(4, 77);
        boxBlur(alpha.data(), c1.data(), c2.data(), c3.data(), 1, out.data(), 4, 0, 0);
        EXPECT_TRUE(sameBytes(out, {255, 0, 251, 0}));
    }
}

TEST_F(BoxBlur, NegativeRadiusWritesNothing) {
    const std::vector<QVLong> plane = {255, 255, 255};
    for (QVLong weighted : {0, 1}) {
        SentinelLine line(3, 4, 4);
        const std::vector<unsigned char> untouched = line.bytes;
        boxBlur(plane.data(), plane.data(), plane.data(), plane.data(), 3, line.origin(), 4, -1,
                weighted);
        EXPECT_TRUE(sameBytes(line.bytes, untouched)) << "weighted " << weighted;
    }
}

}  // namespace
