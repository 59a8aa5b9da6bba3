// The progress line: frames done, a bar, and each running frame's pass.
#include "cli/progress.h"

#include <gtest/gtest.h>

namespace {

TEST(Progress, LineShowsFramesAndPasses) {
    struct Case {
        int done, total;
        std::map<int, double> running;
        std::map<int, int> passes;
        int width;
        const char* expected;
    } const cases[] = {
        {0, 1, {}, {}, 80, "[........................] 0/1 frame"},
        {0, 1, {{0, 0.7}}, {{0, 3}}, 80, "[################........] 0/1 frame | 0 splat 70%"},
        {2,
         4,
         {{1003, 0.5}, {1004, 0.2}},
         {{1003, 2}, {1004, 1}},
         80,
         "[################........] 2/4 frames | 1003 tables 50% | 1004 radius map 20%"},
        {4, 4, {}, {}, 80, "[########################] 4/4 frames"},
        {1, 2, {}, {}, 20, "[############......"},  // cut to the terminal
    };
    for (const auto& c : cases)
        EXPECT_EQ(dof3d::Progress::line(c.done, c.total, c.running, c.passes, c.width), c.expected);
}

TEST(Progress, DisabledDrawsNothing) {
    testing::internal::CaptureStderr();
    {
        dof3d::Progress progress(false, 3);
        progress.pass(1, 3, 0, 4);
        progress.frameDone(1);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
