// The progress line: a bar weighted by work, the method, frames done and the
// time left.
#include "tool/progress.h"

#include <gtest/gtest.h>

namespace {

TEST(Progress, LineWeighsFramesByTheirWork) {
    using State = dof::Progress::State;
    struct Case {
        const char* why;
        State state;  // done, frames, known, without, work known, work done, seconds, method
        int width;
        const char* expected;
    } const cases[] = {
        // clang-format off
        {"nothing known yet", {0, 4, 0, 0, 0, 0, 0, "splat"}, 80,
         "[........................]   0% splat 0/4 frames"},
        {"three unknown frames cost the known one's 100: 50 of 400 in 10 s",
         {0, 4, 1, 0, 100, 50, 10, "box"}, 80,
         "[###.....................]  12% box 0/4 frames 1:10 left"},
        {"a frame failed before its work was known: 5 of 10 + 10, 1200 s",
         {1, 3, 1, 1, 10, 5, 1200, "splat"}, 80,
         "[######..................]  25% splat 1/3 frames 1:00:00 left"},
        {"all done", {2, 2, 2, 0, 300, 300, 9, "splat"}, 80,
         "[########################] 100% splat 2/2 frames"},
        {"cut to the terminal", {0, 1, 0, 0, 0, 0, 0, "splat"}, 20, "[.................."},
        // clang-format on
    };
    for (const Case& c : cases)
        EXPECT_EQ(dof::Progress::line(c.state, c.width), c.expected) << c.why;
}

}  // namespace
