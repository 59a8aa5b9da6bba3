// ENTRYPOINT1 stops the process when the host's function table does not
// carry its own support library's allocator and bitmap functions.
#include <gtest/gtest.h>

#include "support/effect_fixture.h"

namespace {

void* otherAlloc(QVULong, QVULong) { return nullptr; }
void otherFree(void*) {}
QVBitmap* otherAllocBitmap(QVLong, QVLong, QVBitmapType, char*) { return nullptr; }

enum Entry { kAllocMem = 1, kFreeMem = 2, kAllocBitmap = 4 };

void describeWithReplaced(int entries) {
    dofrt::EffectInstance instance(doftest::effectLibrary());
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
        {kAllocMem,
         "^FILTMAIN:219: failed assertion `filterInstance->FilterInfo->AllocMem == "
         "AllocMemQV'\n" EMULATOR_LINE "$"},
        {kFreeMem,
         "^FILTMAIN:220: failed assertion `filterInstance->FilterInfo->FreeMem == "
         "FreeMemQV'\n" EMULATOR_LINE "$"},
        {kAllocBitmap,
         "^FILTMAIN:221: failed assertion `filterInstance->FilterInfo->AllocBitmap == "
         "AllocBitmapQV'\n" EMULATOR_LINE "$"},
        // With every entry wrong the first check reports.
        {kAllocMem | kFreeMem | kAllocBitmap, "^FILTMAIN:219: "},
    };
    for (const auto& c : cases)
        EXPECT_EXIT(describeWithReplaced(c.entries), testing::KilledBySignal(SIGABRT), c.message);
}

}  // namespace
