// Loads the built effect through the runtime, once per test program, and
// checks that every test leaves no host allocation live.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "dof/splat_walk.h"
#include "qvlib_testing.h"
#include "runtime/EffectInstance.h"
#include "runtime/EffectLibrary.h"

namespace dof::test {

// The effect library built beside the tests.
const runtime::EffectLibrary& effectLibrary();

// Live blocks of the host allocator right now.
std::uint64_t liveBlocks();

// Base fixture: records the allocator's live blocks before a test and expects
// the same number after it, disarms any injected failure, and puts back the
// splatting walk's tuning, which tests may change.
class HostAllocTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    std::uint64_t liveAtStart_ = 0;
    SplatWalkTuning tuning_ = splat_walk_tuning();
};

// An instance of the effect, described and set up.
class EffectTest : public HostAllocTest {
protected:
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<runtime::EffectInstance> instance;
};

}  // namespace dof::test
