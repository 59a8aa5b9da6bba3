#include "support/effect_fixture.h"

#include <cstdlib>

namespace dof::test {

const runtime::EffectLibrary& effectLibrary() {
    static std::unique_ptr<runtime::EffectLibrary> library = [] {
        std::string error;
        auto loaded = runtime::loadDepthOfField(&error, DOF_TEST_EFFECTS_DIR);
        if (!loaded) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        return loaded;
    }();
    return *library;
}

std::uint64_t liveBlocks() { return dof::qvlib::allocStats().liveBlocks; }

void HostAllocTest::SetUp() {
    dof::qvlib::failAllocationAt(0);
    dof::qvlib::failAllAllocations(false);
    liveAtStart_ = liveBlocks();
}

void HostAllocTest::TearDown() {
    splat_walk_tuning() = tuning_;
    dof::qvlib::failAllocationAt(0);
    dof::qvlib::failAllAllocations(false);
    EXPECT_EQ(liveBlocks(), liveAtStart_) << "host allocations left live";
}

void EffectTest::SetUp() {
    HostAllocTest::SetUp();
    instance.reset(new runtime::EffectInstance(effectLibrary()));
    ASSERT_TRUE(instance->describe());
    ASSERT_TRUE(instance->setup());
}

void EffectTest::TearDown() {
    instance.reset();
    HostAllocTest::TearDown();
}

}  // namespace dof::test
