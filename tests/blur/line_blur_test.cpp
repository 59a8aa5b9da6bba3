// The seven exported line blurs against the literal reference of
// tests/support/blur_reference, over every arrangement of the three runs and
// over strides of either sign; then the rounding of each routine worked out
// by hand, and the calls that must leave their output as it was.
#include "blur/line_blur.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kernels/Kernel.h"
#include "qvlib_testing.h"
#include "support/blur_reference.h"
#include "support/effect_fixture.h"
#include "support/random.h"
#include "support/same_bytes.h"

namespace {

using Bytes = std::vector<unsigned char>;
using dof::test::Random;
using dof::test::sameBytes;
namespace reference = dof::test::reference;

// n elements of `size` bytes, element i at origin() + i x stride, inside a
// buffer whose every other byte holds a known pattern: comparing the whole
// buffer shows a stray write anywhere.
struct SentinelLine {
    SentinelLine(int n, std::ptrdiff_t stride, std::size_t size) {
        const std::size_t step = std::size_t(stride < 0 ? -stride : stride);
        const std::size_t before = n > 1 ? std::size_t(n - 1) * step : 0;
        bytes.resize(before + size + 2 * kPad);
        for (std::size_t b = 0; b < bytes.size(); ++b) bytes[b] = (unsigned char)(b * 37 + 11);
        offset = kPad + (stride < 0 ? before : 0);
    }
    unsigned char* origin() { return bytes.data() + offset; }

