#include "support/effect_fixture.h"

#include <cstdlib>

namespace doftest {

const dofrt::EffectLibrary& effectLibrary() {
    static std::unique_ptr<dofrt::EffectLibrary> library = [] {
        std::string error;
        auto loaded = dofrt::loadDepthOfField(&error, DOF_TEST_EFFECTS_DIR);
        if (!loaded) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        return loaded;
    }();
    return *library;
}

std::uint64_t liveBlocks() { return qvlib::allocStats().liveBlocks; }

void HostAllocTest::SetUp() {
    qvlib::failAllocationAt(0);
    qvlib::failAllAllocations(false);
    liveAtStart_ = liveBlocks();
}

void HostAllocTest::TearDown() {
    splat_walk_tuning() = tuning_;
    qvlib::failAllocationAt(0);
    qvlib::failAllAllocations(false);
    EXPECT_EQ(liveBlocks(), liveAtStart_) << "host allocations left live";
}

void EffectTest::SetUp() {
    HostAllocTest::SetUp();
    instance.reset(new dofrt::EffectInstance(effectLibrary()));
    ASSERT_TRUE(instance->describe());
    ASSERT_TRUE(instance->setup());
}

void EffectTest::TearDown() {
    instance.reset();
    HostAllocTest::TearDown();
}

}  // namespace doftest
