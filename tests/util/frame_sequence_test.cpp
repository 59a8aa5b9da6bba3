// Frame fields in paths, frame lists, and the files of each frame.
#include "util/frame_sequence.h"

#include <gtest/gtest.h>

namespace {

TEST(FrameSequence, FramePathsFillEveryField) {
    struct Case {
        const char* pattern;
        int frame;
        const char* expected;
    } const cases[] = {
        {"shot.####.exr", 7, "shot.0007.exr"},
        {"shot.####.exr", 1001, "shot.1001.exr"},
        {"shot.##.exr", 1001, "shot.1001.exr"},  // wider than the field: in full
        {"shot.#.exr", 3, "shot.3.exr"},
        {"shot.%04d.exr", 42, "shot.0042.exr"},
        {"shot.%d.exr", 42, "shot.42.exr"},
        {"s_####/f.####.exr", 12, "s_0012/f.0012.exr"},
        {"plain.exr", 5, "plain.exr"},
        {"odd%.exr", 5, "odd%.exr"},      // a lone % is no field
        {"odd%5d.exr", 5, "odd%5d.exr"},  // space padding is not taken
        {"odd%0d.exr", 5, "odd%0d.exr"},
        // A field wider than any buffer still pads every frame apart.
        {"f.########################################.exr", 12,
         "f.0000000000000000000000000000000000000012.exr"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dof::framePath(c.pattern, c.frame), c.expected) << c.pattern;
}

// The frames of a list, or why it is refused.
TEST(FrameSequence, FrameLists) {
    struct Case {
        const char* text;
        std::vector<int> expected;
        const char* error;
    } const cases[] = {
        {"1001-1005", {1001, 1002, 1003, 1004, 1005}, ""},
        {"7", {7}, ""},
        {"1,5,10-12", {1, 5, 10, 11, 12}, ""},
        {"1-9x4", {1, 5, 9}, ""},
        {"1-10x4", {1, 5, 9}, ""},
        {"5,1-6", {5, 1, 2, 3, 4, 6}, ""},  // first order kept, each frame once
        {"0-0", {0}, ""},
        {"", {}, "--frames: empty frame list"},
        {"abc", {}, "--frames abc: not a frame number in \"abc\""},
        {"10-5", {}, "--frames 10-5: the first frame comes after the last in \"10-5\""},
        {"1-5x0", {}, "--frames 1-5x0: not a step of 1 or more in \"1-5x0\""},
        {"-5", {}, "--frames -5: not a range of frame numbers in \"-5\""},
        {"1,", {}, "--frames 1,: not a frame number in \"\""},
        {"1-", {}, "--frames 1-: not a range of frame numbers in \"1-\""},
        {"0-2000000", {}, "--frames 0-2000000: more than a million frames in \"0-2000000\""},
    };
    for (const auto& c : cases) {
        std::vector<int> frames;
        std::string error;
        EXPECT_EQ(dof::parseFrameList(c.text, &frames, &error), !*c.error) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        if (!*c.error) {
            EXPECT_EQ(frames, c.expected) << c.text;
        }
    }
}

// A farm task's chunk of a list: in the list's order, the last one shorter,
// one chunk when it is as long as the list, nothing for a task outside it.
TEST(FrameSequence, TaskChunks) {
    const std::vector<int> list = {5, 1, 2, 3, 9};
    struct Case {
        int chunk, task;
        std::vector<int> expected;
    } const cases[] = {
        {2, 0, {5, 1}}, {2, 1, {2, 3}}, {2, 2, {9}}, {2, 3, {}},  {2, -1, {}},
        {5, 0, list},   {7, 0, list},   {7, 1, {}},  {1, 4, {9}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dof::frameChunk(list, c.chunk, c.task), c.expected) << c.chunk << " " << c.task;
    // The first frame of task 3 in chunks of 10^9 lies beyond what an int holds.
    EXPECT_EQ(dof::frameChunk(list, 1000000000, 3), std::vector<int>());
}

}  // namespace
