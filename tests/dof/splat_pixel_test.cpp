// splat_pixel, the literal splatting of one fragment: footprints worked out
// by hand, random fragments against the slow reference with sentinels
// around every plane, and hat tables that cannot be had.
#include "dof/splat_pixel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "host/IFXFilterInstance.h"
#include "host/Parameters.h"
#include "qvlib_testing.h"
#include "support/effect_fixture.h"
#include "support/random.h"
#include "support/same_bytes.h"
#include "support/splat_reference.h"

namespace {

using doftest::ReferencePlanes;

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::int32_t kMaxInt = std::numeric_limits<std::int32_t>::max();
const std::int32_t kMinInt = std::numeric_limits<std::int32_t>::min();
constexpr std::size_t kPad = 16;
constexpr double kSentinel = -3.25;

// The twelve planes of a region with sentinel elements before and after
// each, to catch a write one element out.
struct PaddedPlanes {
    explicit PaddedPlanes(QVRect region) {
        const ReferencePlanes fresh = doftest::referenceFreshPlanes(region);
        double** slots[12] = {&params.colourSumR,  &params.colourSumG,  &params.colourSumB,
                              &params.opacitySumR, &params.opacitySumG, &params.opacitySumB,
                              &params.transmitR,   &params.transmitG,   &params.transmitB,
                              &params.weightSumR,  &params.weightSumG,  &params.weightSumB};
        for (std::size_t p = 0; p < 12; ++p) {
            storage[p].assign(kPad, kSentinel);
            storage[p].insert(storage[p].end(), fresh[p].begin(), fresh[p].end());
            storage[p].insert(storage[p].end(), kPad, kSentinel);
            *slots[p] = storage[p].data() + kPad;
        }
        instance.renderRegion = region;
    }
    // Every element bit for bit, the sentinels untouched.
    ::testing::AssertionResult equal(ReferencePlanes expected) const {
        for (std::size_t p = 0; p < 12; ++p) {
            expected[p].insert(expected[p].begin(), kPad, kSentinel);
            expected[p].insert(expected[p].end(), kPad, kSentinel);
            ::testing::AssertionResult same = testsupport::sameBytes(storage[p], expected[p]);
            if (!same) return same << " in plane " << p << " (" << kPad << " sentinels first)";
        }
        return ::testing::AssertionSuccess();
    }
    bool splat(const SplatFragment& f) { return splat_fragment(instance, &params, f); }
    IFXFilterInstance instance{};
    Parameters params{};
    ReferencePlanes storage;
};

SplatFragment fragment(int x, int y, double rx, double ry) {
    return SplatFragment{x, y, rx, ry, {0.3, 0.7, 3.5}, {0.9, 0.45, 1.0}, {0.8, 0.35, 0.6}};
}

class SplatPixel : public doftest::HostAllocTest {};

// Where the weight lands, by hand: the hat reaches 2r taps, every tap is
// positive, and what falls outside the region is dropped.
TEST_F(SplatPixel, FootprintsByHand) {
    const QVRect region = {10, 20, 7, 6};  // columns 10..16, rows 20..25
    const QVRect corner = {kMaxInt - 6, kMinInt, 7, 4};
    const struct {
        const char* why;
        QVRect region;
        SplatFragment f;
        QVRect written;  // width 0: nothing
    } cases[] = {
        {"radius 0: own pixel", region, fragment(13, 22, 0, 0), {13, 22, 1, 1}},
        {"negative radii", region, fragment(13, 22, -2, -1), {13, 22, 1, 1}},
        {"radius 0.4: 2r below 1", region, fragment(13, 22, 0.4, 0.4), {13, 22, 1, 1}},
        {"radius not a number", region, fragment(13, 22, kNaN, kNaN), {13, 22, 1, 1}},
        {"one row: x - 2 .. x + 2", region, fragment(13, 22, 1, 0), {11, 22, 5, 1}},
        {"left edge: columns x .. x + 3", region, fragment(10, 22, 1.5, 1), {10, 20, 4, 5}},
        {"bottom-right corner: a quarter", region, fragment(16, 25, 1.5, 1), {13, 23, 4, 3}},
        {"clipped on all sides", region, fragment(12, 21, 10, 7.3), {10, 20, 7, 6}},
        {"region one pixel wide", {5, -3, 1, 5}, fragment(5, -1, 2, 1), {5, -3, 1, 5}},
        {"footprint right of the region", region, fragment(30, 22, 1, 1), {0, 0, 0, 0}},
        {"x + R + 1 past 2^31",
         corner,
         fragment(kMaxInt, kMinInt, 2, 2),
         {kMaxInt - 4, kMinInt, 5, 4}},
    };
    for (const auto& c : cases) {
        PaddedPlanes planes(c.region);
        ReferencePlanes expected = doftest::referenceFreshPlanes(c.region);
        EXPECT_TRUE(planes.splat(c.f)) << c.why;
        doftest::referenceSplat(expected, c.region, c.f);
        EXPECT_TRUE(planes.equal(expected)) << c.why;
        for (int i = 0; i < c.region.width * c.region.height; ++i) {
            const std::int64_t px = c.region.left + i % c.region.width;
            const std::int64_t py = c.region.top + i / c.region.width;
            const bool inside = px >= c.written.left && px - c.written.left < c.written.width &&
                                py >= c.written.top && py - c.written.top < c.written.height;
            EXPECT_EQ(planes.params.weightSumR[i] != 0.0, inside)
                << c.why << ": (" << px << ", " << py << ")";
        }
    }
}

// Radius 0, twice: sums doubled and transmittance squared, all exact; and
// the taps of radius 1 across, 1 - step and 1 - step - step.
TEST_F(SplatPixel, ValuesByHand) {
    PaddedPlanes planes({10, 20, 7, 6});
    const SplatFragment f{13, 22, 0, 0, {0.25, 0.5, 2.0}, {1.0, 0.5, 0.25}, {0.5, 0.25, 0.75}};
    ASSERT_TRUE(planes.splat(f) && planes.splat(f));
    const double expected[12] = {0.25, 0.25,   3.0,    1.0, 0.25, 0.375,
                                 0.25, 0.5625, 0.0625, 1.0, 0.5,  1.5};
    ReferencePlanes want = doftest::referenceFreshPlanes({10, 20, 7, 6});
    for (std::size_t p = 0; p < 12; ++p) want[p][2 * 7 + 3] = expected[p];
    EXPECT_TRUE(planes.equal(want));

    PaddedPlanes row({10, 20, 7, 6});
    ASSERT_TRUE(row.splat({13, 22, 1.0, 0.0, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}}));
    const double step = 0.5 / (1.0 + 0.000001);
    const double taps[5] = {(1.0 - step) - step, 1.0 - step, 1.0, 1.0 - step, (1.0 - step) - step};
    EXPECT_TRUE(testsupport::sameBytes(row.params.weightSumG + 2 * 7 + 1, taps, sizeof taps));
}

