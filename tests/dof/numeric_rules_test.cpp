// The numeric rules every pass leans on, one row each with the reason it is
// there: the rounding to an integer, the blur fraction of a depth, a stored
// component as a fraction and a fraction as a stored component per format,
// and when the splatting pass asks the host whether to stop. Expected doubles
// are worked out apart, as hex floats with every step of the arithmetic
// rounded to double by hand; the rules the runtime's images share run there
// too. Then the component layout of the formats, bytes worked out by hand
// from the bit positions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <limits>
#include <vector>

#include "dof/QVPixel.h"
#include "dof/abort_poll.h"
#include "dof/get_radius.h"
#include "host/Parameters.h"
#include "kernels/round_to_int.h"
#include "runtime/PixelImage.h"
#include "support/effect_fixture.h"
#include "support/same_bytes.h"

namespace {

enum Rule {
    kRound,      // a: value; the low 32 bits of the nearest integer, halves to even
    kBlur,       // a: focal depth F, b: sharp-zone end N, c: depth
    kFraction,   // a: format code, b: stored component
    kCode,       // a: format code, b: colour fraction, limited to the format's range
    kAlphaCode,  // a: format code, b: alpha fraction, low bits kept
    kRawCode,    // a: format code, b: value in raw units, low bits kept
    kPoll,       // a: clock at the last question, b: clock now (see clockAt)
};

struct Row {
    Rule rule;
    double a, b, c;
    double expected;  // bit for bit; a NaN matches any NaN
    const char* why;
};

using Bytes = std::vector<std::uint8_t>;

// Calls f with a value of the plug-in's pixel traits of format code 1 to 5,
// so that one table of rows runs over every format.
template <class F>
decltype(auto) withPixelTraits(int code, F&& f) {
    // clang-format off
    switch (code) {
        case 1: return f(QVPixelRGBA8());
        case 2: return f(QVPixelRGBA10());
        case 3: return f(QVPixelRGBA12());
        case 4: return f(QVPixelRGBA16());
        default: return f(QVPixelRGBAFloat());
    }
    // clang-format on
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

const Row kRows[] = {
    {kRound, 0.4999999999999999, 0, 0, 0, "just below a half"},
    {kRound, 0.5, 0, 0, 0, "half to the even 0"},
    {kRound, 1.5, 0, 0, 2, "half to the even 2"},
    {kRound, -2.5, 0, 0, -2, "negative half to even from below"},
    {kRound, -254.6, 0, 0, -255, "negative values round away from zero"},
    {kRound, 2147483647.5, 0, 0, -2147483648.0, "2^31 keeps its low 32 bits"},
    {kRound, 4294967301.0, 0, 0, 5, "2^32 + 5: low bits 5"},
    {kRound, -4294967296.0, 0, 0, 0, "-2^32, bottom of the exact range"},
    {kRound, 4503595332403199.0, 0, 0, -1, "2^52 - 2^32 - 1, top of the exact range"},

    {kBlur, -10, -20, -20, 0, "at its far end: shifted onto F"},
    // N and d are the float -20.3 (-0x1.44ccccp+4): d is not beyond N, so it
    // is shifted by 10.1999992370605 to the float -0x1.433334p+3, a hair
    // short of F; q = RN(1 / 10.1000003814697), r = RN(|RN(RN(-1/10.1) + q)| / q).
    {kBlur, -10.1, -0x1.44ccccp+4, -0x1.44ccccp+4, 0x1.446f8654c871p-25,
     "the zone's far end is exclusive"},
    // Shifted to -15: q = RN(1/15), RN(RN(-1/10) + q) / q is one ulp above 0.5.
    {kBlur, -10, -20, -25, 0x1.0000000000001p-1, "behind the zone, shifted by F - N"},
    {kBlur, -10, -5, -15, 0x1.0000000000001p-1, "zone off: the sum comes before the division"},
    // q = RN(1/12), RN(-0.1 + q) = -0x1.1111111111118p-6, over q.
    {kBlur, -10, -5, -12, 0x1.999999999999ep-3, "zone off, 0.2 up to rounding"},
    {kBlur, 0, 0, -0.0, kNaN, "depth -0 with F = 0"},
    {kBlur, 0, 0, -1e-30, 1, "F = 0: 1 / F is infinite"},
    {kBlur, 0, -5, -10, 1, "F = 0, shifted to -5"},
    // -8 + 2^-24 rounds to -8 in float: q = 0.125 and the result is 1, where
    // the double shift would stay below 1.
    {kBlur, -4, -4 - 0x1p-24, -8, 1, "the shifted depth is rounded to float"},
    // d = -4 - 2^-21 shifted by 3 x 2^-23 is -4 - 2^-23, which rounds to F.
    {kBlur, -4, -4 - 0x3p-23, -0x1.000002p+2, 0, "the shifted depth rounds onto F"},

    {kFraction, 1, 51, 0, 0.2, "the host's table: 51 / 255"},
    {kFraction, 2, 1023, 0, 1, "10-bit full scale is exactly 1"},
    {kFraction, 2, 512, 0, 0x1.0040100401004p-1, "512 / 1023"},
    {kFraction, 4, 65535, 0, 1, "16-bit full scale"},
    {kFraction, 5, -2.5, 0, -2.5, "a float is its own fraction"},

    {kCode, 1, 0.5, 0, 128, "127.5 to the even code"},
    {kCode, 2, 0.5, 0, 512, "511.5 to the even code"},
    {kCode, 3, 0.5, 0, 2048, "2047.5 to the even code"},
    {kCode, 4, 0.5, 0, 32768, "32767.5 to the even code"},
    {kCode, 2, kNaN, 0, 0, "not a number stores 0"},

    {kAlphaCode, 1, 1.5, 0, 0x7E, "382.5 to 382 = 0x17E, its low byte"},
    {kRawCode, 2, 1023.5, 0, 0, "1024 has no bit in the low 10"},
    {kRawCode, 4, -1, 0, 0xFFFF, "-1 keeps its low 16 bits"},
    {kRawCode, 1, 3.5, 0, 4, "3.5 to the even 4"},

    {kPoll, 0, 100, 0, false, "exactly 100 ticks is not more"},
    {kPoll, 0, 101, 0, true, "101 ticks"},
    {kPoll, 200, 150, 0, true, "a clock stepping back waits 2^32 - 50 ticks"},
    {kPoll, -50, 50, 0, false, "100 ticks across the wrap of the clock"},
    {kPoll, -50, 51, 0, true, "101 ticks across the wrap"},
    {kPoll, -1, 0, 0, false, "one tick across the wrap"},
};

// A clock reading: offsets from 0 up count from the bottom of clock_t,
// negative ones back from its top (-1 is the top), so that a row across the
// wrap reads as small numbers.
std::clock_t clockAt(double offset) {
    if (offset >= 0) return std::numeric_limits<std::clock_t>::min() + std::clock_t(offset);
    return std::numeric_limits<std::clock_t>::max() + std::clock_t(offset + 1);
}

double pluginValue(const Row& row) {
    if (row.rule == kRound) return round_to_int(row.a);
    if (row.rule == kPoll) return abort_poll_due(clockAt(row.a), clockAt(row.b));
    if (row.rule == kBlur) {
        Parameters params{};
        params.focalDepth = row.a;
        params.focusRangeDepth = row.b;
        return get_radius(float(row.c), &params);
    }
    return withPixelTraits(int(row.a), [&](auto traits) -> double {
        using P = decltype(traits);
        if (row.rule == kFraction) return P::fraction(typename P::Component(row.b));
        if (row.rule == kCode) return P::colourFromFraction(row.b);
        if (row.rule == kAlphaCode) return P::alphaFromFraction(row.b);
        return P::fromRaw(row.b);
    });
}

double runtimeValue(const Row& row) {
    auto image = dof::runtime::PixelImage::create(QVBitmapType(int(row.a)), 1, 1);
    if (!image) return kNaN;
    if (row.rule == kFraction) {
        image->setComponent(0, 0, 1, row.b);
        return image->fraction(0, 0, 1);
    }
    image->setFraction(0, 0, 1, row.b);
    return image->component(0, 0, 1);
}

::testing::AssertionResult sameValue(double actual, double expected) {
    if (std::isnan(expected) ? std::isnan(actual)
                             : std::memcmp(&actual, &expected, sizeof actual) == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::hexfloat << actual << ", expected " << expected;
}

using NumericRules = dof::test::HostAllocTest;

TEST_F(NumericRules, EveryRow) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.why);
        EXPECT_TRUE(sameValue(pluginValue(row), row.expected)) << "plug-in";
        if (row.rule == kFraction || row.rule == kCode) {
            EXPECT_TRUE(sameValue(runtimeValue(row), row.expected)) << "runtime image";
        }
    }
}

