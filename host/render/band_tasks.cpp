#include "render/band_tasks.h"

#include <algorithm>
#include <mutex>

#include "util/interrupt.h"

namespace dof {

namespace {

// With a method and a format it knows, the effect fails a selector only
// when the host's allocator refused it memory.
std::string passFailure(const std::string& path, const runtime::RenderReport& report) {
    const std::string what = runtime::describeFailure(report);
    return path + ": " + (report.failedSelector != 0 ? "out of memory (" + what + ")" : what);
}

}  // namespace

RenderOutcome renderBands(std::vector<BandTask> tasks, const runtime::RenderSettings& settings,
                          const FrameRenderContext& context, const std::string& path,
                          runtime::PassSeconds* passSeconds, std::string* error) {
    // The largest first, so that no thread is left with one at the end.
    std::stable_sort(tasks.begin(), tasks.end(),
                     [](const BandTask& a, const BandTask& b) { return a.work > b.work; });
    const WorkDone onWork = [&](double w) {
        if (context.progress) context.progress->addWork(context.frameNumber, w);
    };
    std::mutex mutex;
    std::vector<runtime::RenderReport> reports(tasks.size());
    std::string startError;
    forEachTask(context.pool, context.threads, int(tasks.size()), [&](int i) {
        std::string bandError;
        const BandTask& task = tasks[std::size_t(i)];
        const RenderBuffers& buffers = task.buffers;
        const runtime::RenderReport report = renderBand(
            *context.library, *buffers.source, *buffers.destination, buffers.gbuffers, settings,
            task.band, task.work, [] { return interruptRequested(); }, onWork, &bandError);
        std::lock_guard<std::mutex> lock(mutex);
        reports[std::size_t(i)] = report;
        if (!bandError.empty() && startError.empty()) startError = bandError;
    });

    bool stopped = false;
    for (const runtime::RenderReport& r : reports) {
        *passSeconds += r.passSeconds;
        stopped = stopped || r.stopped;
    }
    if (stopped || interruptRequested()) return RenderOutcome::Interrupted;
    if (!startError.empty()) {
        *error = path + ": " + startError;
        return RenderOutcome::Failed;
    }
    for (const runtime::RenderReport& r : reports)
        if (!r.ok) {
            *error = passFailure(path, r);
            return RenderOutcome::Failed;
        }
    return RenderOutcome::Done;
}

}  // namespace dof
