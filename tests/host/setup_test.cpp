// Set up, the parameter declarations and clean up, through the host runtime.
#include <gtest/gtest.h>
#include <strings.h>

#include <cstring>
#include <vector>

#include "support/effect_fixture.h"

namespace {

using dofrt::TagValue;
using doftest::EffectTest;
using doftest::HostAllocTest;

std::vector<unsigned char> bytesOf(const IFXFilterInstance& record) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&record);
    return std::vector<unsigned char>(p, p + sizeof record);
}

class Setup : public EffectTest {};

TEST_F(Setup, WritesInstanceFields) {
    const IFXFilterInstance& r = instance->record();
    EXPECT_EQ(r.setupFlags, 0xE0000000u);
    EXPECT_EQ(r.setupWord, 0x3F1A36E2u);
    EXPECT_STREQ(r.setupString, "chch-h");
    EXPECT_NE(r.parameters, nullptr);
    EXPECT_NE(r.initEntry, nullptr);
    EXPECT_NE(r.executeEntry, nullptr);
}

TEST_F(Setup, RecordStartsWithDefaultsAndNoBuffers) {
    const Parameters* p = instance->parameters();
    EXPECT_EQ(p->radius, 0.0);
    EXPECT_EQ(p->mode, 1.0);
    EXPECT_EQ(p->focalDepth, -1.0);
    EXPECT_EQ(p->focusRangeDepth, 0.0);
    void* const buffers[] = {p->alphaTable,  p->colourSumR,  p->colourSumG,  p->colourSumB,
                             p->opacitySumR, p->opacitySumG, p->opacitySumB, p->transmitR,
                             p->transmitG,   p->transmitB,   p->weightSumR,  p->weightSumG,
                             p->weightSumB,  p->cocMap};
    for (void* buffer : buffers) EXPECT_EQ(buffer, nullptr);
    // The record is one host block.
    EXPECT_EQ(doftest::liveBlocks() > 0, true);
}

// The five declarations reach the host in exactly this order, with these
// kinds, value addresses, words and tag/value pairs.
TEST_F(Setup, DeclaresFiveParametersInOrder) {
    Parameters* p = instance->parameters();
    struct Expected {
        int kind;
        double* value;
        std::vector<TagValue> tags;
        const char* name;
    };
    const Expected expected[] = {
        {12, nullptr, {}, ""},
        {16,
         &p->focalDepth,
         {{0x2000A, -65535, ""}, {0x2000B, -1, ""}, {0x20020, 1, ""}, {0x20024, 30156, ""}},
         "Focal Depth"},
        {16,
         &p->focusRangeDepth,
         {{0x2000A, -65535, ""},
          {0x2000B, -1, ""},
          {0x20020, 1, ""},
          {0x20024, 30298, ""},
          {0x20007, 4, ""}},
         "Sharp Until Depth"},
        {4,
         &p->radius,
         {{0x2000A, 0, ""},
          {0x2000B, 64, ""},
          {0x20008, 0, ""},
          {0x20024, 30183, ""},
          {0x20007, 2, ""}},
         "Maximum Radius"},
        {8,
         &p->mode,
         {{0x20012, 0, GetStringQV(30336)}, {0x20005, 0, ""}, {0x20024, 30124, ""}},
         "Method"},
    };
    const auto& declared = instance->declarations();
    ASSERT_EQ(declared.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(declared[i].kind, expected[i].kind);
        EXPECT_EQ(declared[i].value, expected[i].value);
        EXPECT_EQ(declared[i].zeroWord, 0);
        EXPECT_EQ(declared[i].tags, expected[i].tags);
        EXPECT_EQ(declared[i].name, expected[i].name);
    }
    // -65535 travels as the 32-bit word 0xFFFF0001.
    EXPECT_EQ(std::uint32_t(declared[1].tags[0].value), 0xFFFF0001u);
}

// The values the host writes land in the record.
TEST_F(Setup, HostWritesThroughDeclaredAddresses) {
    const struct {
        const char* name;
        double value;
        double Parameters::*field;
    } cases[] = {{"Maximum Radius", 12.5, &Parameters::radius},
                 {"method", 2.0, &Parameters::mode},
                 {"focal depth", -250.0, &Parameters::focalDepth},
                 {"Sharp Until Depth", -400.0, &Parameters::focusRangeDepth}};
    for (const auto& c : cases) {
        const dofrt::ParamDeclaration* d = nullptr;
        for (const dofrt::ParamDeclaration& declared : instance->declarations())
            if (declared.value && strcasecmp(declared.name.c_str(), c.name) == 0) d = &declared;
        ASSERT_NE(d, nullptr) << c.name;
        instance->setParameter(*d, c.value);
        EXPECT_EQ(instance->parameters()->*c.field, c.value) << c.name;
    }
}

class SetupOutOfMemory : public HostAllocTest {};

// No record: result 0, no instance field written, nothing declared.
TEST_F(SetupOutOfMemory, WritesAndDeclaresNothing) {
    dofrt::EffectInstance instance(doftest::effectLibrary());
    ASSERT_TRUE(instance.describe());
    auto expected = bytesOf(instance.record());
    // The dispatcher stores the two entry addresses before the handler runs.
    IFXFilterInstance copy;
    std::memcpy(&copy, expected.data(), sizeof copy);
    qvlib::failAllocationAt(1);
    EXPECT_FALSE(instance.setup());
    EXPECT_TRUE(instance.declarations().empty());
    copy.initEntry = instance.record().initEntry;
    copy.executeEntry = instance.record().executeEntry;
    EXPECT_NE(copy.initEntry, nullptr);
    EXPECT_EQ(bytesOf(instance.record()), bytesOf(copy));
    EXPECT_EQ(instance.record().parameters, nullptr);
}

class Cleanup : public HostAllocTest {};

// Set up takes one block; clean up gives it back, through InitFunc.
TEST_F(Cleanup, ReleasesTheRecord) {
    const std::uint64_t before = doftest::liveBlocks();
    dofrt::EffectInstance instance(doftest::effectLibrary());
    ASSERT_TRUE(instance.describe());
    ASSERT_TRUE(instance.setup());
    EXPECT_EQ(doftest::liveBlocks(), before + 1);
    const qvlib::AllocStats stats = qvlib::allocStats();
    EXPECT_EQ(stats.liveBytes >= sizeof(Parameters), true);
    EXPECT_TRUE(instance.cleanup());
    EXPECT_EQ(doftest::liveBlocks(), before);
}

// Finished after a render that never prepared releases only null buffers;
// clean up then releases the record alone.
TEST_F(Cleanup, FinishedWithoutRenderThenCleanup) {
    const std::uint64_t before = doftest::liveBlocks();
    {
        dofrt::EffectInstance instance(doftest::effectLibrary());
        ASSERT_TRUE(instance.describe());
        ASSERT_TRUE(instance.setup());
        EXPECT_EQ(instance.callExecute(12), 1u);
        EXPECT_EQ(instance.parameters()->cocMap, nullptr);
        EXPECT_TRUE(instance.cleanup());
    }
    EXPECT_EQ(doftest::liveBlocks(), before);
}

}  // namespace