// Random regions, near the ends of the coordinates too, and random
// fragments, finite or infinite in colour (infinities make only the one
// not-a-number that every order of operations gives).
TEST_F(SplatPixel, RandomFragmentsMatchTheReference) {
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        testsupport::Random random(seed);
        const int w = random.between(1, 12), h = random.between(1, 9);
        const QVRect region = {seed % 7 == 0 ? kMaxInt - w + 1 : random.between(-20, 20),
                               seed % 5 == 0 ? kMinInt : random.between(-20, 20), w, h};
        PaddedPlanes planes(region);
        ReferencePlanes expected = doftest::referenceFreshPlanes(region);
        for (int n = random.between(1, 6); n > 0; --n) {
            SplatFragment f{region.left + random.below(w),
                            region.top + random.below(h),
                            random.chance(10) ? -1.0 : 6.0 * random.unit(),
                            random.chance(10) ? kNaN : 6.0 * random.unit(),
                            {},
                            {},
                            {}};
            for (int c = 0; c < 3; ++c) {
                f.colour[c] = random.chance(5) ? (random.chance(50) ? kInf : -kInf)
                                               : 4.0 * random.unit() - 1.0;
                f.opacity[c] = random.unit();
                f.coverage[c] = random.chance(20) ? 0.0 : random.unit();
            }
            ASSERT_TRUE(planes.splat(f));
            doftest::referenceSplat(expected, region, f);
        }
        ASSERT_TRUE(planes.equal(expected)) << "seed " << seed;
    }
}

// A table that cannot be had leaves the planes untouched, returns false and
// keeps nothing; a call that has both takes two tables and returns them.
TEST_F(SplatPixel, TablesThatCannotBeHad) {
    const struct {
        const char* why;
        std::uint64_t failAt;  // 0: none
        double radiusX, radiusY;
        bool done;
        std::uint64_t allocations;
    } cases[] = {
        {"across table refused", 1, 1.0, 1.5, false, 2},
        {"down table refused", 2, 1.0, 1.5, false, 2},
        {"infinite across: only the down table", 0, kInf, 1.0, false, 1},
        {"infinite down", 0, 1.0, kInf, false, 1},
        {"2r past 2^31", 0, 1e9, 0.0, false, 1},
        {"huge down", 0, 0.0, 1e300, false, 1},
        {"both tables", 0, 1.0, 1.5, true, 2},
    };
    for (const auto& c : cases) {
        PaddedPlanes planes({10, 20, 7, 6});
        const qvlib::AllocStats before = qvlib::allocStats();
        qvlib::failAllocationAt(c.failAt);
        EXPECT_EQ(planes.splat(fragment(13, 22, c.radiusX, c.radiusY)), c.done) << c.why;
        qvlib::failAllocationAt(0);
        if (!c.done) {
            EXPECT_TRUE(planes.equal(doftest::referenceFreshPlanes({10, 20, 7, 6}))) << c.why;
        }
        // splat_pixel takes and returns the same tables.
        splat_pixel(planes.instance, &planes.params, 13, 22, c.radiusX, c.radiusY, 0.5, 0.5, 0.5, 1,
                    1, 1, 1, 1, 1);
        const qvlib::AllocStats after = qvlib::allocStats();
        EXPECT_EQ(after.totalAllocations - before.totalAllocations, 2 * c.allocations) << c.why;
        EXPECT_EQ(after.liveBlocks, before.liveBlocks) << c.why;
    }
}

}  // namespace
