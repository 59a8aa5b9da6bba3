#include "util/task_pool.h"

#include <OpenImageIO/sysutil.h>
#include <OpenImageIO/thread.h>

#include <algorithm>
#include <atomic>

namespace dof {

struct TaskPool::Workers {
    explicit Workers(int count) : pool(count) {}
    OIIO::thread_pool pool;
};

TaskPool::TaskPool(int workers) : workers_(new Workers(workers < 0 ? 0 : workers)) {}

TaskPool::~TaskPool() = default;

void TaskPool::run(int count, int threads, const std::function<void(int)>& task) {
    std::atomic<int> next{0};
    const auto drain = [&] {
        for (int i = next++; i < count; i = next++) task(i);
    };
    OIIO::thread_pool& pool = workers_->pool;
    const int helpers = std::min(std::min(threads, count) - 1, pool.size());
    OIIO::task_set helping(&pool);
    for (int h = 0; h < helpers; ++h) helping.push(pool.push([&](int) { drain(); }));
    drain();
    // The caller found no task left: it blocks until the helpers finish theirs.
    helping.wait(true);
}

void forEachTask(TaskPool* pool, int threads, int count, const std::function<void(int)>& task) {
    if (pool) {
        pool->run(count, threads, task);
        return;
    }
    for (int i = 0; i < count; ++i) task(i);
}

int machineCores() {
    const int cores = int(OIIO::Sysutil::hardware_concurrency());
    return cores > 0 ? cores : 1;
}

}  // namespace dof
