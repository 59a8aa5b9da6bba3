// The threads a run of dof3d works with: a pool of workers that the calling
// thread joins while it waits, so that a wait never leaves a core idle and
// no thread spins.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace dof {

class TaskPool {
public:
    // `workers` threads besides the callers; 0 runs everything on the caller.
    explicit TaskPool(int workers);
    ~TaskPool();
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    // Runs task(0) to task(count - 1), each once, on the caller and up to
    // `threads` - 1 workers, taking indices in order as threads come free;
    // returns when all are done. Tasks must not throw.
    void run(int count, int threads, const std::function<void(int)>& task);

private:
    struct Workers;  // the image library's thread pool
    std::unique_ptr<Workers> workers_;
};

// Runs task(0) to task(count - 1) on up to `threads` threads of `pool`, or
// one after another on the caller when there is no pool.
void forEachTask(TaskPool* pool, int threads, int count, const std::function<void(int)>& task);

// Empty when `threads` more threads fit in what the address-space limit
// leaves, their stacks taking at most half of it; otherwise one line saying
// so. The image library's pool cannot survive a thread it fails to start
// (it hangs or crashes unwinding), so a run checks before it makes its pools.
std::string threadRoomProblem(long threads);

// The machine's cores.
int machineCores();

}  // namespace dof
