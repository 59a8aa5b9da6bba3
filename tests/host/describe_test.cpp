#include <gtest/gtest.h>

#include "support/effect_fixture.h"

namespace {

TEST(Describe, LoadsAndDescribes) {
    dofrt::EffectInstance instance(doftest::effectLibrary());
    ASSERT_EQ(instance.describe(), true);
    EXPECT_STREQ(instance.record().categoryName, "3D Post");
}

}  // namespace
