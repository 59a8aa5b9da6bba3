#include "util/task_pool.h"

#include <OpenImageIO/sysutil.h>
#include <OpenImageIO/thread.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>

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

std::string threadRoomProblem(long threads) {
    rlimit space{}, stack{};
    if (threads <= 0 || getrlimit(RLIMIT_AS, &space) != 0 || space.rlim_cur == RLIM_INFINITY)
        return std::string();
    // A thread's stack is as large as the main thread's limit (8 MB when
    // there is none), reserved when the thread starts.
    const double stackBytes =
        getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY
            ? double(stack.rlim_cur)
            : 8.0 * 1024 * 1024;
    double usedPages = 0;
    std::ifstream("/proc/self/statm") >> usedPages;
    const double room = double(space.rlim_cur) - usedPages * double(sysconf(_SC_PAGESIZE));
    const double need = double(threads) * (stackBytes + double(sysconf(_SC_PAGESIZE)));
    if (need <= room / 2) return std::string();
    const auto megabytes = [](double bytes) { return std::to_string(long(bytes / 1048576.0)); };
    return "cannot start " + std::to_string(threads) + " threads: their stacks take " +
           megabytes(need) + " MB of the " + megabytes(room > 0 ? room : 0) +
           " MB the address-space limit leaves; use fewer jobs or threads";
}

int machineCores() {
    const int cores = int(OIIO::Sysutil::hardware_concurrency());
    return cores > 0 ? cores : 1;
}

}  // namespace dof
