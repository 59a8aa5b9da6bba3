// ENTRYPOINT1 stops the process when the host's function table does not
// carry its own support library's allocator and bitmap functions.
#include <gtest/gtest.h>

#include "support/effect_fixture.h"

namespace {

void* otherAlloc(QVULong, QVULong) { return nullptr; }
void otherFree(void*) {}
QVBitmap* otherAllocBitmap(QVLong, QVLong, QVBitmapType, char*) { return nullptr; }

enum class Replace { AllocMem, FreeMem, AllocBitmap };

void callWithReplacedEntry(Replace which) {
    dofrt::EffectInstance instance(doftest::effectLibrary());
    struct FilterInfo& info = *instance.record().FilterInfo;
    switch (which) {
        case Replace::AllocMem:
            info.AllocMem = otherAlloc;
            break;
        case Replace::FreeMem:
            info.FreeMem = otherFree;
            break;
        case Replace::AllocBitmap:
            info.AllocBitmap = otherAllocBitmap;
            break;
    }
    instance.callEntry(1);
}

// The whole message, anchored at both ends, and an abort (SIGABRT). Under
// the 32-bit emulator the emulator adds one line of its own about the signal.
#define EMULATOR_LINE "(qemu: [^\n]*\n)?"

TEST(EntryAssertionDeathTest, EachTableCheck) {
    GTEST_FLAG_SET(death_test_style, "fast");
    struct Case {
        Replace which;
        const char* message;
    };
    const Case cases[] = {
        {Replace::AllocMem,
         "^FILTMAIN:219: failed assertion `filterInstance->FilterInfo->AllocMem == "
         "AllocMemQV'\n" EMULATOR_LINE "$"},
        {Replace::FreeMem,
         "^FILTMAIN:220: failed assertion `filterInstance->FilterInfo->FreeMem == "
         "FreeMemQV'\n" EMULATOR_LINE "$"},
        {Replace::AllocBitmap,
         "^FILTMAIN:221: failed assertion `filterInstance->FilterInfo->AllocBitmap == "
         "AllocBitmapQV'\n" EMULATOR_LINE "$"},
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(callWithReplacedEntry(c.which), testing::KilledBySignal(SIGABRT), c.message);
    }
}

// The checks run in order: with every entry wrong, the first one reports.
TEST(EntryAssertionDeathTest, FirstFailingCheckReports) {
    GTEST_FLAG_SET(death_test_style, "fast");
    auto allWrong = [] {
        dofrt::EffectInstance instance(doftest::effectLibrary());
        instance.record().FilterInfo->AllocMem = otherAlloc;
        instance.record().FilterInfo->FreeMem = otherFree;
        instance.record().FilterInfo->AllocBitmap = otherAllocBitmap;
        instance.callEntry(2);
    };
    EXPECT_EXIT(allWrong(), testing::KilledBySignal(SIGABRT), "^FILTMAIN:219: ");
}

// A correct table passes the checks: no message, the selector runs.
TEST(EntryAssertion, CorrectTablePasses) {
    dofrt::EffectInstance instance(doftest::effectLibrary());
    EXPECT_EQ(instance.callEntry(1), 1u);
}

}  // namespace
