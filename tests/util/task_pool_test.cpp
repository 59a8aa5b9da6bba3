// The pool that frames, bands and tiles share.
#include "util/task_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

TEST(TaskPool, EachTaskOnceOnAtMostTheThreadsAsked) {
    dof::TaskPool pool(3);
    for (int threads : {1, 2, 4}) {
        std::vector<std::atomic<int>> runs(40);
        std::atomic<int> running{0}, most{0};
        std::atomic<bool> offCaller{false};
        const std::thread::id caller = std::this_thread::get_id();
        pool.run(40, threads, [&](int i) {
            const int now = ++running;
            for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            if (std::this_thread::get_id() != caller) offCaller = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++runs[std::size_t(i)];
            --running;
        });
        for (const auto& r : runs) EXPECT_EQ(r, 1) << threads;
        EXPECT_LE(most, threads);
        if (threads == 1) {
            EXPECT_FALSE(offCaller);  // one thread: the caller's own
        }
    }
}

}  // namespace
