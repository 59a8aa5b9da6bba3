// The render lifecycle: prepare picks the engine by the destination's
// format, apply runs a pass, finished releases everything; out of protocol
// calls and allocation failures at every step leave nothing behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvlib_testing.h"
#include "render/render_scene.h"

namespace rendertest {
namespace {

using dofrt::RenderSession;

std::uint64_t allocations() { return qvlib::allocStats().totalAllocations; }

bool allBuffersNull(const Parameters* p) {
    const void* buffers[] = {p->alphaTable,  p->colourSumR,  p->colourSumG,  p->colourSumB,
                             p->opacitySumR, p->opacitySumG, p->opacitySumB, p->transmitR,
                             p->transmitG,   p->transmitB,   p->weightSumR,  p->weightSumG,
                             p->weightSumB,  p->cocMap};
    for (const void* b : buffers)
        if (b != nullptr) return false;
    return true;
}

class LifecycleTest : public RenderTest {
protected:
    void scene(QVBitmapType format, std::uint32_t seed, int width = 5, int height = 4) {
        randomScene(format, seed, width, height, 1.5);
    }

    const IFXFilterInstance& record() const { return instance->record(); }
};

TEST_F(LifecycleTest, EveryKnownFormatGetsAnEngine) {
    for (QVBitmapType format : kAllFormats) {
        scene(format, 1);
        auto s = session();
        EXPECT_EQ(s->prepare(), 1u) << formatName(format);
        EXPECT_NE(record().engine, nullptr) << formatName(format);
        EXPECT_EQ(s->finished(), 1u);
        EXPECT_EQ(record().engine, nullptr) << "finished clears the engine";
    }
}

// No engine for an unknown format: prepare answers 0, every apply answers 0
// and writes nothing, finished releases nothing but null pointers.
TEST_F(LifecycleTest, UnknownFormatCodesHaveNoEngine) {
    for (int code : {0, 6, 7, 128, 255}) {
        scene(kQVBitmapRGBA8, 2);
        destination->record().formatCode = QVBitmapType(code);
        auto s = session();
        const std::uint64_t allocated = allocations();
        EXPECT_EQ(s->prepare(), 0u) << "code " << code;
        EXPECT_EQ(record().engine, nullptr);
        for (std::uint32_t pass = 0; pass <= 4; ++pass)
            EXPECT_EQ(s->apply(pass, s->region()), 0u) << "code " << code << ", pass " << pass;
        EXPECT_EQ(allocations(), allocated) << "code " << code;
        destination->record().formatCode = kQVBitmapRGBA8;
        EXPECT_EQ(bufferBytes(*destination), before) << "code " << code;
        EXPECT_EQ(s->finished(), 1u);
        EXPECT_TRUE(allBuffersNull(s->parameters()));
    }
}

// An instance whose set up failed has no Parameters record: no engine.
TEST_F(LifecycleTest, NoEngineWithoutParameters) {
    scene(kQVBitmapRGBA8, 6);
    dofrt::EffectInstance failed(doftest::effectLibrary());
    ASSERT_TRUE(failed.describe());
    qvlib::failAllAllocations(true);
    ASSERT_FALSE(failed.setup());
    qvlib::failAllAllocations(false);
    ASSERT_EQ(failed.parameters(), nullptr);
    RenderSession s(failed, *source, *destination, gbuffers.get(), settings);
    EXPECT_EQ(s.prepare(), 0u);
    EXPECT_EQ(failed.record().engine, nullptr);
    EXPECT_EQ(s.apply(0, s.region()), 0u);
    EXPECT_EQ(bufferBytes(*destination), before);
}

// Out of protocol: a second prepare replaces the engine without stranding
// the first, and a second finished finds nothing left to release.
TEST_F(LifecycleTest, RepeatedPrepareAndFinishedLeakNothing) {
    scene(kQVBitmapRGBA10, 3);
    settings.method = 2.0;
    auto s = session();
    ASSERT_EQ(s->prepare(), 1u);
    const std::uint64_t liveAfterFirst = doftest::liveBlocks();
    ASSERT_EQ(s->prepare(), 1u);
    EXPECT_EQ(doftest::liveBlocks(), liveAfterFirst) << "the first engine was released";
    for (std::uint32_t pass = 0; pass <= 4; ++pass) ASSERT_EQ(s->apply(pass, s->region()), 1u);
    EXPECT_EQ(s->finished(), 1u);
    EXPECT_TRUE(allBuffersNull(s->parameters()));
    EXPECT_EQ(s->finished(), 1u) << "a second finished is harmless";
    EXPECT_EQ(s->apply(4, s->region()), 0u) << "no engine after finished";
}

// A failure injected at each allocation of a whole render in turn: the
// render fails at the step that allocates, and finished leaves no block.
TEST_F(LifecycleTest, AllocationFailureAtEveryStep) {
    for (QVBitmapType format : kAllFormats) {
        for (double method : {1.0, 2.0}) {
            scene(format, 4u + unsigned(format), 4, 3);
            settings.method = method;
            settings.radius = 1.25;
            ASSERT_TRUE(dofrt::setRenderParameters(*instance, settings));
            const std::uint64_t live = doftest::liveBlocks();
            const std::uint64_t start = allocations();
            ASSERT_TRUE(run(*source, *destination, gbuffers.get(), settings).ok);
            const std::uint64_t count = allocations() - start;
            // The engine, the map, the tables or planes, and for splatting the
            // two hat tables of every fragment.
            ASSERT_GE(count, method == 1.0 ? 6u : 14u);
            ASSERT_EQ(doftest::liveBlocks(), live);

            const std::string what =
                std::string(formatName(format)) + ", method " + std::to_string(int(method));
            for (std::uint64_t n = 1; n <= count + 1; ++n) {
                qvlib::failAllocationAt(n);
                const dofrt::RenderReport report =
                    run(*source, *destination, gbuffers.get(), settings);
                qvlib::failAllocationAt(0);
                EXPECT_EQ(doftest::liveBlocks(), live) << what << ", failure at " << n;
                if (n > count) {
                    EXPECT_TRUE(report.ok) << what << ": the failure came after the render";
                    continue;
                }
                EXPECT_FALSE(report.ok) << what << ", failure at " << n;
                if (n == 1) {
                    EXPECT_EQ(report.failedSelector, 10) << what << ": the engine";
                } else if (n == 2) {
                    EXPECT_EQ(report.failedPass, 0) << what << ": the radius map";
                } else if (n <= (method == 1.0 ? 6u : 14u)) {
                    EXPECT_EQ(report.failedPass, 2) << what << ", failure at " << n;
                } else {
                    EXPECT_EQ(report.failedPass, 3) << what << ": a hat table, at " << n;
                }
            }
        }
    }
}

TEST_F(LifecycleTest, FinishedReleasesBuffersWhateverThePassesReturned) {
    for (double method : {1.0, 2.0}) {
        scene(kQVBitmapRGBA16, 5);
        settings.method = method;
        auto s = session();
        const std::uint64_t live = doftest::liveBlocks();
        ASSERT_EQ(s->prepare(), 1u);
        ASSERT_EQ(s->apply(0, s->region()), 1u);
        ASSERT_EQ(s->apply(1, s->region()), 1u);
        // The fourth table or plane fails: the three before it stay allocated.
        qvlib::failAllocationAt(4);
        EXPECT_EQ(s->apply(2, s->region()), 0u);
        qvlib::failAllocationAt(0);
        EXPECT_NE(s->parameters()->cocMap, nullptr);
        EXPECT_EQ(s->apply(3, s->region()), method == 1.0 ? 1u : 0u);
        EXPECT_EQ(s->apply(4, s->region()), 0u);
        EXPECT_EQ(s->finished(), 1u);
        EXPECT_TRUE(allBuffersNull(s->parameters()));
        EXPECT_EQ(doftest::liveBlocks(), live) << "method " << method;
    }
}

}  // namespace
}  // namespace rendertest