    static constexpr std::size_t kPad = 24;
    Bytes bytes;
    std::size_t offset;
};

// Everything one call takes. The planes hold premultiplied colour on the byte
// scale for the routines that read planes, and plain byte values for those
// that read a line of bytes built from them (alpha, c1, c2, c3 per pixel, or
// c1 alone for a single channel). Faults replace the kernel, weights, table
// and radius arguments.
struct LineCall {
    int n = 0;
    int size = 4;                                 // bytes per element, in and out
    std::ptrdiff_t srcStride = 1, outStride = 1;  // in elements
    std::vector<double> weights;                  // 2R + 1 taps, centre at R
    std::vector<double> alpha = {0}, c1, c2, c3;  // alpha[0] is the line's alpha
    std::vector<QVULong> lut;
    std::unique_ptr<GaussianKernel> kernel;
    GaussianKernel* kernelArg = nullptr;
    const double* weightsArg = nullptr;
    const QVULong* lutArg = nullptr;
    long radiusArg = 0;
};

// A kernel with exactly these taps: sigma R + 1/2 with a cutoff of exp(-1/2)
// reaches R taps, which are then overwritten.
void prepare(LineCall& c, reference::TableRounding rounding) {
    const int R = int(c.weights.size() / 2);
    c.kernel.reset(new GaussianKernel(R + 0.5, std::exp(-0.5)));
    ASSERT_TRUE(c.kernel && c.kernel->radius == R);
    for (int k = 0; k <= 2 * R; ++k) c.kernel->weights[k] = c.weights[std::size_t(k)];
    c.lut = reference::productTable(c.weights, rounding);
    c.kernelArg = c.kernel.get(), c.weightsArg = c.weights.data(), c.lutArg = c.lut.data();
    c.radiusArg = R;
}

// The source line of the routines that read bytes, one element per sample of
// the planes.
void writeSource(const LineCall& c, unsigned char* origin) {
    for (std::size_t j = 0; j < c.c1.size(); ++j) {
        unsigned char* p = origin + std::ptrdiff_t(j) * c.srcStride * c.size;
        if (c.size == 1) {
            p[0] = (unsigned char)c.c1[j];
            continue;
        }
        p[0] = (unsigned char)c.alpha[j], p[1] = (unsigned char)c.c1[j];
        p[2] = (unsigned char)c.c2[j], p[3] = (unsigned char)c.c3[j];
    }
}

enum RoutineIndex { kStd, kAw, kBoxLine, kBoxPlane, kStdLut, kGrey, kGreyMax, kGreyLut };

// One call of a routine, or of its reference when `slow`, with the same
// arguments.
void call(int routine, bool slow, LineCall& c, unsigned char* src, unsigned char* out) {
    const int s = int(c.srcStride * c.size), o = int(c.outStride * c.size);
    const std::vector<QVLong> a(c.alpha.begin(), c.alpha.end()), r(c.c1.begin(), c.c1.end()),
        g(c.c2.begin(), c.c2.end()), b(c.c3.begin(), c.c3.end());
    switch (routine) {
        case kStd:
            return (slow ? reference::std_blur : std_blur)(c.alpha.data(), c.c1.data(), c.c2.data(),
                                                           c.c3.data(), c.n, out, o, c.kernelArg);
        case kAw:
            return (slow ? reference::aw_blur : aw_blur)(c.alpha.data(), c.c1.data(), c.c2.data(),
                                                         c.c3.data(), c.n, out, o, c.kernelArg);
        case kBoxLine:
        case kBoxPlane:
            return (slow ? reference::boxBlur : boxBlur)(a.data(), r.data(), g.data(), b.data(),
                                                         c.n, out, o, c.radiusArg,
                                                         routine == kBoxPlane ? 7 : 0);
        case kStdLut:
            return (slow ? reference::std_LUT_blur : std_LUT_blur)(src, s, o, c.n, out, c.kernelArg,
                                                                   c.lutArg);
        case kGrey:
            return (slow ? reference::grayscale_blur : grayscale_blur)(src, out, s, o, c.n,
                                                                       c.kernelArg);
        case kGreyMax:
            return (slow ? reference::grayscale_max_blur : grayscale_max_blur)(src, out, s, o, c.n,
                                                                               c.kernelArg);
        default:  // unsigned strides: a step back is the value that wraps to it
            return (slow ? reference::grayscale_LUT_blur : grayscale_LUT_blur)(
                src, out, unsigned(s), unsigned(o), unsigned(c.n), unsigned(c.radiusArg),
                c.weightsArg, c.lutArg);
    }
}

struct Routine {
    const char* name;
    int size;            // 4 RGBA bytes or 1 grey byte per element
    bool readsBytes;     // a line of bytes, else the planes
    double weightScale;  // 1 where the routine wants taps summing to 1
    int scratch;         // host blocks per call with samples: 0, 1, or 2 = 1 when in place
};

// aw_blur divides by its own sums and the maximum is not normalised, so they
// take taps that do not sum to 1.
const Routine kRoutines[] = {
    {"StdBlur", 4, false, 1, 0},          {"AwBlur", 4, false, 3, 0},
    {"BoxBlurLineAlpha", 4, false, 1, 0}, {"BoxBlurAlphaPlane", 4, false, 1, 0},
    {"StdLutBlur", 4, true, 1, 0},        {"GrayscaleBlur", 1, true, 1, 1},
    {"GrayscaleMaxBlur", 1, true, 4, 1},  {"GrayscaleLutBlur", 1, true, 1, 2},
};

struct LineShape {
    const char* name;
    int n, R;
};

const LineShape kShapes[] = {
    {"NegativeLength", -3, 2},       // nothing read or written
    {"EmptyLine", 0, 2},             // nothing read or written
    {"OneSampleRadius0", 1, 0},      // a single interior output
    {"Radius0", 9, 0},               // every output interior
    {"OneSampleWideWindow", 1, 3},   // window cut at both ends
    {"RadiusAboveLength", 4, 6},     // all in the leading run
    {"RadiusEqualsLength", 5, 5},    // all in the leading run
    {"LengthTwiceRadius", 8, 4},     // leading and trailing runs meet
    {"LengthBetweenRAnd2R", 5, 3},   // the trailing run starts at R
    {"OneInteriorOutput", 7, 3},     // n = 2R + 1
    {"LongLine", 40, 3},             // mostly interior
    {"LongLineWideWindow", 61, 12},  // long ends and interior
};

// In elements. In place, the source and the output share one buffer.
struct StrideRow {
    const char* name;
    int src, out;
    bool inPlace;
};

const StrideRow kStrides[] = {
    {"Packed", 1, 1, false},
    {"Gapped", 3, 2, false},  // the bytes between elements stay as they were
    {"ReversedSource", -1, 3, false},
    {"ReversedOutput", 2, -1, false},
    {"ReversedBoth", -2, -3, false},
    {"InPlace", 1, 1, true},
    {"InPlaceReversed", -2, -2, true},
    {"InPlaceColumnOverRow", 3, 1, true},
    {"InPlaceRowOverColumn", 1, 2, true},
};

// How a random line is drawn.
enum Style { kOpaque, kUneven, kSparse, kClear, kPastFullScale, kStyleCount };
const char* const kStyleNames[] = {"opaque", "uneven alpha", "windows without alpha", "transparent",
                                   "colour past the alpha wraps"};

LineCall randomCall(const Routine& r, const LineShape& shape, const StrideRow& strides, Style style,
                    Random& random) {
    LineCall c;
    c.n = shape.n, c.size = r.size, c.srcStride = strides.src, c.outStride = strides.out;
    c.alpha.clear();
    // Taps with no symmetry, so that a window read backwards shows.
    double sum = 0;
    for (int k = 0; k <= 2 * shape.R; ++k) {
        c.weights.push_back(1 + random.below(65536));
        sum += c.weights.back();
    }
    for (double& w : c.weights) w = w / sum * r.weightScale;
    for (int j = 0; j < shape.n; ++j) {
        const bool none = style == kClear || (style == kSparse && random.chance(70));
        const double a = style == kOpaque ? 255 : none ? 0 : random.between(1, 255);
        const double premultiply = r.readsBytes ? 1 : a * (style == kPastFullScale ? 1.4 : 1);
        c.alpha.push_back(a);
        c.c1.push_back(random.between(0, 255) * premultiply);
        c.c2.push_back(random.between(0, 255) * premultiply);
        c.c3.push_back(random.between(0, 255) * premultiply);
    }
    if (c.alpha.empty()) c.alpha.push_back(255);  // the line's alpha is always there
    return c;
}

using LineBlur = dof::test::HostAllocTest;

// Every routine over every shape and arrangement of strides, five styles of
// line each: every byte of the buffers written and read, and the host blocks
// a call takes and gives back.
TEST_F(LineBlur, MatchesReference) {
    for (int routine = 0; routine < int(std::size(kRoutines)); ++routine) {
        const Routine& r = kRoutines[routine];
        for (int shapeIndex = 0; shapeIndex < int(std::size(kShapes)); ++shapeIndex) {
            const LineShape& shape = kShapes[shapeIndex];
            for (const StrideRow& strides : kStrides) {
                if (strides.inPlace && r.size != 1) continue;      // planes in, pixels out
                if (routine == kGreyLut && shape.n < 0) continue;  // its length is unsigned
                for (int style = 0; style < kStyleCount; ++style) {
                    SCOPED_TRACE(std::string(r.name) + shape.name + strides.name + ", " +
                                 kStyleNames[style]);
                    Random random(std::uint32_t(routine * 1000 + shapeIndex * 10 + style));
                    LineCall c = randomCall(r, shape, strides, Style(style), random);
                    prepare(c, style % 2 ? reference::TableRounding::Truncate
                                         : reference::TableRounding::Nearest);
                    const int reach =
                        strides.inPlace && std::abs(strides.out) > std::abs(strides.src)
                            ? strides.out
                            : strides.src;
                    SentinelLine src(c.n, reach * r.size, std::size_t(r.size));
                    if (r.readsBytes) writeSource(c, src.origin());
                    const Bytes sourceBefore = src.bytes;
                    SentinelLine actual =
                        strides.inPlace ? src : SentinelLine(c.n, strides.out * r.size, r.size);
                    SentinelLine expected = actual;

                    call(routine, true, c, src.origin(), expected.origin());
                    const dof::qvlib::AllocStats before = dof::qvlib::allocStats();
                    call(routine, false, c, strides.inPlace ? actual.origin() : src.origin(),
                         actual.origin());
                    const dof::qvlib::AllocStats after = dof::qvlib::allocStats();

                    EXPECT_TRUE(sameBytes(actual.bytes, expected.bytes));
                    if (!strides.inPlace) {
                        EXPECT_TRUE(sameBytes(src.bytes, sourceBefore))
                            << "the source is only read";
                    }
                    const bool scratch = r.scratch == 1 || (r.scratch == 2 && strides.inPlace);
                    const std::uint64_t blocks = scratch && c.n > 0 ? 1 : 0;
                    EXPECT_EQ(after.totalAllocations - before.totalAllocations, blocks);
                    EXPECT_EQ(after.totalFrees - before.totalFrees, blocks);
                }
            }
        }
    }
}

// One row per rounding rule of a routine, and lines picked so that another
// order of the same operations rounds the other way, worked step by step in
// double. The colour planes all hold `values`; the routines that read bytes
// read pixels (alpha, v, v, v) or samples v. The output starts as 119 (0x77).
struct RoundingRow {
    int routine;
    std::vector<double> weights, alpha, values;
    std::vector<std::pair<int, QVULong>> entries;  // product-table entries set by hand
    Bytes expected;
    const char* why;
};

const std::vector<double> kHundredths = {0.01, 0.01, 0.01};
const std::vector<double> kLopsided = {0.54, 1.0 - 0.54 - 0.39, 0.39};

// clang-format off
const RoundingRow kRounding[] = {
    {kStd, {1}, {2, 2, 2}, {5, 7, 511}, {}, {2, 2, 2, 2, 2, 4, 4, 4, 2, 0, 0, 0},
     "2.5, 3.5 and 255.5 go to the even 2, 4 and 256, stored as 0"},
    {kStd, {1}, {255.5}, {-255.5}, {}, {0, 255, 255, 255}, "alpha 255.5 stored as 0, colour -1 as 255"},
    // S x (1 / (W a)) = 0.87 x (1 / 0.06) = 14.500000000000002, where S / (W a) and
    // S / W / a give 14.5; with a = 7, 0.07 x (1 / 0.14) = 0.5, where
    // S x ((1 / W) / a) gives 0.5000000000000001.
    {kStd, kHundredths, {3, 3}, {43, 44}, {}, {3, 15, 15, 15, 3, 15, 15, 15}, "cut windows: one reciprocal of W x a"},
    {kStd, kHundredths, {7, 7}, {3, 4}, {}, {7, 0, 0, 0, 7, 0, 0, 0}, "the reciprocal of the product W x a"},
    // 147 x (1 / 98) = 1.4999999999999998, where 147 / 98 gives 1.5.
    {kStd, {1}, {98}, {147}, {}, {98, 1, 1, 1}, "the whole window multiplies by 1 / a"},
    // Interior from the left 114.50000000000001, from the right 114.5; the cut
    // ends 32.87 and 23.87.
    {kStd, kLopsided, {1, 1, 1}, {138, 14, 100}, {}, {1, 33, 33, 33, 1, 115, 115, 115, 1, 24, 24, 24},
     "sums run left to right"},
    // Sa / W = 0.21 / 0.02 = 10.5, where Sa x (1 / W) gives 10.500000000000002.
    {kAw, kHundredths, {1, 20}, {0, 0}, {}, {10, 0, 0, 0, 10, 0, 0, 0}, "alpha is a true division"},
    // 1.18 x (1 / 0.04) = 29.5, where 1.18 / 0.04 gives 29.499999999999996.
    {kAw, {0.01}, {4}, {118}, {}, {4, 30, 30, 30}, "colour multiplies by 1 / Sa"},
    {kAw, {1}, {2, 2}, {5, 7}, {}, {2, 2, 2, 2, 2, 4, 4, 4}, "2.5 and 3.5 go to the even 2 and 4"},
    {kBoxLine, kHundredths, {255, 255}, {2550, 2805}, {}, {255, 10, 10, 10, 255, 10, 10, 10},
     "5355 / 510 = 10.5 truncates to 10"},
    {kBoxPlane, kHundredths, {255, 0}, {2550, 0}, {}, {127, 10, 10, 10, 127, 10, 10, 10},
     "alpha mean 127.5 truncates to 127"},
    {kBoxLine, {1}, {2}, {-7}, {}, {2, 253, 253, 253}, "-7 / 2 truncates toward zero to -3"},
    {kBoxLine, {1}, {-1, -1}, {-2147483648.0, 5}, {}, {255, 0, 0, 0, 255, 251, 251, 251},
     "dividing by -1: -2^31 stores the low byte of 2^31, 5 that of -5"},
    {kBoxLine, {0, 0, 0, 0, 0, 0, 0}, {1 << 30, 0, 0, 0}, {1, 2, 3, 4}, {},
     {0, 119, 119, 119, 0, 119, 119, 119, 0, 119, 119, 119, 0, 119, 119, 119},
     "a divisor 4 x 2^30 wraps to 0: colour bytes left"},
    // 98304 is 1.5 in 16.16; (0xFFFFFFFF + 32767) wraps in 32 bits.
    {kStdLut, {1}, {255, 9, 9}, {10, 11, 12}, {{10, 98304}, {11, 98305}, {12, 0xFFFFFFFFu}},
     {255, 1, 1, 1, 255, 2, 2, 2, 255, 0, 0, 0}, "whole windows: an exact half goes down"},
    {kStdLut, {0, 1, 0}, {7, 7}, {1, 2}, {{257, 98304}, {258, 163840}},
     {7, 2, 2, 2, 7, 2, 2, 2}, "cut windows: 1.5 and 2.5 go to the even 2"},
    // S x (2^-16 / W) = 12.500000000000002, where S / W / 65536 gives 12.5.
    {kStdLut, {0.11, 0.11, 0.11}, {255, 3}, {1, 1}, {{1, 90112}, {257, 90112}, {513, 90112}},
     {255, 13, 13, 13, 255, 13, 13, 13}, "cut windows scale by one factor"},
    {kGrey, {0.5}, {}, {5, 7}, {}, {2, 4}, "2.5 and 3.5 go to the even 2 and 4"},
    {kGrey, {2}, {}, {128}, {}, {0}, "256 is stored as 0"},
    // S x (1 / W) = 10.500000000000002, where S / W gives 10.5.
    {kGrey, kHundredths, {}, {10, 11}, {}, {11, 11}, "cut windows multiply by 1 / W"},
    {kGrey, kLopsided, {}, {138, 14, 100}, {}, {33, 115, 24}, "sums run left to right"},
    {kGreyMax, {-1}, {}, {3}, {}, {0}, "a negative product stays at 0"},
    // 255 x the tap R - d for the output d places after it: 191.25, 63.75,
    // 255, 127.5, 31.875.
    {kGreyMax, {0.125, 0.5, 1, 0.25, 0.75}, {}, {0, 0, 0, 255, 0, 0, 0}, {}, {0, 191, 64, 255, 128, 32, 0},
     "a bright sample spreads by its taps"},
    {kGreyLut, {1}, {}, {0, 3, 4, 255}, {{3, 98304}, {4, 98305}}, {0, 1, 2, 255},
     "whole windows: an exact half goes down"},
    {kGreyLut, {0, 1, 0}, {}, {1, 2}, {{257, 98304}, {258, 163840}}, {2, 2}, "cut windows: halves to even"},
    {kGreyLut, {0, 1, 0}, {}, {3}, {{259, 16744448}}, {0}, "cut windows: 255.5 wraps to 0"},
    {kGreyLut, {0.11, 0.11, 0.11}, {}, {1, 1}, {{1, 90112}, {257, 90112}, {513, 90112}}, {13, 13},
     "cut windows scale by one factor"},
};
// clang-format on

// The reference is held to the same hand-worked bytes.
TEST_F(LineBlur, RoundingWorkedByHand) {
    for (const RoundingRow& row : kRounding) {
        SCOPED_TRACE(row.why);
        const Routine& r = kRoutines[row.routine];
        LineCall c;
        c.n = int(row.values.size()), c.size = r.size, c.weights = row.weights;
        c.c1 = c.c2 = c.c3 = row.values;
        if (!row.alpha.empty()) c.alpha = row.alpha;
        prepare(c, reference::TableRounding::Nearest);
        for (const auto& entry : row.entries) c.lut[std::size_t(entry.first)] = entry.second;
        Bytes src(std::size_t(c.n * r.size)), out(src.size(), 119), reference = out;
        if (r.readsBytes) writeSource(c, src.data());
        call(row.routine, false, c, src.data(), out.data());
        call(row.routine, true, c, src.data(), reference.data());
        EXPECT_TRUE(sameBytes(out, row.expected));
        EXPECT_TRUE(sameBytes(reference, row.expected)) << "reference";
    }
}

// Calls that cannot filter leave every output byte as it was and keep no
// host block.
enum Fault { kEmptyKernel, kNoScratch, kTooLong, kNoWeights, kNoTable, kNegativeRadius };

struct FailureRow {
    Fault fault;
    std::vector<int> routines;
    int calls;  // host allocations asked for
    const char* why;
};

// clang-format off
const FailureRow kFailures[] = {
    {kEmptyKernel, {kStd, kAw, kStdLut, kGrey, kGreyMax}, 0, "a kernel whose table was refused"},
    // The grey LUT blur takes its working copy only in place: it runs in place here.
    {kNoScratch, {kGrey, kGreyMax, kGreyLut}, 1, "the scratch line refused: the source cannot be read first"},
    {kTooLong, {kGrey, kGreyMax}, 0, "2^29 samples need 2^32 bytes, one past a 32-bit size"},
    {kNoWeights, {kGreyLut}, 0, "no weights"},
    {kNoTable, {kStdLut, kGreyLut}, 0, "no product table"},
    {kNegativeRadius, {kBoxLine, kBoxPlane}, 0, "a negative radius names no window"},
};
// clang-format on

TEST_F(LineBlur, FailuresLeaveTheOutputUntouched) {
    for (const FailureRow& row : kFailures) {
        for (int routine : row.routines) {
            const Routine& r = kRoutines[routine];
            SCOPED_TRACE(std::string(r.name) + ": " + row.why);
            const bool inPlace = row.fault == kNoScratch && r.scratch == 2;
            Random random(routine);
            LineCall c = randomCall(r, {"", 6, 1}, {"", 1, 1, inPlace}, kUneven, random);
            prepare(c, reference::TableRounding::Nearest);
            dof::qvlib::failAllocationAt(1);
            GaussianKernel empty(2.0, 0.01);
            dof::qvlib::failAllocationAt(0);
            if (row.fault == kEmptyKernel) c.kernelArg = &empty;
            if (row.fault == kNoWeights) c.weightsArg = nullptr;
            if (row.fault == kNoTable) c.lutArg = nullptr;
            if (row.fault == kNegativeRadius) c.radiusArg = -1;
            if (row.fault == kTooLong) c.n = 0x20000000, c.srcStride = c.outStride = 0;

            SentinelLine src(c.n, c.srcStride * r.size, std::size_t(r.size));
            if (r.readsBytes) writeSource(c, src.origin());
            SentinelLine out = inPlace ? src : SentinelLine(c.n, c.outStride * r.size, r.size);
            const Bytes untouched = out.bytes;
            const std::uint64_t before = dof::qvlib::allocStats().totalAllocations;
            if (row.fault == kNoScratch) dof::qvlib::failAllocationAt(1);
            call(routine, false, c, inPlace ? out.origin() : src.origin(), out.origin());
            dof::qvlib::failAllocationAt(0);
            EXPECT_EQ(dof::qvlib::allocStats().totalAllocations - before, std::uint64_t(row.calls));
            EXPECT_TRUE(sameBytes(out.bytes, untouched));
        }
    }
}

}  // namespace
