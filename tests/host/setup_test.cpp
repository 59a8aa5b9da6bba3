// Set up, the parameter declarations and clean up, through the host runtime.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/effect_fixture.h"
#include "support/same_bytes.h"

namespace {

using dofrt::TagValue;

using SetupLifecycle = doftest::HostAllocTest;

// Set up takes one block for the record and writes the instance's fields;
// finished after no render releases only null buffers; clean up gives the
// record back.
TEST_F(SetupLifecycle, RecordHeldFromSetupToCleanup) {
    const std::uint64_t before = doftest::liveBlocks();
    dofrt::EffectInstance instance(doftest::effectLibrary());
    ASSERT_TRUE(instance.describe());
    ASSERT_TRUE(instance.setup());
    EXPECT_EQ(doftest::liveBlocks(), before + 1);
    EXPECT_GE(qvlib::allocStats().liveBytes, sizeof(Parameters));
    const IFXFilterInstance& r = instance.record();
    EXPECT_EQ(r.setupFlags, 0xE0000000u);
    EXPECT_EQ(r.setupWord, 0x3F1A36E2u);
    EXPECT_STREQ(r.setupString, "chch-h");
    const Parameters* p = instance.parameters();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->radius, 0.0);
    EXPECT_EQ(p->mode, 1.0);
    EXPECT_EQ(p->focalDepth, -1.0);
    EXPECT_EQ(p->focusRangeDepth, 0.0);
    // The fourteen buffer pointers, alphaTable to cocMap, follow one another.
    const char* first = reinterpret_cast<const char*>(&p->alphaTable);
    const std::vector<char> nulls(reinterpret_cast<const char*>(&p->cocMap + 1) - first, 0);
    EXPECT_EQ(nulls.size(), 14 * sizeof(void*));
    EXPECT_TRUE(testsupport::sameBytes(first, nulls.data(), nulls.size()));
    EXPECT_EQ(instance.callExecute(12), 1u);
    EXPECT_EQ(doftest::liveBlocks(), before + 1);
    EXPECT_TRUE(instance.cleanup());
    EXPECT_EQ(doftest::liveBlocks(), before);
}

using Declarations = doftest::EffectTest;

// The five declarations reach the host in exactly this order, with these
// kinds, value addresses, words and tag/value pairs; -65535 travels as the
// 32-bit word 0xFFFF0001.
TEST_F(Declarations, FiveParametersInOrder) {
    Parameters* p = instance->parameters();
    const struct {
        int kind;
        double* value;
        std::vector<TagValue> tags;
    } expected[] = {
        // clang-format off
        {12, nullptr, {}},
        {16, &p->focalDepth, {{0x2000A, std::int32_t(0xFFFF0001u), ""}, {0x2000B, -1, ""},
                              {0x20020, 1, ""}, {0x20024, 30156, ""}}},
        {16, &p->focusRangeDepth, {{0x2000A, -65535, ""}, {0x2000B, -1, ""}, {0x20020, 1, ""},
                                   {0x20024, 30298, ""}, {0x20007, 4, ""}}},
        {4, &p->radius, {{0x2000A, 0, ""}, {0x2000B, 64, ""}, {0x20008, 0, ""},
                         {0x20024, 30183, ""}, {0x20007, 2, ""}}},
        {8, &p->mode, {{0x20012, 0, GetStringQV(30336)}, {0x20005, 0, ""}, {0x20024, 30124, ""}}},
        // clang-format on
    };
    const auto& declared = instance->declarations();
    ASSERT_EQ(declared.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(declared[i].kind, expected[i].kind);
        EXPECT_EQ(declared[i].value, expected[i].value);
        EXPECT_EQ(declared[i].zeroWord, 0);
        EXPECT_EQ(declared[i].tags, expected[i].tags);
    }
}

// No record: result 0, nothing declared, and no instance field written
// beyond the two entry addresses the dispatcher stores before the handler.
TEST_F(SetupLifecycle, OutOfMemoryWritesNothing) {
    dofrt::EffectInstance instance(doftest::effectLibrary());
    ASSERT_TRUE(instance.describe());
    IFXFilterInstance expected;
    std::memcpy(&expected, &instance.record(), sizeof expected);
    qvlib::failAllocationAt(1);
    EXPECT_FALSE(instance.setup());
    EXPECT_TRUE(instance.declarations().empty());
    EXPECT_NE(instance.record().initEntry, nullptr);
    expected.initEntry = instance.record().initEntry;
    expected.executeEntry = instance.record().executeEntry;
    EXPECT_TRUE(testsupport::sameBytes(&instance.record(), &expected, sizeof expected));
}

}  // namespace
