// The render lifecycle: prepare picks the engine by the destination's
// format, apply runs a pass, finished releases everything; calls out of
// protocol and an allocation failure at every step leave nothing behind.
#include <gtest/gtest.h>

#include <string>

#include "dof/scratch_tables.h"
#include "qvlib_testing.h"
#include "render/render_scene.h"

namespace rendertest {
namespace {

std::uint64_t allocations() { return qvlib::allocStats().totalAllocations; }

bool allBuffersNull(Parameters* p) {
    for (int t = 0; t < kScratchTableCount; ++t)
        if (scratch_table(p, t) != nullptr) return false;
    return p->cocMap == nullptr;
}

class LifecycleTest : public RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        scene(kQVBitmapRGBA10, 5, 4, 5, kEveryChannel);
        settings.radius = 1.5;
    }
};

// Codes 1 to 5 get an engine; any other code none: prepare answers 0, and
// so does every apply, which finds no pass to run (status 4, not a want of
// memory), writes nothing and allocates nothing.
TEST_F(LifecycleTest, EngineByFormatCode) {
    for (int code : {1, 2, 3, 4, 5, 0, 6, 128, 255}) {
        const bool known = code >= 1 && code <= 5;
        const std::vector<std::uint8_t> before = bufferBytes(*destination);
        destination->record().formatCode = QVBitmapType(code);
        auto s = session();
        const std::uint64_t allocated = allocations();
        EXPECT_EQ(s->prepare(), known ? 1u : 0u) << "code " << code;
        EXPECT_EQ(instance->record().engine != nullptr, known) << "code " << code;
        if (!known) {
            EXPECT_EQ(filter_apply(instance->record(), instance->parameters()),
                      kStatusUnknownPassOrMode);
            for (std::uint32_t pass = kPassAllocateRadiusMap; pass <= kPassWriteOutput; ++pass)
                EXPECT_EQ(s->apply(pass, s->region()), 0u) << "code " << code << ", pass " << pass;
            EXPECT_EQ(allocations(), allocated) << "code " << code;
        }
        EXPECT_EQ(s->finished(), 1u);
        EXPECT_EQ(instance->record().engine, nullptr) << "finished clears the engine";
        EXPECT_TRUE(allBuffersNull(instance->parameters()));
        destination->record().formatCode = kQVBitmapRGBA10;
        if (!known) {
            EXPECT_EQ(bufferBytes(*destination), before) << "code " << code;
        }
    }
}

// An instance whose set up failed has no Parameters record: no engine.
TEST_F(LifecycleTest, NoEngineWithoutParameters) {
    dofrt::EffectInstance failed(doftest::effectLibrary());
    ASSERT_TRUE(failed.describe());
    qvlib::failAllAllocations(true);
    ASSERT_FALSE(failed.setup());
    qvlib::failAllAllocations(false);
    dofrt::RenderSession s(failed, *source, *destination, &gbuffers->set, settings);
    EXPECT_EQ(s.prepare(), 0u);
    EXPECT_EQ(failed.record().engine, nullptr);
    EXPECT_EQ(s.apply(kPassAllocateRadiusMap, s.region()), 0u);
}

// Out of protocol: a second prepare replaces the engine without stranding
// the first; a second finished finds nothing left to release.
TEST_F(LifecycleTest, RepeatedPrepareAndFinishedLeakNothing) {
    settings.method = 2.0;
    auto s = session();
    ASSERT_EQ(s->prepare(), 1u);
    const std::uint64_t live = doftest::liveBlocks();
    ASSERT_EQ(s->prepare(), 1u);
    EXPECT_EQ(doftest::liveBlocks(), live) << "the first engine was released";
    for (std::uint32_t pass = kPassAllocateRadiusMap; pass <= kPassWriteOutput; ++pass)
        ASSERT_EQ(s->apply(pass, s->region()), 1u);
    EXPECT_EQ(s->finished(), 1u);
    EXPECT_TRUE(allBuffersNull(instance->parameters()));
    EXPECT_EQ(s->finished(), 1u) << "a second finished is harmless";
    EXPECT_EQ(s->apply(kPassWriteOutput, s->region()), 0u) << "no engine after finished";
}

// A failure injected at each allocation of a whole render in turn, output
// rectangle by output rectangle: the engine, the radius map, the tables or
// planes (all asked for before any is tested), then for splatting the
// scratch of each pass 3 call. The render fails at the step that allocates
// and finished leaves no block, whatever the passes returned.
TEST_F(LifecycleTest, AllocationFailureAtEveryStep) {
    for (QVBitmapType format : kAllFormats) {
        scene(format, 5, 4, std::uint32_t(format), kEveryChannel);
        settings.radius = 1.5;
        settings.outputRects = {{0, 0, 5, 2}, {0, 2, 5, 2}};
        for (double method : {1.0, 2.0}) {
            settings.method = method;
            const std::string what = formatName(format) + ", method " + std::to_string(method);
            const std::uint64_t tables = method == 1.0 ? 6 : 14;
            const std::uint64_t steps = method == 1.0 ? 6 : 16;
            const std::uint64_t live = doftest::liveBlocks();
            for (std::uint64_t n = 1; n <= steps + 1; ++n) {
                qvlib::failAllocationAt(n);
                const dofrt::RenderReport report =
                    renderModule(*source, *destination, &gbuffers->set, settings);
                qvlib::failAllocationAt(0);
                EXPECT_EQ(doftest::liveBlocks(), live) << what << ", failure at " << n;
                EXPECT_EQ(report.ok, n > steps) << what << ", failure at " << n;
                if (n == 1) {
                    EXPECT_EQ(report.failedSelector, kSelectorPrepare) << what;
                } else if (n <= steps) {
                    EXPECT_EQ(report.failedPass,
                              int(n == 2 ? kPassAllocateRadiusMap
                                         : (n <= tables ? kPassBuildTables : kPassSplat)))
                        << what << ", failure at " << n;
                }
            }
        }
    }
}

}  // namespace
}  // namespace rendertest
