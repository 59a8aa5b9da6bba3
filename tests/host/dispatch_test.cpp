// Selector dispatch, the description and the channel queries, through the
// host runtime.
#include <gtest/gtest.h>

#include <vector>

#include "support/effect_fixture.h"
#include "support/same_bytes.h"

namespace {

using testsupport::sameBytes;

// The record's bytes, padding included, to show a call left it alone.
std::vector<unsigned char> bytesOf(const IFXFilterInstance& record) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&record);
    return std::vector<unsigned char>(p, p + sizeof record);
}

// Without capability bit 0x10 the effect refuses to describe itself and
// writes nothing, but the dispatcher has written the entry codes before.
using Describe = doftest::HostAllocTest;

TEST_F(Describe, HostFlagRule) {
    const struct {
        std::uint8_t hostFlags;
        QVULong result;
    } cases[] = {{0x10, 1}, {0xFF, 1}, {0x11, 1}, {0x00, 0}, {0xEF, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.hostFlags));
        dofrt::EffectInstance instance(doftest::effectLibrary(), c.hostFlags);
        EXPECT_EQ(instance.callEntry(1), c.result);
        const IFXFilterInstance& r = instance.record();
        const bool named = c.result == 1;
        EXPECT_EQ(r.entryCode1, 1);
        EXPECT_EQ(r.entryCode2, 2);
        EXPECT_STREQ(r.menuName, named ? "3D Depth of Field..." : nullptr);
        EXPECT_STREQ(r.categoryName, named ? "3D Post" : nullptr);
        EXPECT_EQ(r.infoCode1, named ? 2 : 0);
        EXPECT_EQ(r.infoCode2, 0);
        EXPECT_EQ(r.menuNameId, named ? 30013 : 0);
        EXPECT_EQ(r.categoryNameId, named ? 30000 : 0);
        EXPECT_EQ(r.parameters, nullptr);
    }
}

using Dispatch = doftest::EffectTest;

// Answered 1 without a handler touching the instance or declaring anything.
TEST_F(Dispatch, SelectorsThatWriteNothing) {
    enum { kEntry, kInit, kExecute };
    const struct {
        int dispatcher;
        QVULong selector;
        const char* why;
    } cases[] = {
        {kEntry, 0, "below describe"},
        {kEntry, 4, "past clean up"},
        {kEntry, 0xFFFFFFFFu, "the largest selector"},
        {kInit, 0, "below describe"},
        {kInit, 9, "past clean up"},
        {kInit, 10, "prepare is an execute selector"},
        {kExecute, 1, "describe is an initialisation selector"},
        {kExecute, 9, "below prepare"},
        {kExecute, 13, "output size has nothing to write"},
        {kExecute, 15, "past the query"},
        {kExecute, 0x80000000u, "the top bit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const std::vector<unsigned char> before = bytesOf(instance->record());
        const std::size_t declared = instance->declarations().size();
        const QVULong result = c.dispatcher == kEntry  ? instance->callEntry(c.selector)
                               : c.dispatcher == kInit ? instance->callInit(c.selector)
                                                       : instance->callExecute(c.selector);
        EXPECT_EQ(result, 1u);
        EXPECT_TRUE(sameBytes(bytesOf(instance->record()), before));
        EXPECT_EQ(instance->declarations().size(), declared);
    }
}

// The two masks, and nothing written by the other sub-selectors.
TEST_F(Dispatch, QuerySubSelectors) {
    const std::uint32_t untouched = 0xA5A5A5A5u;
    const struct {
        std::uint32_t sub;
        std::uint32_t expected;
    } cases[] = {{1, 0x3761}, {2, untouched}, {3, untouched}, {4, untouched},
                 {5, 0x7FFF}, {0, untouched}, {6, untouched}, {0xFFFFFFFFu, untouched}};
    for (const auto& c : cases) {
        std::uint32_t mask = untouched;
        EXPECT_EQ(instance->query(c.sub, &mask), 1u) << c.sub;
        EXPECT_EQ(mask, c.expected) << c.sub;
    }
}

// ExecuteTest, exported for the host's self-test, answers 0. (The entries
// that set up hands the host are the dispatchers every other test calls.)
TEST_F(Dispatch, ExecuteTestAnswersZero) {
    ASSERT_NE(doftest::effectLibrary().executeTest(), nullptr);
    EXPECT_EQ(doftest::effectLibrary().executeTest()(), 0);
}

}  // namespace
