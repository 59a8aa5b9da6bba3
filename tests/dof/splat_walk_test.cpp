// The blocked walk against the literal one: random fragments queued through
// the walk, with every vector variant this processor runs, leave the twelve
// planes bit for bit as splat_pixel called once per fragment leaves them.
#include "dof/splat_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "qvlib_testing.h"
#include "support/effect_fixture.h"
#include "support/random.h"
#include "support/same_bytes.h"

namespace {

using testsupport::Random;

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The twelve planes of a region, in the record's order.
struct Planes {
    explicit Planes(QVRect region)
        : data(12, std::vector<double>(std::size_t(region.width) * std::size_t(region.height))) {
        instance.renderRegion = region;
        double** slots[12] = {&params.colourSumR,  &params.colourSumG,  &params.colourSumB,
                              &params.opacitySumR, &params.opacitySumG, &params.opacitySumB,
                              &params.transmitR,   &params.transmitG,   &params.transmitB,
                              &params.weightSumR,  &params.weightSumG,  &params.weightSumB};
        for (int p = 0; p < 12; ++p) {
            *slots[p] = data[std::size_t(p)].data();
            for (double& v : data[std::size_t(p)]) v = p >= 6 && p < 9 ? 1.0 : 0.0;
        }
    }

    // Planes left by earlier passes: per element, channels whose weights,
    // transmittances and opacities agree (as fragments of equal coverage
    // leave them) or not.
    void randomise(Random& random) {
        for (std::size_t i = 0; i < data[0].size(); ++i) {
            // 0: nothing agrees; 1: weights; 2: and transmittances; 3: and
            // opacities equal to the weights.
            const int agree = random.below(4);
            const double w = 3.0 * random.unit(), t = random.unit();
            for (int c = 0; c < 3; ++c) {
                data[std::size_t(c)][i] = random.unit();
                data[std::size_t(3 + c)][i] = agree == 3 ? w : random.unit();
                data[std::size_t(6 + c)][i] = agree >= 2 ? t : random.unit();
                data[std::size_t(9 + c)][i] = agree >= 1 ? w : 3.0 * random.unit();
            }
        }
    }
    IFXFilterInstance instance{};
    Parameters params{};
    std::vector<std::vector<double>> data;
};

double pick(Random& random, const std::vector<double>& values) {
    return values[std::size_t(random.below(int(values.size())))];
}

// Fragments of every kind the walk tells apart: coverage equal or not and
// exactly 1, opacity 1 or not, radii from none to past the region, and now
// and then a colour that is not finite.
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

std::vector<SplatVariant> variants() {
    std::vector<SplatVariant> out;
    for (SplatVariant v : {kSplatSSE2, kSplatAVX2, kSplatAVX512})
        if (splat_group_kernels(v) != nullptr) out.push_back(v);
    return out;
}

class SplatWalkTest : public doftest::HostAllocTest {
protected:
    void TearDown() override {
        splat_walk_tuning() = saved_;
        doftest::HostAllocTest::TearDown();
    }
    SplatWalkTuning saved_ = splat_walk_tuning();
};

TEST_F(SplatWalkTest, RandomFragmentsMatchTheLiteralWalk) {
    for (SplatVariant variant : variants()) {
        for (std::uint32_t seed = 1; seed <= 150; ++seed) {
            Random random(seed);
            const QVRect region{random.between(-5, 5), random.between(-5, 5),
                                random.chance(15) ? 1 : random.between(1, 90),
                                random.chance(15) ? 1 : random.between(1, 30)};
            splat_walk_tuning() = {variant, std::uint64_t(random.between(1, 6000)),
                                   random.between(1, 9), 8 * random.between(1, 8)};
            Planes literal(region), blocked(region);
            if (seed % 2 == 0) {
                literal.randomise(random);
                for (int p = 0; p < 12; ++p)
                    std::copy(literal.data[std::size_t(p)].begin(),
                              literal.data[std::size_t(p)].end(),
                              blocked.data[std::size_t(p)].begin());
            }
            SplatWalk walk(blocked.instance, &blocked.params);
            ASSERT_TRUE(walk.start());
            const int count = random.between(1, 120);
            SplatFragment f = randomFragment(random, region, 0);
            for (int i = 0; i < count; ++i) {
                // Mostly sweeps along a row with gaps, as the pass visits
                // pixels: wide groups of similar hats.
                const int x = f.x + random.between(1, 24);
                const bool sweep = random.chance(70) && x < region.left + region.width;
                const double radius = f.radiusX;
                f = randomFragment(random, region, seed % 3 == 0 ? 8 : 0);
                if (sweep) {
                    f.x = x;
                    f.radiusX = f.radiusY = radius + random.unit() - 0.5;
                }
                ASSERT_TRUE(splat_fragment(literal.instance, &literal.params, f));
                ASSERT_TRUE(walk.add(f));
                if (random.chance(60)) walk.endPixel();
            }
            walk.flush();
            for (int p = 0; p < 12; ++p)
                ASSERT_TRUE(testsupport::sameBytes(blocked.data[std::size_t(p)],
                                                   literal.data[std::size_t(p)]))
                    << "variant " << variant << ", seed " << seed << ", plane " << p;
        }
    }
}

// Where the literal walk fails for want of a hat table, the walk applies
// the fragments before and answers false; scratch it cannot have fails its
// start, and nothing stays allocated (the fixture counts the blocks).
TEST_F(SplatWalkTest, FailsWhereTheLiteralWalkFails) {
    for (double radius : {kInf, 1e9}) {
        Random random(5);
        const QVRect region{0, 0, 20, 15};
        Planes literal(region), blocked(region);
        SplatWalk walk(blocked.instance, &blocked.params);
        ASSERT_TRUE(walk.start());
        for (int i = 0; i < 30; ++i) {
            const SplatFragment f = randomFragment(random, region, 0);
            ASSERT_TRUE(splat_fragment(literal.instance, &literal.params, f));
            ASSERT_TRUE(walk.add(f));
        }
        SplatFragment huge = randomFragment(random, region, 0);
        huge.radiusY = radius;
        EXPECT_FALSE(splat_fragment(literal.instance, &literal.params, huge));
        EXPECT_FALSE(walk.add(huge));
        for (std::size_t p = 0; p < 12; ++p)
            EXPECT_TRUE(testsupport::sameBytes(blocked.data[p], literal.data[p])) << "plane " << p;
    }
    Planes planes({0, 0, 20, 15});
    SplatWalk walk(planes.instance, &planes.params);
    qvlib::failAllocationAt(1);
    EXPECT_FALSE(walk.start());
}

}  // namespace
