// Splatting in depth slabs: plan the slabs, cut the frame's pixels into
// them, render every slab through the effect on bands, composite.
#include <algorithm>
#include <cmath>
#include <mutex>

#include "cli/footprint_work.h"
#include "cli/frame_render.h"
#include "cli/interrupt.h"
#include "cli/slab_composite.h"
#include "cli/slab_layer.h"
#include "cli/slab_tiles.h"

namespace dof3d {

namespace {

// The largest blur fractions in front of the focus and behind it.
void blurExtent(const Frame& frame, const DepthPlacement& depth, const FocusDepths& focus,
                double* nearest, double* farthest) {
    *nearest = *farthest = 0.0;
    const auto add = [&](double distance) {
        const float d = effectDepth(distance, depth.noHitAbove, depth.noHit, depth.scale);
        const double f = blurFraction(d, focus);
        double& side = double(d) > focus.focalDepth ? *nearest : *farthest;
        side = std::max(side, f);
    };
    for (std::size_t p = 0; p < frame.pixelCount(); ++p) {
        if (!frame.deep) {
            add(frame.distance[p]);
            continue;
        }
        for (const Fragment& f : frame.fragments[p].fragments) add(f.distance);
    }
}

std::string passFailure(const std::string& path, const dofrt::RenderReport& report) {
    if (report.failedSelector == 10) return path + ": the effect refused to prepare the render";
    if (report.failedSelector == 11)
        return path + ": the effect failed render pass " + std::to_string(report.failedPass);
    return path + ": the effect did not finish the render";
}

void forEach(const FrameRenderContext& context, int count, const std::function<void(int)>& task) {
    if (context.pool) {
        context.pool->run(count, context.threads, task);
    } else {
        for (int i = 0; i < count; ++i) task(i);
    }
}

// What the slabs will cost, for the progress bar before they are built:
// their own pixels, with the open pixels around them and a share of them
// rendered in two slabs.
double estimatedWork(const SlabParts& parts, const SlabPlan& slabs, const BlurRadii& radii) {
    double work = 0.0;
    for (int s = 0; s < int(slabs.slabs().size()); ++s) {
        const double own = double(parts.count(s));
        const double footprint = footprintPixels(slabs.slabs()[std::size_t(s)].fraction, radii);
        work += 1.5 * own * (kVisitWork + footprint + 3.0 * kRegionPixelWork);
    }
    return work;
}

}  // namespace

RenderOutcome renderInSlabs(Frame* frame, const EffectPlan& plan, int layers,
                            const FrameRenderContext& context, double passSeconds[5],
                            std::string* error) {
    dofrt::RenderSettings settings = plan.settings;
    settings.method = 2.0;
    const FocusDepths focus{settings.focalDepth, settings.focusRangeDepth};
    const BlurRadii radii = blurRadii(settings);
    double nearest = 0.0, farthest = 0.0;
    if (settings.radius >= 0.00001) blurExtent(*frame, plan.depth, focus, &nearest, &farthest);
    const SlabPlan slabs(layers, nearest, farthest, focus, radii);
    const SlabParts parts(*frame, slabs, plan.depth, context.pool, context.threads);
    if (context.progress)
        context.progress->frameWork(context.frameNumber, estimatedWork(parts, slabs, radii));
    const WorkDone onWork = [&](double w) {
        if (context.progress) context.progress->addWork(context.frameNumber, w);
    };
    for (int pass = 0; pass < 5; ++pass) passSeconds[pass] = 0.0;

    // One slab after the other, front to back, each on all threads: the
    // memory of one slab's render serves the next.
    SlabComposite composite(*frame, slabs.sharpSlab());
    for (int s = 0; s < int(slabs.slabs().size()); ++s) {
        if (interruptRequested()) return RenderOutcome::Interrupted;
        SlabLayer layer;
        if (!buildSlabLayer(parts, slabs, s, radii, plan.slabFormat, context.pool, context.threads,
                            &layer, error)) {
            *error = frame->path + ": " + *error;
            return RenderOutcome::Failed;
        }
        std::vector<SlabTask> tasks = planSlabTiles(layer, context.threads);
        std::stable_sort(tasks.begin(), tasks.end(),
                         [](const SlabTask& a, const SlabTask& b) { return a.work > b.work; });
        std::mutex mutex;
        std::vector<dofrt::RenderReport> reports(tasks.size());
        std::string startError;
        forEach(context, int(tasks.size()), [&](int i) {
            std::string bandError;
            const dofrt::RenderReport report = renderBand(
                *context.library, *layer.source, *layer.destination, layer.gbuffers.get(), settings,
                tasks[std::size_t(i)].band, tasks[std::size_t(i)].work,
                [] { return interruptRequested(); }, onWork, &bandError);
            std::lock_guard<std::mutex> lock(mutex);
            reports[std::size_t(i)] = report;
            if (!bandError.empty() && startError.empty()) startError = bandError;
        });
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
        if (!tasks.empty()) composite.addBehind(layer, context.pool, context.threads);
    }
    composite.store(parts, frame);
    return RenderOutcome::Done;
}

}  // namespace dof3d
