#include "kernels/Kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "qvlib_testing.h"
#include "support/effect_fixture.h"
#include "support/kernel_reference.h"
#include "support/random.h"
#include "support/same_bytes.h"

namespace {

using dof::test::sameBytes;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

using Kernels = dof::test::HostAllocTest;

std::vector<double> tapsOf(const Kernel& k) {
    if (k.weights == nullptr) return {};
    return std::vector<double>(k.weights, k.weights + 2 * k.radius + 1);
}

// The taps at distance 1, 2, ... R from the centre, worked out as hex floats
// with every step rounded to double: step = RN(0.5 / RN(r + 0.000001)), then
// one subtraction of it per tap.
struct HatRow {
    double r;
    int R;
    std::vector<double> outward;
    const char* why;
    // Normalized: f = RN(1 / (RN(2 RN(t2 + t1)) + 1)), every tap times f.
    std::vector<double> normalized = {};
};

// clang-format off
const HatRow kHats[] = {
    {0.0, 0, {}, "zero radius: one tap"},
    {kNaN, 0, {}, "not a number: one tap"},
    {0.4, 0, {}, "2r = 0.8 cuts to 0"},
    {0.5, 1, {0x1.0c6f56dc4p-19}, "about 0.000002"},
    // 1 - 2 step would end in ...38p-20; the normalized centre is about 0.49999925.
    {1.0, 2, {0x1.000010c6f6874p-1, 0x1.0c6f6873cp-20}, "two subtractions, not one product",
     {0x1.0c6f4e105fcbcp-21, 0x1.ffffef390b1efp-3, 0x1.ffffcdab215cep-2, 0x1.ffffef390b1efp-3,
      0x1.0c6f4e105fcbcp-21}},
    {2.25, 4, {0x1.8e38e6de9c464p-1, 0x1.1c71cdbd388c8p-1, 0x1.55556937a9a58p-2, 0x1.c71cdbd388c8p-4},
     "about 0.78, 0.56, 0.33, 0.11: ends short of zero"},
};
// clang-format on

TEST_F(Kernels, HatTapsHandWorked) {
    for (const HatRow& row : kHats) {
        SCOPED_TRACE(row.why);
        std::vector<double> expected(row.outward.rbegin(), row.outward.rend());
        expected.push_back(1.0);
        expected.insert(expected.end(), row.outward.begin(), row.outward.end());
        HatKernel kernel(row.r);
        EXPECT_EQ(kernel.radius, row.R);
        EXPECT_TRUE(sameBytes(tapsOf(kernel), expected));
        if (row.normalized.empty()) continue;
        kernel.normalize();
        EXPECT_TRUE(sameBytes(tapsOf(kernel), row.normalized)) << "normalized";
    }
}

// R by hand: the whole part of sqrt(2 s^2 ln(1 / c)), s = sigma raised to
// 0.01 and c = cutoff limited to [0.000001, 0.999999].
struct GaussianRow {
    double sigma, cutoff;
    int R;
    double endTap;  // rounded, from a table of exp
    const char* why;
};

const GaussianRow kGaussians[] = {
    {1, 0.5, 1, 0.606531, "sqrt(2 ln 2) = 1.18"},
    {3, 0.1, 6, 0.135335, "sqrt(18 ln 10) = 6.44"},
    {3, 0.01, 9, 0.011109, "9.10; tap 7 tells a product by 1 / 2s^2 from a division"},
    {0, 0.5, 0, 1, "sigma raised to 0.01"},
    {kNaN, 0.5, 0, 1, "sigma not a number raised to 0.01"},
    {700, 1, 0, 1, "sqrt(0.98) below 1"},
    {800, 1, 1, 0.99999922, "sqrt(1.28) above 1"},
    {1, -1, 5, 0.0000037, "negative cutoff limited to 0.000001: sqrt(2 ln 1e6) = 5.26"},
};

TEST_F(Kernels, GaussianTaps) {
    for (const GaussianRow& row : kGaussians) {
        SCOPED_TRACE(row.why);
        GaussianKernel kernel(row.sigma, row.cutoff);
        ASSERT_EQ(kernel.radius, row.R);
        EXPECT_TRUE(sameBytes(&kernel.sigma, &row.sigma, sizeof row.sigma)) << "kept as passed";
        EXPECT_TRUE(sameBytes(tapsOf(kernel), dof::test::referenceGaussianTaps(row.sigma, row.R)));
        EXPECT_NEAR(kernel.weights[0], row.endTap, 5e-7);
    }
}

// The left half summed in index order, doubled, plus the centre.
TEST_F(Kernels, NormalizeRandomKernelsMatchReference) {
    dof::test::Random random(1414);
    for (int i = 0; i < 200; ++i) {
        const double size = random.unit() * 12.0;
        std::unique_ptr<Kernel> kernel(i % 2 ? static_cast<Kernel*>(new HatKernel(size))
                                             : new GaussianKernel(size, random.unit()));
        const std::vector<double> before = tapsOf(*kernel);
        kernel->normalize();
        EXPECT_TRUE(sameBytes(tapsOf(*kernel), dof::test::referenceNormalized(before))) << i;
    }
}

// What building a kernel on the heap takes from the host allocator: the
// object, then its table. Tables that a 32-bit size cannot count (2R + 1
// doubles past 2^31 bytes, R above 134217727) are not asked for.
struct MemoryRow {
    bool gaussian;
    double a, b;  // r, or sigma and cutoff
    int failAt;   // the allocation call that fails, 0 for none
    int calls;
    int taps;  // 0: no table
    const char* why;
};

const MemoryRow kMemory[] = {
    {false, 2.25, 0, 0, 2, 9, "object and 2R + 1 doubles"},
    {true, 2.0, 0.01, 0, 2, 13, "a Gaussian: object and table"},
    {false, 2.25, 0, 2, 2, 0, "a refused table leaves an empty kernel, which still deletes"},
    {false, 1.0, 0, 1, 1, 0, "a refused object: null, no constructor run"},
    {false, kInf, 0, 0, 1, 0, "infinite radius"},
    {false, 67108864.0, 0, 0, 1, 0, "2r one past the countable radius"},
    {false, 67108863.75, 0, 0, 2, 0, "the largest countable radius asks for its table"},
    {true, 1.0, kNaN, 0, 1, 0, "cutoff not a number"},
    {true, 1e9, 0.5, 0, 1, 0, "sigma past the countable range"},
};

TEST_F(Kernels, HostMemory) {
    for (const MemoryRow& row : kMemory) {
        SCOPED_TRACE(row.why);
        const dof::qvlib::AllocStats before = dof::qvlib::allocStats();
        dof::qvlib::failAllocationAt(row.failAt);
        dof::qvlib::setAllocationLimit(1 << 20);  // no need to hold 2 GB for the largest radius
        std::unique_ptr<Kernel> kernel(row.gaussian
                                           ? static_cast<Kernel*>(new GaussianKernel(row.a, row.b))
                                           : new HatKernel(row.a));
        dof::qvlib::setAllocationLimit(0xFFFFFFFFull);
        dof::qvlib::failAllocationAt(0);

        const dof::qvlib::AllocStats during = dof::qvlib::allocStats();
        EXPECT_EQ(during.totalAllocations - before.totalAllocations, std::uint64_t(row.calls));
        const std::uint64_t object =
            kernel ? (row.gaussian ? sizeof(GaussianKernel) : sizeof(HatKernel)) : 0;
        EXPECT_EQ(during.liveBytes - before.liveBytes, object + 8u * row.taps);
        ASSERT_EQ(kernel == nullptr, row.failAt == 1);
        if (kernel == nullptr) continue;
        kernel->normalize();  // nothing to scale without a table
        EXPECT_EQ(kernel->weights == nullptr, row.taps == 0);
        EXPECT_EQ(2 * kernel->radius + 1, row.taps ? row.taps : 1);
    }
}

}  // namespace
