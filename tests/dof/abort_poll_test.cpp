// The splatting pass asks the host whether to stop only when more than 100
// clock ticks have passed since it last asked, counted as an unsigned 32-bit
// difference.
#include "dof/abort_poll.h"

#include <gtest/gtest.h>

#include <ctime>
#include <limits>
#include <vector>

namespace {

struct PollCase {
    std::clock_t last;
    std::clock_t now;
    bool due;
    const char* why;
};

TEST(AbortPoll, AsksAfterMoreThanAHundredTicks) {
    const std::clock_t top = std::numeric_limits<std::clock_t>::max();
    const std::clock_t bottom = std::numeric_limits<std::clock_t>::min();
    const std::vector<PollCase> cases = {
        {0, 0, false, "no time passed"},
        {0, 100, false, "exactly 100 ticks is not more"},
        {0, 101, true, "101 ticks"},
        {5000, 5101, true, "101 ticks later on"},
        {200, 150, true, "a clock stepping back: 2^32 - 50 ticks"},
        // The clock wraps from its top to its bottom: top - 49 .. bottom + 50
        // is 100 ticks, top - 49 .. bottom + 51 is 101.
        {top - 49, bottom + 50, false, "100 ticks across the wrap of the clock"},
        {top - 49, bottom + 51, true, "101 ticks across the wrap of the clock"},
        {top, bottom, false, "one tick across the wrap"},
    };
    for (const PollCase& c : cases) EXPECT_EQ(abort_poll_due(c.last, c.now), c.due) << c.why;
}

}  // namespace
