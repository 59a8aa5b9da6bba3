// Selector dispatch and the description, through the host runtime.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/effect_fixture.h"

namespace {

using doftest::EffectTest;
using doftest::HostAllocTest;

// The record's bytes, to prove a call left the instance alone.
std::vector<unsigned char> bytesOf(const IFXFilterInstance& record) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&record);
    return std::vector<unsigned char>(p, p + sizeof record);
}

class Describe : public HostAllocTest {};

TEST_F(Describe, WritesNamesCategoryAndCodes) {
    dofrt::EffectInstance instance(doftest::effectLibrary());
    EXPECT_EQ(instance.callEntry(1), 1u);
    const IFXFilterInstance& r = instance.record();
    EXPECT_STREQ(r.menuName, "3D Depth of Field...");
    EXPECT_STREQ(r.categoryName, "3D Post");
    EXPECT_EQ(r.infoCode1, 2);
    EXPECT_EQ(r.infoCode2, 0);
    EXPECT_EQ(r.entryCode1, 1);
    EXPECT_EQ(r.entryCode2, 2);
    EXPECT_EQ(r.menuNameId, 30013);
    EXPECT_EQ(r.categoryNameId, 30000);
    EXPECT_EQ(r.parameters, nullptr);
}

// Without capability bit 0x10 the effect refuses to describe itself, but the
// dispatcher has written the entry codes already.
TEST_F(Describe, HostFlagRule) {
    struct Case {
        std::uint8_t hostFlags;
        QVULong result;
        bool named;
    };
    const Case cases[] = {
        {0x10, 1, true}, {0xFF, 1, true}, {0x00, 0, false}, {0xEF, 0, false}, {0x11, 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.hostFlags));
        dofrt::EffectInstance instance(doftest::effectLibrary(), c.hostFlags);
        EXPECT_EQ(instance.callEntry(1), c.result);
        const IFXFilterInstance& r = instance.record();
        EXPECT_EQ(r.entryCode1, 1);
        EXPECT_EQ(r.entryCode2, 2);
        if (c.named) {
            EXPECT_STREQ(r.menuName, "3D Depth of Field...");
        } else {
            EXPECT_EQ(r.menuName, nullptr);
            EXPECT_EQ(r.categoryName, nullptr);
            EXPECT_EQ(r.infoCode1, 0);
            EXPECT_EQ(r.menuNameId, 0);
            EXPECT_EQ(r.categoryNameId, 0);
        }
    }
}

class Dispatch : public EffectTest {};

// Unknown selectors answer 1 and touch nothing, on every dispatcher.
TEST_F(Dispatch, UnknownSelectorLeavesInstance) {
    struct Case {
        int dispatcher;  // 0 ENTRYPOINT1, 1 InitFunc, 2 ExecuteFunc
        QVULong selector;
    };
    const Case cases[] = {{0, 0}, {0, 4},  {0, 9},          {0, 0xFFFFFFFFu}, {1, 0},
                          {1, 4}, {1, 9},  {1, 10},         {2, 0},           {2, 1},
                          {2, 9}, {2, 15}, {2, 0x80000000u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dispatcher << "/" << c.selector);
        const auto before = bytesOf(instance->record());
        const unsigned declared = unsigned(instance->declarations().size());
        QVULong result = 0;
        switch (c.dispatcher) {
            case 0:
                result = instance->callEntry(c.selector);
                break;
            case 1:
                result = instance->callInit(c.selector);
                break;
            default:
                result = instance->callExecute(c.selector);
                break;
        }
        EXPECT_EQ(result, 1u);
        EXPECT_EQ(bytesOf(instance->record()), before);
        EXPECT_EQ(instance->declarations().size(), declared);
    }
}

// Query sub-selectors: the two masks, and nothing written by the others.
TEST_F(Dispatch, QuerySubSelectors) {
    struct Case {
        std::uint32_t sub;
        std::uint32_t expected;  // what queryResult holds afterwards
    };
    const std::uint32_t untouched = 0xA5A5A5A5u;
    const Case cases[] = {{1, 0x3761}, {2, untouched}, {3, untouched}, {4, untouched},
                          {5, 0x7FFF}, {0, untouched}, {6, untouched}, {0xFFFFFFFFu, untouched}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sub);
        std::uint32_t mask = untouched;
        EXPECT_EQ(instance->query(c.sub, &mask), 1u);
        EXPECT_EQ(mask, c.expected);
    }
}

TEST_F(Dispatch, OutputSizeWritesNothing) {
    const auto before = bytesOf(instance->record());
    EXPECT_EQ(instance->callExecute(13), 1u);
    EXPECT_EQ(bytesOf(instance->record()), before);
}

TEST_F(Dispatch, ExecuteTestAnswersZero) {
    ASSERT_NE(doftest::effectLibrary().executeTest(), nullptr);
    EXPECT_EQ(doftest::effectLibrary().executeTest()(), 0);
}

// Set up hands the host the addresses of the exported dispatchers.
TEST_F(Dispatch, SetupStoresExportedDispatchers) {
    void* handle = dlopen(doftest::effectLibrary().path().c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
#if defined(__i386__)
    const char* initName = "_Z8InitFuncP17IFXFilterInstancem";
    const char* executeName = "_Z11ExecuteFuncP17IFXFilterInstancem";
#else
    const char* initName = "_Z8InitFuncP17IFXFilterInstancej";
    const char* executeName = "_Z11ExecuteFuncP17IFXFilterInstancej";
#endif
    EXPECT_EQ(reinterpret_cast<void*>(instance->record().initEntry), dlsym(handle, initName));
    EXPECT_EQ(reinterpret_cast<void*>(instance->record().executeEntry), dlsym(handle, executeName));
    dlclose(handle);
}

}  // namespace
