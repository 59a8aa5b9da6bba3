// Selector dispatch, set up, the description, the parameter declarations,
// the channel queries and clean up, through the host runtime; and the stop
// when the host's function table is not its own support library's.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/effect_fixture.h"
#include "support/same_bytes.h"

namespace {

using dof::runtime::TagValue;
using dof::test::sameBytes;

using Lifecycle = dof::test::HostAllocTest;

// Without capability bit 0x10 the effect refuses to describe itself and
// writes nothing, but the dispatcher has written the entry codes before.
TEST_F(Lifecycle, DescribeHostFlagRule) {
    const struct {
        std::uint8_t hostFlags;
        QVULong result;
    } cases[] = {{0x10, 1}, {0xFF, 1}, {0x11, 1}, {0x00, 0}, {0xEF, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.hostFlags));
        dof::runtime::EffectInstance instance(dof::test::effectLibrary(), c.hostFlags);
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

using Dispatch = dof::test::EffectTest;

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
        IFXFilterInstance before;  // every byte, padding included
        std::memcpy(&before, &instance->record(), sizeof before);
        const std::size_t declared = instance->declarations().size();
        const QVULong result = c.dispatcher == kEntry  ? instance->callEntry(c.selector)
                               : c.dispatcher == kInit ? instance->callInit(c.selector)
                                                       : instance->callExecute(c.selector);
        EXPECT_EQ(result, 1u);
        EXPECT_TRUE(sameBytes(&instance->record(), &before, sizeof before));
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
    ASSERT_NE(dof::test::effectLibrary().executeTest(), nullptr);
    EXPECT_EQ(dof::test::effectLibrary().executeTest()(), 0);
}

// Set up takes one block for the record and writes the instance's fields;
// finished after no render releases only null buffers; clean up gives the
// record back.
TEST_F(Lifecycle, SetupRecordHeldFromSetupToCleanup) {
    const std::uint64_t before = dof::test::liveBlocks();
    dof::runtime::EffectInstance instance(dof::test::effectLibrary());
    ASSERT_TRUE(instance.describe());
    ASSERT_TRUE(instance.setup());
    EXPECT_EQ(dof::test::liveBlocks(), before + 1);
    EXPECT_GE(dof::qvlib::allocStats().liveBytes, sizeof(Parameters));
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
    EXPECT_TRUE(sameBytes(first, nulls.data(), nulls.size()));
    EXPECT_EQ(instance.callExecute(12), 1u);
    EXPECT_EQ(dof::test::liveBlocks(), before + 1);
    EXPECT_TRUE(instance.cleanup());
    EXPECT_EQ(dof::test::liveBlocks(), before);
}

// The five declarations reach the host in exactly this order, with these
// kinds, value addresses, words and tag/value pairs; -65535 travels as the
// 32-bit word 0xFFFF0001.
TEST_F(Dispatch, FiveParametersDeclaredInOrder) {
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
TEST_F(Lifecycle, SetupOutOfMemoryWritesNothing) {
    dof::runtime::EffectInstance instance(dof::test::effectLibrary());
    ASSERT_TRUE(instance.describe());
    IFXFilterInstance expected;
    std::memcpy(&expected, &instance.record(), sizeof expected);
    dof::qvlib::failAllocationAt(1);
    EXPECT_FALSE(instance.setup());
    EXPECT_TRUE(instance.declarations().empty());
    EXPECT_NE(instance.record().initEntry, nullptr);
    expected.initEntry = instance.record().initEntry;
    expected.executeEntry = instance.record().executeEntry;
    EXPECT_TRUE(sameBytes(&instance.record(), &expected, sizeof expected));
}

// ENTRYPOINT1 stops the process when the host's function table does not
// carry its own support library's allocator and bitmap functions.
void* otherAlloc(QVULong, QVULong) { return nullptr; }
void otherFree(void*) {}
QVBitmap* otherAllocBitmap(QVLong, QVLong, QVBitmapType, char*) { return nullptr; }

enum Entry { kAllocMem = 1, kFreeMem = 2, kAllocBitmap = 4 };

void describeWithReplaced(int entries) {
    dof::runtime::EffectInstance instance(dof::test::effectLibrary());
    if (entries & kAllocMem) instance.record().FilterInfo->AllocMem = otherAlloc;
    if (entries & kFreeMem) instance.record().FilterInfo->FreeMem = otherFree;
    if (entries & kAllocBitmap) instance.record().FilterInfo->AllocBitmap = otherAllocBitmap;
    instance.callEntry(1);
}

// The whole message, anchored at both ends, and an abort. Under the 32-bit
// emulator the emulator adds one line of its own about the signal.
#define EMULATOR_LINE "(qemu: [^\n]*\n)?"

TEST(EntryAssertionDeathTest, EachTableCheckInOrder) {
    GTEST_FLAG_SET(death_test_style, "fast");
    const struct {
        int entries;
        const char* message;
    } cases[] = {
        // clang-format off
        {kAllocMem, "^FILTMAIN:219: failed assertion `filterInstance->FilterInfo->AllocMem == AllocMemQV'\n" EMULATOR_LINE "$"},
        {kFreeMem, "^FILTMAIN:220: failed assertion `filterInstance->FilterInfo->FreeMem == FreeMemQV'\n" EMULATOR_LINE "$"},
        {kAllocBitmap, "^FILTMAIN:221: failed assertion `filterInstance->FilterInfo->AllocBitmap == AllocBitmapQV'\n" EMULATOR_LINE "$"},
        // With every entry wrong the first check reports.
        {kAllocMem | kFreeMem | kAllocBitmap, "^FILTMAIN:219: "},
        // clang-format on
    };
    for (const auto& c : cases)
        EXPECT_EXIT(describeWithReplaced(c.entries), testing::KilledBySignal(SIGABRT), c.message);
}

}  // namespace
