// Splatting in depth slabs: plan the slabs, cut the frame's pixels into
// them, render every slab through the effect on bands, composite.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "cli/footprint_work.h"
#include "cli/frame_render.h"
#include "cli/interrupt.h"
#include "cli/slab_composite.h"
#include "cli/slab_layer.h"

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

struct BandTask {
    std::size_t layer;
    Band band;
    double work;
};

// Bands of every slab: a slab larger than its share of the threads is cut
// into bands, and the largest tasks go first.
std::vector<BandTask> bandTasks(const std::vector<SlabLayer>& layers, int threads) {
    double total = 0.0;
    for (const SlabLayer& l : layers) total += l.totalWork;
    const double share = total / double(std::max(1, threads));
    std::vector<BandTask> tasks;
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const SlabLayer& l = layers[i];
        if (l.area.width == 0) continue;
        const int count =
            std::max(1, std::min(threads, int(std::ceil(l.totalWork / share - 1e-9))));
        const QVRect area{0, 0, l.area.width, l.area.height};
        for (const Band& b : planBands(area, count, l.reach, l.work))
            tasks.push_back(BandTask{i, b, l.work.band(b)});
    }
    std::stable_sort(tasks.begin(), tasks.end(),
                     [](const BandTask& a, const BandTask& b) { return a.work > b.work; });
    return tasks;
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
    const SlabParts parts(*frame, slabs, plan.depth);

    std::vector<SlabLayer> slabLayers(slabs.slabs().size());
    std::vector<std::string> buildErrors(slabLayers.size());
    forEach(context, int(slabLayers.size()), [&](int s) {
        buildSlabLayer(parts, slabs, s, radii, plan.slabFormat, &slabLayers[std::size_t(s)],
                       &buildErrors[std::size_t(s)]);
    });
    for (const std::string& e : buildErrors)
        if (!e.empty()) {
            *error = frame->path + ": " + e;
            return RenderOutcome::Failed;
        }

    const std::vector<BandTask> tasks = bandTasks(slabLayers, context.threads);
    if (context.progress) {
        double total = 0.0;
        for (const BandTask& t : tasks) total += t.work;
        context.progress->frameWork(context.frameNumber, total);
    }
    std::mutex mutex;
    std::vector<dofrt::RenderReport> reports(tasks.size());
    std::string startError;
    // A slab's source and channels go as soon as its last band is done.
    std::vector<int> bandsLeft(slabLayers.size(), 0);
    for (const BandTask& t : tasks) ++bandsLeft[t.layer];
    forEach(context, int(tasks.size()), [&](int i) {
        const BandTask& task = tasks[std::size_t(i)];
        SlabLayer& layer = slabLayers[task.layer];
        std::string bandError;
        const WorkDone onWork = [&](double w) {
            if (context.progress) context.progress->addWork(context.frameNumber, w);
        };
        const dofrt::RenderReport report = renderBand(
            *context.library, *layer.source, *layer.destination, layer.gbuffers.get(), settings,
            task.band, layer.work, [] { return interruptRequested(); }, onWork, &bandError);
        std::lock_guard<std::mutex> lock(mutex);
        reports[std::size_t(i)] = report;
        if (!bandError.empty() && startError.empty()) startError = bandError;
        if (--bandsLeft[task.layer] == 0) {
            layer.source.reset();
            layer.gbuffers.reset();
        }
    });

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
    compositeSlabs(slabLayers, parts, slabs.sharpSlab(), frame);
    return RenderOutcome::Done;
}

}  // namespace dof3d
