// Splatting fragments into the twelve accumulation planes: splat_pixel and
// the blocked walk, with every vector unit this processor runs, against the
// slow literal reference, with sentinels around every plane; and hat tables
// that cannot be had.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "dof/splat_pixel.h"
#include "dof/splat_walk.h"
#include "qvlib_testing.h"
#include "support/effect_fixture.h"
#include "support/random.h"
#include "support/same_bytes.h"
#include "support/splat_reference.h"

namespace {

using dof::test::Random;
using dof::test::ReferencePlanes;

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::int32_t kMaxInt = std::numeric_limits<std::int32_t>::max();
const std::int32_t kMinInt = std::numeric_limits<std::int32_t>::min();
constexpr std::size_t kPad = 16;
constexpr double kSentinel = -3.25;

// The twelve planes of a region in the record's order, with sentinel elements
// before and after each to catch a write one element out.
struct Planes {
    Planes(QVRect region, const ReferencePlanes& start) {
        double** slots[12] = {&params.colourSumR,  &params.colourSumG,  &params.colourSumB,
                              &params.opacitySumR, &params.opacitySumG, &params.opacitySumB,
                              &params.transmitR,   &params.transmitG,   &params.transmitB,
                              &params.weightSumR,  &params.weightSumG,  &params.weightSumB};
        for (std::size_t p = 0; p < 12; ++p) {
            storage[p].assign(kPad, kSentinel);
            storage[p].insert(storage[p].end(), start[p].begin(), start[p].end());
            storage[p].insert(storage[p].end(), kPad, kSentinel);
            *slots[p] = storage[p].data() + kPad;
        }
        instance.renderRegion = region;
    }
    // Every element bit for bit, the sentinels untouched. A NaN is any NaN:
    // which operand's payload and sign a sum of two NaNs keeps is the
    // compiler's choice of operand order for + and x, not a value.
    ::testing::AssertionResult equal(const ReferencePlanes& expected) const {
        const auto anyNaN = [](std::vector<double> v) {
            for (double& e : v) e = e == e ? e : kNaN;
            return v;
        };
        for (std::size_t p = 0; p < 12; ++p) {
            std::vector<double> padded(kPad, kSentinel);
            padded.insert(padded.end(), expected[p].begin(), expected[p].end());
            padded.insert(padded.end(), kPad, kSentinel);
            ::testing::AssertionResult same =
                dof::test::sameBytes(anyNaN(storage[p]), anyNaN(padded));
            if (!same) return same << " in plane " << p << " (" << kPad << " sentinels first)";
        }
        return ::testing::AssertionSuccess();
    }
    bool splat(const SplatFragment& f) { return splat_fragment(instance, &params, f); }
    IFXFilterInstance instance{};
    Parameters params{};
    ReferencePlanes storage;
};

// Planes as earlier passes leave them: per element, channels whose weights,
// transmittances and opacities agree (as fragments of equal coverage leave
// them) or not.
ReferencePlanes usedPlanes(QVRect region, Random& random) {
    ReferencePlanes planes = dof::test::referenceFreshPlanes(region);
    for (std::size_t i = 0; i < planes[0].size(); ++i) {
        // 0: nothing agrees; 1: weights; 2: and transmittances; 3: and
        // opacities equal to the weights.
        const int agree = random.below(4);
        const double w = 3.0 * random.unit(), t = random.unit();
        for (std::size_t c = 0; c < 3; ++c) {
            planes[c][i] = random.unit();
            planes[3 + c][i] = agree == 3 ? w : random.unit();
            planes[6 + c][i] = agree >= 2 ? t : random.unit();
            planes[9 + c][i] = agree >= 1 ? w : 3.0 * random.unit();
        }
    }
    return planes;
}

double pick(Random& random, const std::vector<double>& values) {
    return values[std::size_t(random.below(int(values.size())))];
}

// Fragments of every kind the walk tells apart: coverage equal or not and
// exactly 1, opacity 1 or not, radii from none or not a number to past the
// region, and now and then a colour that is not finite (infinities make only
// the one not-a-number that every order of operations gives).
SplatFragment randomFragment(Random& random, QVRect region, int nonFinitePercent) {
    SplatFragment f;
    f.x = region.left + random.below(region.width);
    f.y = region.top + random.below(region.height);
    const std::vector<double> radii = {0.0, 0.3, 0.5, 1.0, 2.25, 3.7, kNaN, -1.0, 9.5, 40.0};
    f.radiusX = random.chance(50) ? pick(random, radii) : 20.0 * random.unit();
    f.radiusY = random.chance(50) ? f.radiusX : pick(random, radii);
    const bool equalCoverage = random.chance(70);
    const bool unitCoverage = equalCoverage && random.chance(50);
    const bool unitOpacity = random.chance(50);
    for (int c = 0; c < 3; ++c) {
        f.colour[c] = random.chance(10) ? 0.0 : 2.0 * random.unit() - 0.25;
        f.opacity[c] = unitOpacity || random.chance(30) ? 1.0 : random.unit();
        f.coverage[c] = unitCoverage || random.chance(20) ? 1.0 : random.byte() / 255.0;
        if (equalCoverage && c > 0) f.coverage[c] = f.coverage[0];
    }
    if (random.chance(nonFinitePercent))
        f.colour[random.below(3)] = pick(random, {kInf, -kInf, kNaN});
    return f;
}

using SplatWalkTest = dof::test::HostAllocTest;

// Random regions, some at the ends of the coordinates so that x + R + 1
// passes 2^31, fresh or as earlier passes leave them; fragments queued
// through the walk with random tile and band sizes.
TEST_F(SplatWalkTest, PixelAndWalkMatchTheReference) {
    for (SplatVariant variant : {kSplatSSE2, kSplatAVX2, kSplatAVX512}) {
        if (splat_group_kernels(variant) == nullptr) continue;
        for (std::uint32_t seed = 1; seed <= 150; ++seed) {
            Random random(seed);
            QVRect region{random.between(-5, 5), random.between(-5, 5),
                          random.chance(15) ? 1 : random.between(1, 90),
                          random.chance(15) ? 1 : random.between(1, 30)};
            if (seed % 7 == 0) region.left = kMaxInt - region.width + 1;
            if (seed % 5 == 0) region.top = kMinInt;
            splat_walk_tuning() = {variant, std::uint64_t(random.between(1, 6000)),
                                   random.between(1, 9), 8 * random.between(1, 8)};
            ReferencePlanes expected =
                seed % 2 ? dof::test::referenceFreshPlanes(region) : usedPlanes(region, random);
            Planes literal(region, expected), blocked(region, expected);
            SplatWalk walk(blocked.instance, &blocked.params);
            ASSERT_TRUE(walk.start());
            const int count = random.between(1, 120);
            SplatFragment f = randomFragment(random, region, 0);
            for (int i = 0; i < count; ++i) {
                // Mostly sweeps along a row with gaps, as the pass visits
                // pixels: wide groups of similar hats.
                const std::int64_t x = std::int64_t(f.x) + random.between(1, 24);
                const bool sweep =
                    random.chance(70) && x < std::int64_t(region.left) + region.width;
                const double radius = f.radiusX;
                f = randomFragment(random, region, seed % 3 == 0 ? 8 : 0);
                if (sweep) {
                    f.x = int(x);
                    f.radiusX = f.radiusY = radius + random.unit() - 0.5;
                }
                ASSERT_TRUE(literal.splat(f));
                ASSERT_TRUE(walk.add(f));
                dof::test::referenceSplat(expected, region, f);
                if (random.chance(60)) walk.endPixel();
            }
            walk.flush();
            ASSERT_TRUE(literal.equal(expected)) << "splat_pixel, seed " << seed;
            ASSERT_TRUE(blocked.equal(expected)) << "variant " << variant << ", seed " << seed;
        }
    }
}

// A hat table that cannot be had leaves the planes untouched and keeps
// nothing; the walk applies the fragments before it and fails too, and
// scratch it cannot have fails its start.
TEST_F(SplatWalkTest, TablesThatCannotBeHad) {
    const struct {
        std::uint64_t failAt;  // 0: none
        double radiusX, radiusY;
        std::uint64_t allocations;  // by one splat_pixel
        const char* why;
    } cases[] = {
        {1, 1.0, 1.5, 2, "across table refused"}, {2, 1.0, 1.5, 2, "down table refused"},
        {0, kInf, 1.0, 1, "infinite across"},     {0, 1.0, kInf, 1, "infinite down"},
        {0, 1e9, 0.0, 1, "2r past 2^31"},         {0, 0.0, 1e300, 1, "huge down"},
    };
    const QVRect region{0, 0, 20, 15};
    for (const auto& c : cases) {
        Random random(5);
        Planes literal(region, dof::test::referenceFreshPlanes(region));
        Planes blocked(region, dof::test::referenceFreshPlanes(region));
        SplatWalk walk(blocked.instance, &blocked.params);
        ASSERT_TRUE(walk.start());
        ReferencePlanes before = dof::test::referenceFreshPlanes(region);
        for (int i = 0; i < 30; ++i) {
            const SplatFragment f = randomFragment(random, region, 0);
            ASSERT_TRUE(literal.splat(f) && walk.add(f));
            dof::test::referenceSplat(before, region, f);
        }
        SplatFragment bad = randomFragment(random, region, 0);
        bad.radiusX = c.radiusX, bad.radiusY = c.radiusY;
        const dof::qvlib::AllocStats start = dof::qvlib::allocStats();
        dof::qvlib::failAllocationAt(c.failAt);
        EXPECT_FALSE(literal.splat(bad)) << c.why;
        dof::qvlib::failAllocationAt(0);
        EXPECT_TRUE(literal.equal(before)) << c.why;
        splat_pixel(literal.instance, &literal.params, 1, 2, c.radiusX, c.radiusY, 0.5, 0.5, 0.5, 1,
                    1, 1, 1, 1, 1);
        const dof::qvlib::AllocStats end = dof::qvlib::allocStats();
        EXPECT_EQ(end.totalAllocations - start.totalAllocations, 2 * c.allocations) << c.why;
        if (c.failAt == 0) {
            EXPECT_FALSE(walk.add(bad)) << c.why;
            EXPECT_TRUE(blocked.equal(before)) << c.why;
        }
    }
    Planes planes(region, dof::test::referenceFreshPlanes(region));
    SplatWalk walk(planes.instance, &planes.params);
    dof::qvlib::failAllocationAt(1);
    EXPECT_FALSE(walk.start());
}

}  // namespace
