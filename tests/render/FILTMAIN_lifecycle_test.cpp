// The render lifecycle: prepare picks the engine by the destination's
// format, apply runs a pass, finished releases everything; calls out of
// protocol, passes above 4 and an allocation failure at every step leave
// nothing behind.
#include <gtest/gtest.h>

#include <string>

#include "dof/scratch_tables.h"
#include "qvlib_testing.h"
#include "render/render_scene.h"

namespace rendertest {
namespace {

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

// Answers of prepare and of passes 0 to 4 by format code and method. Codes
// other than 1 to 5 get no engine: every apply then answers 0 (status 4,
// not a want of memory) and allocates nothing. An unknown method fails
// passes 2 and 4 only. Passes above 4 fail and allocate nothing anywhere; a
// render whose pass 4 fails writes nothing.
TEST_F(LifecycleTest, AnswersByFormatCodeAndMethod) {
    const struct {
        int code;
        double method;
        QVULong answers[5];
    } cases[] = {{1, 1.0, {1, 1, 1, 1, 1}},  {2, 2.0, {1, 1, 1, 1, 1}}, {3, 1.0, {1, 1, 1, 1, 1}},
                 {4, 2.0, {1, 1, 1, 1, 1}},  {5, 2.0, {1, 1, 1, 1, 1}}, {1, 3.0, {1, 1, 0, 1, 0}},
                 {0, 1.0, {0, 0, 0, 0, 0}},  {6, 2.0, {0, 0, 0, 0, 0}}, {128, 1.0, {0, 0, 0, 0, 0}},
                 {255, 2.0, {0, 0, 0, 0, 0}}};
    for (const auto& c : cases) {
        const bool known = c.code >= 1 && c.code <= 5;
        SCOPED_TRACE(::testing::Message() << "code " << c.code << ", method " << c.method);
        scene(QVBitmapType(known ? c.code : 2), 5, 4, 5, kEveryChannel);
        settings.radius = 1.5;
        settings.method = c.method;
        destination->record().formatCode = QVBitmapType(c.code);
        const std::vector<std::uint8_t> before = bufferBytes(*destination);
        auto s = session();
        EXPECT_EQ(s->prepare(), known ? 1u : 0u);
        EXPECT_EQ(instance->record().engine != nullptr, known);
        if (!known) {
            EXPECT_EQ(filter_apply(instance->record(), instance->parameters()),
                      kStatusUnknownPassOrMode);
        }
        const std::uint64_t allocated = allocations();
        for (std::uint32_t pass : {kRenderPassCount + 0u, kRenderPassCount + 1u, 255u, 0xFFFFFFFFu})
            EXPECT_EQ(s->apply(pass, s->region()), 0u) << "pass " << pass;
        EXPECT_EQ(allocations(), allocated) << "passes above 4 allocate nothing";
        for (std::uint32_t pass = kPassAllocateRadiusMap; pass <= kPassWriteOutput; ++pass)
            EXPECT_EQ(s->apply(pass, s->region()), c.answers[pass]) << "pass " << pass;
        if (!known) {
            EXPECT_EQ(allocations(), allocated);
        }
        EXPECT_EQ(s->finished(), 1u);
        EXPECT_EQ(instance->record().engine, nullptr) << "finished clears the engine";
        EXPECT_TRUE(allBuffersNull(instance->parameters()));
        destination->record().formatCode = QVBitmapType(known ? c.code : 2);
        if (c.answers[kPassWriteOutput] == 0) {
            EXPECT_EQ(bufferBytes(*destination), before);
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
// the first; repeated passes and a method changed between pass 2 and pass 4
// leak nothing and never read a buffer of the other method; a second
// finished finds nothing left to release.
TEST_F(LifecycleTest, RepeatedCallsAndMethodChangesLeakNothing) {
    settings.method = 1.0;
    auto s = session();
    const QVRect all = s->region();
    ASSERT_EQ(s->prepare(), 1u);
    const std::uint64_t live = doftest::liveBlocks();
    ASSERT_EQ(s->prepare(), 1u);
    EXPECT_EQ(doftest::liveBlocks(), live) << "the first engine was released";
    for (RenderPass pass :
         {kPassAllocateRadiusMap, kPassAllocateRadiusMap, kPassFillRadiusMap, kPassBuildTables})
        EXPECT_EQ(s->apply(pass, all), 1u);
    const Parameters* p = s->parameters();
    EXPECT_NE(p->alphaTable, nullptr);
    settings.method = 2.0;
    ASSERT_TRUE(dofrt::setRenderParameters(*instance, settings));
    EXPECT_EQ(s->apply(kPassBuildTables, all), 1u);
    EXPECT_EQ(p->alphaTable, nullptr) << "the box tables went with the method";
    EXPECT_EQ(s->apply(kPassSplat, all), 1u);
    settings.method = 1.0;
    ASSERT_TRUE(dofrt::setRenderParameters(*instance, settings));
    const std::vector<std::uint8_t> afterSplat = bufferBytes(*destination);
    EXPECT_EQ(s->apply(kPassWriteOutput, all), 0u) << "no summed-area tables for the box average";
    EXPECT_EQ(bufferBytes(*destination), afterSplat);
    EXPECT_EQ(s->finished(), 1u);
    EXPECT_TRUE(allBuffersNull(instance->parameters()));
    EXPECT_EQ(s->finished(), 1u) << "a second finished is harmless";
    EXPECT_EQ(s->apply(kPassWriteOutput, all), 0u) << "no engine after finished";
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
            SCOPED_TRACE(formatName(format) + ", method " + std::to_string(method));
            const std::uint64_t tables = method == 1.0 ? 6 : 14;
            const std::uint64_t steps = method == 1.0 ? 6 : 16;
            const std::uint64_t live = doftest::liveBlocks();
            for (std::uint64_t n = 1; n <= steps + 1; ++n) {
                SCOPED_TRACE(::testing::Message() << "failure at allocation " << n);
                qvlib::failAllocationAt(n);
                const dofrt::RenderReport report =
                    renderModule(*source, *destination, &gbuffers->set, settings);
                qvlib::failAllocationAt(0);
                EXPECT_EQ(doftest::liveBlocks(), live);
                EXPECT_EQ(report.ok, n > steps);
                EXPECT_EQ(report.failedSelector,
                          n == 1 ? kSelectorPrepare : (n <= steps ? kSelectorApply : 0u));
                if (n > 1 && n <= steps) {
                    EXPECT_EQ(report.failedPass,
                              int(n == 2 ? kPassAllocateRadiusMap
                                         : (n <= tables ? kPassBuildTables : kPassSplat)));
                }
            }
        }
    }
}

}  // namespace
}  // namespace rendertest
