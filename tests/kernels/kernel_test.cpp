#include "kernels/Kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <vector>

#include "qvlib_testing.h"
#include "support/effect_fixture.h"
#include "support/kernel_reference.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

std::uint64_t bits(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

std::vector<double> tapsOf(const Kernel& k) {
    return std::vector<double>(k.weights, k.weights + 2 * k.radius + 1);
}

void expectSameBits(const std::vector<double>& actual, const std::vector<double>& expected,
                    const char* why) {
    ASSERT_EQ(actual.size(), expected.size()) << why;
    for (std::size_t i = 0; i < actual.size(); ++i)
        EXPECT_EQ(bits(actual[i]), bits(expected[i])) << why << ", tap index " << i;
}

std::uint64_t allocationCalls() { return qvlib::allocStats().totalAllocations; }
std::uint64_t liveBytes() { return qvlib::allocStats().liveBytes; }

// --- HatKernel ------------------------------------------------------------

struct HatCase {
    double r;
    int R;                          // worked out by hand: whole part of 2r, 0 for r <= 0
    std::vector<double> roughTaps;  // the rounded values the hat should come near
    const char* why;
};

const std::vector<HatCase>& hatCases() {
    static const std::vector<HatCase> cases = {
        {0.0, 0, {1.0}, "zero radius: one tap"},
        {-3.0, 0, {1.0}, "negative radius: one tap"},
        {kNaN, 0, {1.0}, "not a number: one tap"},
        {-kInf, 0, {1.0}, "minus infinity: one tap"},
        {0.4, 0, {1.0}, "2r = 0.8 cuts to 0"},
        {0.5, 1, {0.000002, 1.0, 0.000002}, "step 0.5 / 0.500001"},
        {1.0,
         2,
         {0.000001, 0.5000005, 1.0, 0.5000005, 0.000001},
         "second tap differs from 1 - 2 * step"},
        {2.25,
         4,
         {0.1111115, 0.3333336, 0.5555558, 0.7777779, 1.0, 0.7777779, 0.5555558, 0.3333336,
          0.1111115},
         "ends short of zero"},
        {3.7, 7, {}, "five taps differ from 1 - k * step"},
    };
    return cases;
}

void PrintTo(const HatCase& c, std::ostream* os) { *os << "r = " << c.r << ": " << c.why; }

class HatKernelTaps : public doftest::HostAllocTest,
                      public ::testing::WithParamInterface<HatCase> {};

TEST_P(HatKernelTaps, MatchRepeatedSubtractionBitForBit) {
    const HatCase& c = GetParam();
    const std::vector<double> expected = doftest::referenceHatTaps(c.r);
    // The reference itself against the hand-rounded values.
    ASSERT_EQ(expected.size(), std::size_t(2 * c.R + 1)) << c.why;
    for (std::size_t i = 0; i < c.roughTaps.size(); ++i)
        EXPECT_NEAR(expected[i], c.roughTaps[i], 5e-7) << c.why << ", reference tap " << i;

    HatKernel kernel(c.r);
    ASSERT_NE(kernel.weights, nullptr);
    EXPECT_EQ(kernel.radius, c.R) << c.why;
    EXPECT_EQ(bits(kernel.weights[c.R]), bits(1.0)) << c.why;
    expectSameBits(tapsOf(kernel), expected, c.why);
    for (int k = 1; k <= c.R; ++k)
        EXPECT_EQ(bits(kernel.weights[c.R - k]), bits(kernel.weights[c.R + k]))
            << c.why << ", symmetry at distance " << k;
}

INSTANTIATE_TEST_SUITE_P(Table, HatKernelTaps, ::testing::ValuesIn(hatCases()));

class HatKernelReference : public doftest::HostAllocTest {};

TEST_F(HatKernelReference, RepeatedSubtractionIsNotOneMultiplication) {
    // Guards the reference: for r = 1.0 the tap two off the centre is the
    // result of two subtractions, which is not 1 - 2 * step.
    const double step = 0.5 / (1.0 + 0.000001);
    const double twice = (1.0 - step) - step;
    EXPECT_NE(bits(twice), bits(1.0 - 2.0 * step));
    EXPECT_EQ(bits(doftest::referenceHatTaps(1.0)[0]), bits(twice));
}

// Radii whose table cannot be counted in a 32-bit allocation size get no
// table and make no allocation. The last countable half-width is
// (0x7FFFFFFF / 8 - 1) / 2 = 134217727, reached at r = 67108863.75.
struct UncountableHatCase {
    double r;
    const char* why;
};

void PrintTo(const UncountableHatCase& c, std::ostream* os) { *os << c.why; }

class HatKernelWithoutTable : public doftest::HostAllocTest,
                              public ::testing::WithParamInterface<UncountableHatCase> {};

TEST_P(HatKernelWithoutTable, StaysEmptyWithoutAllocating) {
    const UncountableHatCase& c = GetParam();
    const std::uint64_t callsBefore = allocationCalls();
    {
        HatKernel kernel(c.r);
        EXPECT_EQ(kernel.weights, nullptr) << c.why;
        EXPECT_EQ(kernel.radius, 0) << c.why;
    }
    EXPECT_EQ(allocationCalls(), callsBefore) << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    Table, HatKernelWithoutTable,
    ::testing::Values(UncountableHatCase{kInf, "infinite radius"},
                      UncountableHatCase{1e9, "2r past 2^31"},
                      UncountableHatCase{67108864.0, "2r one past the countable radius"},
                      UncountableHatCase{std::numeric_limits<double>::max(), "largest double"}));

class KernelMemory : public doftest::HostAllocTest {
protected:
    void TearDown() override {
        qvlib::setAllocationLimit(0xFFFFFFFFull);
        doftest::HostAllocTest::TearDown();
    }
};

TEST_F(KernelMemory, LargestCountableRadiusAsksForItsTable) {
    // Refused by the allocator here so the test need not hold 2 GB.
    qvlib::setAllocationLimit(1 << 20);
    const std::uint64_t callsBefore = allocationCalls();
    HatKernel kernel(67108863.75);
    EXPECT_EQ(allocationCalls(), callsBefore + 1);
    EXPECT_EQ(kernel.weights, nullptr);
    EXPECT_EQ(kernel.radius, 0);
}

TEST_F(KernelMemory, TableIsTwoRPlusOneDoublesReleasedByDestructor) {
    const std::uint64_t bytesBefore = liveBytes();
    const std::uint64_t blocksBefore = doftest::liveBlocks();
    {
        HatKernel kernel(2.25);
        EXPECT_EQ(doftest::liveBlocks(), blocksBefore + 1);
        EXPECT_EQ(liveBytes(), bytesBefore + 9 * 8);
    }
    EXPECT_EQ(doftest::liveBlocks(), blocksBefore);
}

TEST_F(KernelMemory, FailedTableLeavesEmptyKernel) {
    qvlib::failAllocationAt(1);
    HatKernel kernel(2.25);
    EXPECT_EQ(kernel.weights, nullptr);
    EXPECT_EQ(kernel.radius, 0);
}

TEST_F(KernelMemory, HeapKernelLivesInHostMemory) {
    const std::uint64_t blocksBefore = doftest::liveBlocks();
    const std::uint64_t bytesBefore = liveBytes();
    Kernel* kernel = new HatKernel(1.0);
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(doftest::liveBlocks(), blocksBefore + 2) << "object and table";
    EXPECT_EQ(liveBytes(), bytesBefore + sizeof(HatKernel) + 5 * 8);
    delete kernel;
    EXPECT_EQ(doftest::liveBlocks(), blocksBefore);
}

TEST_F(KernelMemory, FailedObjectAllocationGivesNullWithoutTable) {
    const std::uint64_t callsBefore = allocationCalls();
    qvlib::failAllocationAt(1);
    Kernel* kernel = new HatKernel(1.0);
    EXPECT_EQ(kernel, nullptr);
    EXPECT_EQ(allocationCalls(), callsBefore + 1) << "the constructor must not run";
}

TEST_F(KernelMemory, FailedTableOfHeapKernelStillDeletes) {
    qvlib::failAllocationAt(2);
    Kernel* kernel = new HatKernel(1.0);
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(kernel->weights, nullptr);
    EXPECT_EQ(kernel->radius, 0);
    delete kernel;
}

// --- GaussianKernel -------------------------------------------------------

struct GaussianCase {
    double sigma;
    double cutoff;
    int R;            // by hand: whole part of sqrt(2 s^2 ln(1/c))
    double a;         // 1 / (2 s^2) as the constructor forms it, s = max(sigma, 0.01)
    double roughEnd;  // the rounded value of the end tap
    const char* why;
};

const std::vector<GaussianCase>& gaussianCases() {
    static const std::vector<GaussianCase> cases = {
        {1.0, 0.5, 1, 0.5, 0.606531, "sqrt(2 ln 2) = 1.18"},
        {2.0, 0.01, 6, 0.125, 0.011109, "sqrt(8 ln 100) = 6.07"},
        {3.0, 0.1, 6, 1.0 / 18.0, 0.135335, "sqrt(18 ln 10) = 6.44"},
        {3.0, 0.01, 9, 1.0 / 18.0, 0.011109,
         "sqrt(18 ln 100) = 9.10; tap 7 tells a product by a from a division by 2s^2"},
        {0.0, 0.5, 0, 1.0 / ((0.01 + 0.01) * 0.01), 1.0, "sigma raised to 0.01"},
        {0.01, 0.5, 0, 1.0 / ((0.01 + 0.01) * 0.01), 1.0, "sigma at the limit"},
        {-2.0, 0.5, 0, 1.0 / ((0.01 + 0.01) * 0.01), 1.0, "negative sigma raised to 0.01"},
        {kNaN, 0.5, 0, 1.0 / ((0.01 + 0.01) * 0.01), 1.0, "sigma not a number raised to 0.01"},
        {1.0, 1.0, 0, 0.5, 1.0, "cutoff 1 limited to 0.999999"},
        {1.0, 2.0, 0, 0.5, 1.0, "cutoff above 1 limited to 0.999999"},
        {700.0, 1.0, 0, 1.0 / 980000.0, 1.0, "sqrt(0.98) below 1"},
        {800.0, 1.0, 1, 1.0 / 1280000.0, 0.99999922, "sqrt(1.28) above 1"},
        {1.0, 0.0, 5, 0.5, 0.0000037, "cutoff 0 limited to 0.000001: sqrt(2 ln 1e6) = 5.26"},
        {1.0, -1.0, 5, 0.5, 0.0000037, "negative cutoff limited to 0.000001"},
    };
    return cases;
}

void PrintTo(const GaussianCase& c, std::ostream* os) {
    *os << "sigma " << c.sigma << ", cutoff " << c.cutoff << ": " << c.why;
}

class GaussianKernelTaps : public doftest::HostAllocTest,
                           public ::testing::WithParamInterface<GaussianCase> {};

TEST_P(GaussianKernelTaps, RadiusAndTapsBitForBit) {
    const GaussianCase& c = GetParam();
    GaussianKernel kernel(c.sigma, c.cutoff);
    ASSERT_NE(kernel.weights, nullptr) << c.why;
    ASSERT_EQ(kernel.radius, c.R) << c.why;
    EXPECT_EQ(bits(kernel.sigma), bits(c.sigma)) << "sigma kept as passed: " << c.why;

    std::vector<double> expected(2 * c.R + 1);
    expected[c.R] = 1.0;
    for (int k = 1; k <= c.R; ++k) {
        const double x = double(k);
        expected[c.R - k] = expected[c.R + k] = std::exp(-(x * x) * c.a);
    }
    expectSameBits(tapsOf(kernel), expected, c.why);
    EXPECT_NEAR(kernel.weights[0], c.roughEnd, 5e-7) << c.why;
}

INSTANTIATE_TEST_SUITE_P(Table, GaussianKernelTaps, ::testing::ValuesIn(gaussianCases()));

TEST_F(KernelMemory, GaussianWithoutCountableTableAllocatesNothing) {
    struct Case {
        double sigma;
        double cutoff;
        const char* why;
    };
    const Case cases[] = {
        {1.0, kNaN, "cutoff not a number"},
        {1e9, 0.5, "radius past the countable range"},
        {kInf, 0.5, "infinite sigma"},
    };
    for (const Case& c : cases) {
        const std::uint64_t callsBefore = allocationCalls();
        GaussianKernel kernel(c.sigma, c.cutoff);
        EXPECT_EQ(kernel.weights, nullptr) << c.why;
        EXPECT_EQ(kernel.radius, 0) << c.why;
        EXPECT_EQ(allocationCalls(), callsBefore) << c.why;
    }
}

TEST_F(KernelMemory, GaussianFailedTableLeavesEmptyKernel) {
    qvlib::failAllocationAt(1);
    GaussianKernel kernel(2.0, 0.01);
    EXPECT_EQ(kernel.weights, nullptr);
    EXPECT_EQ(kernel.radius, 0);
    EXPECT_EQ(bits(kernel.sigma), bits(2.0));
}

TEST_F(KernelMemory, HeapGaussianLivesInHostMemory) {
    const std::uint64_t blocksBefore = doftest::liveBlocks();
    const std::uint64_t bytesBefore = liveBytes();
    Kernel* kernel = new GaussianKernel(2.0, 0.01);
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(doftest::liveBlocks(), blocksBefore + 2) << "object and table";
    EXPECT_EQ(liveBytes(), bytesBefore + sizeof(GaussianKernel) + 13 * 8);
    delete kernel;
    EXPECT_EQ(doftest::liveBlocks(), blocksBefore);
}

// --- normalize ------------------------------------------------------------

// The sum in the stated order: the left half one by one, then doubled, then
// the centre.
std::vector<double> normalizedByHand(const std::vector<double>& taps) {
    const std::size_t R = taps.size() / 2;
    double sum = 0.0;
    for (std::size_t i = 0; i < R; ++i) sum = sum + taps[i];
    sum = sum + sum + taps[R];
    const double f = 1.0 / sum;
    std::vector<double> out;
    for (double t : taps) out.push_back(t * f);
    return out;
}

class Normalize : public doftest::HostAllocTest {};

TEST_F(Normalize, GaussianSigmaOneCutoffHalf) {
    GaussianKernel kernel(1.0, 0.5);
    kernel.normalize();
    const double e = std::exp(-0.5);
    const double f = 1.0 / ((0.0 + e) + (0.0 + e) + 1.0);
    expectSameBits(tapsOf(kernel), {e * f, 1.0 * f, e * f}, "sigma 1, cutoff 0.5");
    EXPECT_NEAR(kernel.weights[0], 0.274069, 5e-7);
    EXPECT_NEAR(kernel.weights[1], 0.451863, 5e-7);
}

TEST_F(Normalize, TablesInTheStatedSumOrder) {
    struct Case {
        double sigmaOrHatRadius;
        bool hat;
        const char* why;
    };
    const Case cases[] = {
        {1.0, true, "hat of radius 1"},
        {2.25, true, "hat of radius 2.25"},
        {3.7, true, "hat of radius 3.7"},
        {2.0, false, "Gaussian sigma 2, cutoff 0.01"},
        {3.0, false, "Gaussian sigma 3, cutoff 0.01"},
    };
    for (const Case& c : cases) {
        std::vector<double> taps;
        if (c.hat) {
            taps = doftest::referenceHatTaps(c.sigmaOrHatRadius);
            HatKernel kernel(c.sigmaOrHatRadius);
            kernel.normalize();
            expectSameBits(tapsOf(kernel), normalizedByHand(taps), c.why);
        } else {
            GaussianKernel kernel(c.sigmaOrHatRadius, 0.01);
            taps = tapsOf(kernel);
            kernel.normalize();
            expectSameBits(tapsOf(kernel), normalizedByHand(taps), c.why);
        }
    }
}

TEST_F(Normalize, HatOfRadiusOneCentreNearHalf) {
    HatKernel kernel(1.0);
    kernel.normalize();
    EXPECT_NEAR(kernel.weights[2], 0.49999925, 5e-9);
}

TEST_F(Normalize, SingleTapBecomesOne) {
    GaussianKernel kernel(0.0, 0.5);
    kernel.normalize();
    ASSERT_EQ(kernel.radius, 0);
    EXPECT_EQ(bits(kernel.weights[0]), bits(1.0));
}

TEST_F(Normalize, ReadsOnlyLeftHalfAndCentre) {
    GaussianKernel kernel(2.0, 0.01);
    const int R = kernel.radius;
    std::vector<double> taps = tapsOf(kernel);
    for (int k = 1; k <= R; ++k) kernel.weights[R + k] = 7.0;
    const std::vector<double> left = normalizedByHand(taps);
    kernel.normalize();
    const double f = left[R];  // the centre was 1.0, so it holds f itself
    for (int i = 0; i <= R; ++i)
        EXPECT_EQ(bits(kernel.weights[i]), bits(left[i])) << "left tap " << i;
    for (int k = 1; k <= R; ++k)
        EXPECT_EQ(bits(kernel.weights[R + k]), bits(7.0 * f)) << "right tap " << k;
}

TEST_F(Normalize, KernelWithoutTableIsLeftAlone) {
    HatKernel kernel(kInf);
    kernel.normalize();
    EXPECT_EQ(kernel.weights, nullptr);
    EXPECT_EQ(kernel.radius, 0);
}

}  // namespace
