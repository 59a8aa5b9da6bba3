#include "dof/splat_pixel.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <vector>

#include "host/IFXFilterInstance.h"
#include "host/Parameters.h"
#include "qvlib_testing.h"
#include "support/effect_fixture.h"
#include "support/splat_reference.h"

namespace {

using doftest::ReferencePlanes;
using doftest::SplatFragment;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const std::int32_t kMaxInt = std::numeric_limits<std::int32_t>::max();
const std::int32_t kMinInt = std::numeric_limits<std::int32_t>::min();

const char* const kPlaneNames[doftest::kSplatPlaneCount] = {
    "colourSumR", "colourSumG", "colourSumB", "opacitySumR", "opacitySumG", "opacitySumB",
    "transmitR",  "transmitG",  "transmitB",  "weightSumR",  "weightSumG",  "weightSumB"};

std::uint64_t bits(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// The twelve planes of a render region, each with sentinel elements before
// and after it to catch a write one element out.
class PaddedPlanes {
public:
    static constexpr std::size_t kPad = 16;
    static constexpr double kSentinel = -3.25;

    explicit PaddedPlanes(QVRect region) : region_(region) {
        const ReferencePlanes fresh = doftest::referenceFreshPlanes(region);
        for (int p = 0; p < doftest::kSplatPlaneCount; ++p) {
            storage_[p].assign(kPad, kSentinel);
            storage_[p].insert(storage_[p].end(), fresh[p].begin(), fresh[p].end());
            storage_[p].insert(storage_[p].end(), kPad, kSentinel);
        }
        double** slots[doftest::kSplatPlaneCount] = {
            &params.colourSumR,  &params.colourSumG,  &params.colourSumB, &params.opacitySumR,
            &params.opacitySumG, &params.opacitySumB, &params.transmitR,  &params.transmitG,
            &params.transmitB,   &params.weightSumR,  &params.weightSumG, &params.weightSumB};
        for (int p = 0; p < doftest::kSplatPlaneCount; ++p) *slots[p] = storage_[p].data() + kPad;
        instance.renderRegion = region;
    }

    double at(int plane, std::int64_t px, std::int64_t py) const {
        return storage_[plane][kPad + std::size_t((py - region_.top) * region_.width +
                                                  (px - region_.left))];
    }

    // Every element against the expected planes, bit for bit, and the
    // sentinels untouched.
    void expectEqual(const ReferencePlanes& expected, const char* why) const {
        for (int p = 0; p < doftest::kSplatPlaneCount; ++p) {
            for (std::size_t i = 0; i < kPad; ++i) {
                EXPECT_EQ(bits(storage_[p][i]), bits(kSentinel))
                    << why << ": " << kPlaneNames[p] << " sentinel before, element " << i;
                const std::size_t after = kPad + expected[p].size() + i;
                EXPECT_EQ(bits(storage_[p][after]), bits(kSentinel))
                    << why << ": " << kPlaneNames[p] << " sentinel after, element " << i;
            }
            for (std::size_t i = 0; i < expected[p].size(); ++i) {
                const double actual = storage_[p][kPad + i];
                if (bits(actual) == bits(expected[p][i])) continue;
                ADD_FAILURE() << why << ": " << kPlaneNames[p] << " at ("
                              << region_.left + std::int64_t(i % region_.width) << ", "
                              << region_.top + std::int64_t(i / region_.width) << ") is " << actual
                              << ", expected " << expected[p][i];
            }
        }
    }

    IFXFilterInstance instance{};
    Parameters params{};

private:
    QVRect region_;
    std::array<std::vector<double>, doftest::kSplatPlaneCount> storage_;
};

bool splat(PaddedPlanes& planes, const SplatFragment& f) {
    const ::SplatFragment g = {f.x,
                               f.y,
                               f.radiusX,
                               f.radiusY,
                               {f.colour[0], f.colour[1], f.colour[2]},
                               {f.opacity[0], f.opacity[1], f.opacity[2]},
                               {f.coverage[0], f.coverage[1], f.coverage[2]}};
    return splat_fragment(planes.instance, &planes.params, g);
}

void splatVoid(PaddedPlanes& planes, const SplatFragment& f) {
    splat_pixel(planes.instance, &planes.params, f.x, f.y, f.radiusX, f.radiusY, f.colour[0],
                f.colour[1], f.colour[2], f.opacity[0], f.opacity[1], f.opacity[2], f.coverage[0],
                f.coverage[1], f.coverage[2]);
}

SplatFragment fragment(int x, int y, double rx, double ry) {
    return SplatFragment{x, y, rx, ry, {0.3, 0.7, 3.5}, {0.9, 0.45, 1.0}, {0.8, 0.35, 0.6}};
}

SplatFragment withCoverage(SplatFragment f, double r, double g, double b) {
    f.coverage[0] = r;
    f.coverage[1] = g;
    f.coverage[2] = b;
    return f;
}

// --- Footprints checked against the slow reference --------------------------

const QVRect kRegion = {10, 20, 7, 6};                   // columns 10..16, rows 20..25
const QVRect kWide = {-4, 7, 12, 11};                    // columns -4..7, rows 7..17
const QVRect kColumn = {5, -3, 1, 5};                    // one pixel wide
const QVRect kRow = {-7, 4, 6, 1};                       // one pixel high
const QVRect kFarCorner = {kMaxInt - 6, kMinInt, 7, 4};  // x + R + 1 passes 2^31

struct SplatScenario {
    const char* why;
    QVRect region;
    std::vector<SplatFragment> fragments;
    QVRect written;  // by hand: the pixels the fragments reach (width 0: none)
};

const std::vector<SplatScenario>& scenarios() {
    static const std::vector<SplatScenario> cases = {
        {"radius 0: own pixel", kRegion, {fragment(13, 22, 0.0, 0.0)}, {13, 22, 1, 1}},
        {"negative radii: own pixel", kRegion, {fragment(13, 22, -2.0, -1.0)}, {13, 22, 1, 1}},
        {"radius 0.4: own pixel", kRegion, {fragment(13, 22, 0.4, 0.4)}, {13, 22, 1, 1}},
        {"radius not a number: own pixel", kRegion, {fragment(13, 22, kNaN, kNaN)}, {13, 22, 1, 1}},
        {"one row: x - 2 .. x + 2", kRegion, {fragment(13, 22, 1.0, 0.0)}, {11, 22, 5, 1}},
        {"one column: y - 2 .. y + 2", kRegion, {fragment(13, 22, 0.0, 1.0)}, {13, 20, 1, 5}},
        {"whole footprint inside", kWide, {fragment(1, 12, 1.5, 1.5)}, {-2, 9, 7, 7}},
        {"uneven radii inside", kWide, {fragment(2, 11, 2.25, 0.75)}, {-2, 10, 9, 3}},
        {"left edge: columns x .. x + 3", kRegion, {fragment(10, 22, 1.5, 1.0)}, {10, 20, 4, 5}},
        {"right edge", kRegion, {fragment(16, 22, 1.5, 1.0)}, {13, 20, 4, 5}},
        {"top edge", kRegion, {fragment(13, 20, 1.5, 1.0)}, {10, 20, 7, 3}},
        {"bottom edge", kRegion, {fragment(13, 25, 1.5, 1.0)}, {10, 23, 7, 3}},
        {"top-left corner", kRegion, {fragment(10, 20, 1.5, 1.0)}, {10, 20, 4, 3}},
        {"top-right corner", kRegion, {fragment(16, 20, 1.5, 1.0)}, {13, 20, 4, 3}},
        {"bottom-left corner", kRegion, {fragment(10, 25, 1.5, 1.0)}, {10, 23, 4, 3}},
        {"bottom-right corner: upper-left quarter",
         kRegion,
         {fragment(16, 25, 1.5, 1.0)},
         {13, 23, 4, 3}},
        {"clipped on all four sides", kRegion, {fragment(13, 22, 2.0, 2.0)}, {10, 20, 7, 6}},
        {"footprint far larger than the region",
         kRegion,
         {fragment(12, 21, 10.0, 7.3)},
         {10, 20, 7, 6}},
        {"region one pixel wide", kColumn, {fragment(5, -1, 2.0, 1.0)}, {5, -3, 1, 5}},
        {"region one pixel wide, top pixel", kColumn, {fragment(5, -3, 1.0, 1.0)}, {5, -3, 1, 3}},
        {"region one pixel high", kRow, {fragment(-5, 4, 1.0, 3.0)}, {-7, 4, 5, 1}},
        {"footprint right of the region", kRegion, {fragment(30, 22, 1.0, 1.0)}, {0, 0, 0, 0}},
        {"footprint below the region", kRegion, {fragment(13, 100, 1.0, 1.0)}, {0, 0, 0, 0}},
        {"corner at the largest column and smallest row",
         kFarCorner,
         {fragment(kMaxInt, kMinInt, 2.0, 2.0)},
         {kMaxInt - 4, kMinInt, 5, 4}},
        {"corner at the smallest column of that region",
         kFarCorner,
         {fragment(kMaxInt - 6, kMinInt + 3, 1.0, 1.0)},
         {kMaxInt - 6, kMinInt + 1, 3, 3}},
        {"one channel without coverage",
         kWide,
         {withCoverage(fragment(1, 12, 1.0, 1.0), 0.6, 0.0, 1.0)},
         {-1, 10, 5, 5}},
        {"two overlapping fragments",
         kRegion,
         {fragment(12, 22, 1.0, 1.0), withCoverage(fragment(14, 22, 1.5, 1.0), 0.2, 0.9, 1.0)},
         {10, 20, 7, 5}},
        {"the same two in the other order",
         kRegion,
         {withCoverage(fragment(14, 22, 1.5, 1.0), 0.2, 0.9, 1.0), fragment(12, 22, 1.0, 1.0)},
         {10, 20, 7, 5}},
        {"full coverage, then more on top",
         kRegion,
         {withCoverage(fragment(13, 22, 1.0, 1.0), 1.0, 1.0, 1.0), fragment(13, 22, 0.5, 0.5)},
         {11, 20, 5, 5}},
    };
    return cases;
}

void PrintTo(const SplatScenario& c, std::ostream* os) { *os << c.why; }

class SplatFootprint : public doftest::HostAllocTest,
                       public ::testing::WithParamInterface<SplatScenario> {};

TEST_P(SplatFootprint, MatchesReferenceBitForBit) {
    const SplatScenario& c = GetParam();
    PaddedPlanes planes(c.region);
    ReferencePlanes expected = doftest::referenceFreshPlanes(c.region);
    for (const SplatFragment& f : c.fragments) {
        EXPECT_TRUE(splat(planes, f)) << c.why;
        doftest::referenceSplat(expected, c.region, f);
    }
    planes.expectEqual(expected, c.why);

    // The footprint worked out by hand: weight reaches exactly these pixels
    // (hat taps are positive out to the ends).
    for (std::int64_t py = c.region.top; py < std::int64_t(c.region.top) + c.region.height; ++py) {
        for (std::int64_t px = c.region.left; px < std::int64_t(c.region.left) + c.region.width;
             ++px) {
            const bool inside =
                px >= c.written.left && px < std::int64_t(c.written.left) + c.written.width &&
                py >= c.written.top && py < std::int64_t(c.written.top) + c.written.height;
            EXPECT_EQ(planes.at(doftest::kWeightSumR, px, py) != 0.0, inside)
                << c.why << ": weight at (" << px << ", " << py << ")";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SplatFootprint, ::testing::ValuesIn(scenarios()));

// --- Values worked out by hand -----------------------------------------------

class SplatByHand : public doftest::HostAllocTest {};

TEST_F(SplatByHand, RadiusZeroAddsToOwnPixelExactly) {
    PaddedPlanes planes(kRegion);
    const SplatFragment f{13, 22, 0.0, 0.0, {0.25, 0.5, 2.0}, {1.0, 0.5, 0.25}, {0.5, 0.25, 0.75}};
    ASSERT_TRUE(splat(planes, f));
    ASSERT_TRUE(splat(planes, f));
    // Twice: sums doubled, transmittance squared; all exact in binary.
    const double expected[doftest::kSplatPlaneCount] = {0.25, 0.25,   3.0,    // colour × coverage
                                                        1.0,  0.25,   0.375,  // opacity × coverage
                                                        0.25, 0.5625, 0.0625,  // (1 - coverage)^2
                                                        1.0,  0.5,    1.5};    // coverage
    ReferencePlanes fresh = doftest::referenceFreshPlanes(kRegion);
    for (int p = 0; p < doftest::kSplatPlaneCount; ++p)
        fresh[p][std::size_t((22 - 20) * 7 + (13 - 10))] = expected[p];
    planes.expectEqual(fresh, "radius 0, twice");
}

TEST_F(SplatByHand, ExactFragmentsCommute) {
    const SplatFragment a{11, 21, 0.0, 0.0, {0.5, 1.5, 0.125}, {0.75, 0.5, 1.0}, {0.5, 0.5, 0.25}};
    const SplatFragment b{11, 21, 0.0, 0.0, {2.0, 0.25, 1.0}, {0.5, 1.0, 0.25}, {0.25, 0.75, 0.5}};
    PaddedPlanes ab(kRegion);
    PaddedPlanes ba(kRegion);
    ASSERT_TRUE(splat(ab, a));
    ASSERT_TRUE(splat(ab, b));
    ASSERT_TRUE(splat(ba, b));
    ASSERT_TRUE(splat(ba, a));
    for (int p = 0; p < doftest::kSplatPlaneCount; ++p)
        EXPECT_EQ(bits(ab.at(p, 11, 21)), bits(ba.at(p, 11, 21))) << kPlaneNames[p];
    // By hand: colour R = 0.5 * 0.5 + 2.0 * 0.25, transmit G = 0.5 * 0.25.
    EXPECT_EQ(ab.at(doftest::kColourSumR, 11, 21), 0.75);
    EXPECT_EQ(ab.at(doftest::kTransmitG, 11, 21), 0.125);
}

TEST_F(SplatByHand, OneRowHatTaps) {
    PaddedPlanes planes(kRegion);
    const SplatFragment f{13, 22, 1.0, 0.0, {1.0, 1.0, 1.0}, {1.0, 1.0, 1.0}, {1.0, 1.0, 1.0}};
    ASSERT_TRUE(splat(planes, f));
    const double step = 0.5 / (1.0 + 0.000001);
    const double oneOff = 1.0 - step;
    const double twoOff = (1.0 - step) - step;
    const double taps[5] = {twoOff, oneOff, 1.0, oneOff, twoOff};
    for (int i = 0; i < 5; ++i) {
        const int px = 11 + i;
        EXPECT_EQ(bits(planes.at(doftest::kWeightSumG, px, 22)), bits(taps[i])) << px;
        EXPECT_EQ(bits(planes.at(doftest::kColourSumB, px, 22)), bits(taps[i])) << px;
        EXPECT_EQ(bits(planes.at(doftest::kTransmitR, px, 22)), bits(1.0 - taps[i])) << px;
    }
    EXPECT_NEAR(planes.at(doftest::kWeightSumR, 12, 22), 0.5000005, 1e-9);
    EXPECT_NEAR(planes.at(doftest::kWeightSumR, 11, 22), 0.000001, 1e-9);
    EXPECT_EQ(planes.at(doftest::kWeightSumR, 10, 22), 0.0);
    EXPECT_EQ(planes.at(doftest::kWeightSumR, 13, 21), 0.0);
}

TEST_F(SplatByHand, ZeroCoverageChannelStaysUntouched) {
    PaddedPlanes planes(kWide);
    ASSERT_TRUE(splat(planes, withCoverage(fragment(1, 12, 1.5, 1.5), 0.6, 0.0, 1.0)));
    for (int py = 9; py <= 15; ++py) {
        for (int px = -2; px <= 4; ++px) {
            EXPECT_EQ(bits(planes.at(doftest::kColourSumG, px, py)), bits(0.0));
            EXPECT_EQ(bits(planes.at(doftest::kOpacitySumG, px, py)), bits(0.0));
            EXPECT_EQ(bits(planes.at(doftest::kWeightSumG, px, py)), bits(0.0));
            EXPECT_EQ(bits(planes.at(doftest::kTransmitG, px, py)), bits(1.0));
            EXPECT_GT(planes.at(doftest::kWeightSumR, px, py), 0.0);
        }
    }
}

TEST_F(SplatByHand, FullCoverageStopsTransmittanceForGood) {
    PaddedPlanes planes(kRegion);
    ASSERT_TRUE(splat(planes, withCoverage(fragment(13, 22, 1.0, 1.0), 1.0, 1.0, 1.0)));
    for (int p : {doftest::kTransmitR, doftest::kTransmitG, doftest::kTransmitB})
        EXPECT_EQ(bits(planes.at(p, 13, 22)), bits(0.0)) << kPlaneNames[p];
    ASSERT_TRUE(splat(planes, withCoverage(fragment(14, 22, 2.0, 2.0), 0.5, 0.25, 0.75)));
    ASSERT_TRUE(splat(planes, fragment(13, 22, 0.0, 0.0)));
    for (int p : {doftest::kTransmitR, doftest::kTransmitG, doftest::kTransmitB})
        EXPECT_EQ(bits(planes.at(p, 13, 22)), bits(0.0)) << kPlaneNames[p] << " after more";
}

// --- Kernels that cannot be had ----------------------------------------------

class SplatWithoutKernel : public doftest::HostAllocTest {
protected:
    void expectUntouched(const PaddedPlanes& planes, const char* why) {
        planes.expectEqual(doftest::referenceFreshPlanes(kRegion), why);
    }
};

TEST_F(SplatWithoutKernel, FailedAllocationWritesNothingAndLeaksNothing) {
    for (std::uint64_t nth : {1u, 2u}) {
        PaddedPlanes planes(kRegion);
        qvlib::failAllocationAt(nth);
        EXPECT_FALSE(splat(planes, fragment(13, 22, 1.0, 1.5))) << "allocation " << nth;
        expectUntouched(planes, nth == 1 ? "across table failed" : "down table failed");
        qvlib::failAllocationAt(0);
    }
    PaddedPlanes planes(kRegion);
    qvlib::failAllAllocations(true);
    EXPECT_FALSE(splat(planes, fragment(13, 22, 0.0, 0.0)));
    qvlib::failAllAllocations(false);
    expectUntouched(planes, "every allocation failed");
}

TEST_F(SplatWithoutKernel, UncountableRadiusWritesNothing) {
    struct Case {
        double radiusX;
        double radiusY;
        const char* why;
    };
    const Case cases[] = {
        {kInf, 1.0, "infinite across"}, {1.0, kInf, "infinite down"},
        {kInf, kInf, "infinite both"},  {1e9, 0.0, "2r past 2^31 across"},
        {0.0, 1e300, "huge down"},
    };
    for (const Case& c : cases) {
        PaddedPlanes planes(kRegion);
        EXPECT_FALSE(splat(planes, fragment(13, 22, c.radiusX, c.radiusY))) << c.why;
        expectUntouched(planes, c.why);
    }
}

TEST_F(SplatWithoutKernel, InfiniteRadiusOnlyAllocatesTheOtherTable) {
    PaddedPlanes planes(kRegion);
    const qvlib::AllocStats before = qvlib::allocStats();
    EXPECT_FALSE(splat(planes, fragment(13, 22, kInf, 1.0)));
    const qvlib::AllocStats after = qvlib::allocStats();
    EXPECT_EQ(after.totalAllocations, before.totalAllocations + 1);
    EXPECT_EQ(after.totalFrees, before.totalFrees + 1);
}

TEST_F(SplatWithoutKernel, EachCallTakesAndReturnsTwoTables) {
    PaddedPlanes planes(kRegion);
    const qvlib::AllocStats before = qvlib::allocStats();
    EXPECT_TRUE(splat(planes, fragment(30, 22, 1.0, 1.0))) << "footprint misses the region";
    EXPECT_TRUE(splat(planes, fragment(13, 22, 1.0, 1.0)));
    const qvlib::AllocStats after = qvlib::allocStats();
    EXPECT_EQ(after.totalAllocations, before.totalAllocations + 4);
    EXPECT_EQ(after.totalFrees, before.totalFrees + 4);
}

// --- splat_pixel: the same work without the result --------------------------

class SplatPixel : public doftest::HostAllocTest {};

TEST_F(SplatPixel, WritesWhatTheReferenceWrites) {
    PaddedPlanes planes(kRegion);
    ReferencePlanes expected = doftest::referenceFreshPlanes(kRegion);
    const SplatFragment fragments[] = {fragment(10, 25, 1.5, 1.0), fragment(14, 21, 0.75, 2.0)};
    for (const SplatFragment& f : fragments) {
        splatVoid(planes, f);
        doftest::referenceSplat(expected, kRegion, f);
    }
    planes.expectEqual(expected, "splat_pixel");
}

TEST_F(SplatPixel, FailedAllocationWritesNothingAndLeaksNothing) {
    for (std::uint64_t nth : {1u, 2u}) {
        PaddedPlanes planes(kRegion);
        qvlib::failAllocationAt(nth);
        splatVoid(planes, fragment(13, 22, 1.0, 1.0));
        qvlib::failAllocationAt(0);
        planes.expectEqual(doftest::referenceFreshPlanes(kRegion), "splat_pixel without a table");
    }
}

}  // namespace
