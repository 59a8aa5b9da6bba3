// The splatting pass asks the host whether to stop, at most once per 100
// clock ticks, and stops at once when told to. The scene makes the planes
// show how far the pass got: every pixel is in focus and opaque, so each
// splat puts weight 1 on its own pixel only.
#include <gtest/gtest.h>

#include <ctime>
#include <vector>

#include "render/render_scene.h"

namespace rendertest {
namespace {

using dofrt::RenderSession;

constexpr int kSide = 200;  // enough pixels for many clock ticks of splatting

// Pixels splatted so far, in visiting order, when they form a prefix of
// the region's pixels; -1 when the planes are not a prefix.
long splattedPrefix(const Parameters* p) {
    const long total = long(kSide) * kSide;
    long n = 0;
    while (n < total && p->weightSumR[n] == 1.0) ++n;
    for (long i = n; i < total; ++i)
        if (p->weightSumR[i] != 0.0 || p->transmitG[i] != 1.0) return -1;
    return n;
}

struct Poll {
    long prefix;
    std::clock_t ticksSincePassStart;
};

class AbortTest : public RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        source = makeImage(kQVBitmapRGBA8, kSide, kSide, 0);
        destination = makeImage(kQVBitmapRGBA8, kSide, kSide, 0);
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) setPixel(*source, x, y, {51, 102, 153, 255});
        gbuffers.reset(new GBufferSet(kSide, kSide));
        gbuffers->addDepth();
        gbuffers->addCoverage();
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                gbuffers->depth(x, y) = -10.0f;
                gbuffers->coverage(x, y) = 255;
            }
        settings.method = 2.0;
        settings.radius = 5.0;
        settings.focalDepth = -10.0;
        ASSERT_TRUE(dofrt::setRenderParameters(*instance, settings));
    }

    void TearDown() override {
        source.reset();
        destination.reset();
        RenderTest::TearDown();
    }

    // Runs passes 0 to 3; the handler sees the planes at every poll (when
    // `inspect`) and answers stop at the poll numbered `stopAt` (1 = the
    // first; 0 = never).
    std::vector<Poll> splatUntil(RenderSession& s, unsigned stopAt, bool inspect = true) {
        std::vector<Poll> polls;
        const Parameters* p = s.parameters();
        EXPECT_EQ(s.prepare(), 1u);
        for (std::uint32_t pass = 0; pass <= 2; ++pass) EXPECT_EQ(s.apply(pass, s.region()), 1u);
        const std::clock_t start = std::clock();
        instance->setAbortHandler([&]() {
            polls.push_back({inspect ? splattedPrefix(p) : 0, std::clock() - start});
            return polls.size() == stopAt;
        });
        EXPECT_EQ(s.apply(3, s.region()), 1u) << "a stop is not a failure";
        instance->setAbortHandler(nullptr);
        return polls;
    }

    std::unique_ptr<PixelImage> source, destination;
    std::unique_ptr<GBufferSet> gbuffers;
    RenderSettings settings;
};

TEST_F(AbortTest, StopAtTheFirstPollKeepsOnlyThePixelsBeforeIt) {
    RenderSession s(*instance, *source, *destination, gbuffers.get(), settings);
    const std::vector<Poll> polls = splatUntil(s, 1);
    ASSERT_EQ(polls.size(), 1u);
    const long total = long(kSide) * kSide;
    ASSERT_GE(polls[0].prefix, 0) << "the planes hold a prefix of the pixels";
    EXPECT_LT(polls[0].prefix, total) << "the pass stopped before its end";
    EXPECT_GT(polls[0].ticksSincePassStart, std::clock_t(100))
        << "the first poll waits for more than 100 ticks";
    // Nothing was splatted after the poll; the splatted pixels hold their
    // own colour fraction, 51 / 255 = 0.2, with weight 1.
    const Parameters* p = s.parameters();
    EXPECT_EQ(splattedPrefix(p), polls[0].prefix);
    for (long i = 0; i < polls[0].prefix; ++i) {
        ASSERT_EQ(p->colourSumR[i], 51 / 255.0) << i;
        ASSERT_EQ(p->transmitB[i], 0.0) << i;
    }
    EXPECT_EQ(s.finished(), 1u);
}

// Each answer counts for its own poll only: a "go on" is not remembered.
TEST_F(AbortTest, StopAtALaterPoll) {
    RenderSession s(*instance, *source, *destination, gbuffers.get(), settings);
    const std::vector<Poll> polls = splatUntil(s, 3);
    ASSERT_EQ(polls.size(), 3u);
    for (const Poll& poll : polls) ASSERT_GE(poll.prefix, 0);
    EXPECT_LT(polls[0].prefix, polls[1].prefix);
    EXPECT_LT(polls[1].prefix, polls[2].prefix);
    EXPECT_EQ(splattedPrefix(s.parameters()), polls[2].prefix);
    EXPECT_EQ(s.finished(), 1u);
}

TEST_F(AbortTest, NeverStoppedSplatsEveryPixel) {
    RenderSession s(*instance, *source, *destination, gbuffers.get(), settings);
    const std::vector<Poll> polls = splatUntil(s, 0, false);
    EXPECT_GE(polls.size(), 1u) << "the pass lasts long enough to be asked";
    EXPECT_EQ(splattedPrefix(s.parameters()), long(kSide) * kSide);
    EXPECT_EQ(s.finished(), 1u);
}

}  // namespace
}  // namespace rendertest