// One pixel's bytes, its four components as read, and the bytes after one
// component is written. Only that component's bits may change.
struct PackingRow {
    int code;
    Bytes pixel;
    double components[4];
    int written;
    double value;
    Bytes after;
    const char* why;
};

// clang-format off
const PackingRow kPacking[] = {
    {1, {1, 2, 254, 255}, {1, 2, 254, 255}, 2, 0xAB, {1, 2, 0xAB, 255}, "a byte each, R first"},
    // 1111111111 0000000001 1000000000 0101010101 cut into bytes.
    {2, {0xFF, 0xC0, 0x18, 0x01, 0x55}, {0x3FF, 0x001, 0x200, 0x155},
     1, 0x2AA, {0xFF, 0xEA, 0xA8, 0x01, 0x55}, "G 1010101010 spans bytes 1 and 2"},
    {2, {0, 0, 0, 0, 0}, {0, 0, 0, 0},
     1, 0x7FF, {0x00, 0x3F, 0xF0, 0, 0}, "an 11-bit value keeps its low 10 bits, R stays 0"},
    // Three hex digits per component.
    {3, {0xAB, 0xC1, 0x23, 0xFF, 0xF0, 0x00}, {0xABC, 0x123, 0xFFF, 0x000},
     2, 0x800, {0xAB, 0xC1, 0x23, 0x80, 0x00, 0x00}, "B shares byte 4 with A"},
    {4, {0x34, 0x12, 0xFF, 0x00, 0x00, 0xFF, 0xCD, 0xAB}, {0x1234, 0x00FF, 0xFF00, 0xABCD},
     2, 0xBEEF, {0x34, 0x12, 0xFF, 0x00, 0xEF, 0xBE, 0xCD, 0xAB}, "low byte first on x86"},
    // -2.5f C0200000, 6.0f 40C00000, 0.125f 3E000000, 1.0f 3F800000.
    {5, {0, 0, 0x20, 0xC0, 0, 0, 0, 0, 0, 0, 0xC0, 0x40, 0, 0, 0, 0x3E}, {-2.5, 0, 6, 0.125},
     3, 1, {0, 0, 0x20, 0xC0, 0, 0, 0, 0, 0, 0, 0xC0, 0x40, 0, 0, 0x80, 0x3F}, "four floats"},
};
// clang-format on

// Three pixels alike; the middle one is read and written, its neighbours
// show a write out of place.
Bytes threePixels(const Bytes& left, const Bytes& middle, const Bytes& right) {
    Bytes all = left;
    all.insert(all.end(), middle.begin(), middle.end());
    all.insert(all.end(), right.begin(), right.end());
    return all;
}

// Only the written component's bits may change, and the neighbours show a
// write out of place. The runtime's images pack alike: the render tests
// read and write every format through them beside the plug-in.
TEST_F(NumericRules, PackingRows) {
    for (const PackingRow& row : kPacking) {
        SCOPED_TRACE(row.why);
        const Bytes start = threePixels(row.pixel, row.pixel, row.pixel);
        const Bytes expected = threePixels(row.pixel, row.after, row.pixel);
        Bytes line = start;
        std::uint8_t* middle = line.data() + row.pixel.size();
        withPixelTraits(row.code, [&](auto traits) {
            using P = decltype(traits);
            for (int c = 0; c < 4; ++c) EXPECT_EQ(double(P::read(middle, c)), row.components[c]);
            P::write(middle, row.written, typename P::Component(row.value));
        });
        EXPECT_TRUE(dof::test::sameBytes(line, expected));
    }
}

}  // namespace
