// The effect's own render of a whole frame, on bands of rows.
#include <atomic>
#include <cmath>
#include <mutex>

#include "cli/footprint_work.h"
#include "cli/frame_render.h"
#include "cli/interrupt.h"
#include "runtime/PixelImage.h"

namespace dof3d {

bool boxTablesExact(QVBitmapType format, double pixels) {
    const double fullScale = dofrt::formatFullScale(format);
    if (fullScale == 0.0) return false;  // float: the tables round
    // A table element sums a component times alpha over the pixels above
    // and left of it; its recurrence adds two such sums before subtracting.
    return 2.0 * pixels * fullScale * fullScale < 9007199254740992.0;
}

namespace {

std::string passFailure(const std::string& path, const dofrt::RenderReport& report) {
    if (report.failedSelector == 10) return path + ": the effect refused to prepare the render";
    if (report.failedSelector == 11)
        return path + ": the effect failed render pass " + std::to_string(report.failedPass);
    return path + ": the effect did not finish the render";
}

}  // namespace

RenderOutcome renderInOneLayer(Frame* frame, const EffectPlan& plan,
                               const FrameRenderContext& context, double passSeconds[5],
                               std::string* error) {
    EffectBuffers buffers;
    if (!buildEffectBuffers(*frame, plan.method, plan.format, plan.depth, &buffers, error))
        return RenderOutcome::Failed;
    dofrt::RenderSettings settings = plan.settings;
    const QVRect region{0, 0, frame->width(), frame->height()};
    settings.region = region;

    int reach = 0;
    const RenderWork work = oneRenderWork(*frame, plan.depth, settings, &reach);
    int bandCount = context.threads;
    if (plan.method == Method::Box) {
        // A box window reaches the rounded radius; the tables must be exact.
        reach = int(std::nearbyint(blurRadii(settings).down)) + 1;
        if (!boxTablesExact(plan.format, double(region.width) * double(region.height)))
            bandCount = 1;
    }
    const std::vector<Band> bands = planBands(region, bandCount, reach, work);
    if (context.progress) {
        double total = 0.0;
        for (const Band& b : bands) total += work.band(b);
        context.progress->frameWork(context.frameNumber, total);
    }

    std::mutex mutex;
    std::vector<dofrt::RenderReport> reports(bands.size());
    std::string startError;
    const auto renderOne = [&](int i) {
        std::string bandError;
        const WorkDone onWork = [&](double w) {
            if (context.progress) context.progress->addWork(context.frameNumber, w);
        };
        dofrt::RenderReport report = renderBand(
            *context.library, *buffers.source, *buffers.destination, buffers.gbuffers.get(),
            settings, bands[std::size_t(i)], work.band(bands[std::size_t(i)]),
            [] { return interruptRequested(); }, onWork, &bandError);
        std::lock_guard<std::mutex> lock(mutex);
        reports[std::size_t(i)] = report;
        if (!bandError.empty() && startError.empty()) startError = bandError;
    };
    if (context.pool) {
        context.pool->run(int(bands.size()), context.threads, renderOne);
    } else {
        for (int i = 0; i < int(bands.size()); ++i) renderOne(i);
    }

    for (int pass = 0; pass < 5; ++pass) passSeconds[pass] = 0.0;
    bool stopped = false;
    for (const dofrt::RenderReport& r : reports) {
        for (int pass = 0; pass < 5; ++pass) passSeconds[pass] += r.passSeconds[pass];
        stopped = stopped || r.stopped;
    }
    if (stopped || interruptRequested()) return RenderOutcome::Interrupted;
    if (!startError.empty()) {
        *error = frame->path + ": " + startError;
        return RenderOutcome::Failed;
    }
    for (const dofrt::RenderReport& r : reports)
        if (!r.ok) {
            *error = passFailure(frame->path, r);
            return RenderOutcome::Failed;
        }
    storeResult(buffers, plan.method, frame);
    return RenderOutcome::Done;
}

}  // namespace dof3d
