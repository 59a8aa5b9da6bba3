// Splatting in depth slabs: plan the slabs, cut the input's pixels into
// them, render every slab through the effect on bands, composite.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "host/QVBitmapFormats.h"
#include "render/band_tasks.h"
#include "render/footprint_work.h"
#include "render/frame_render.h"
#include "render/slab_buffers.h"
#include "render/slab_composite.h"
#include "render/slab_tiles.h"
#include "util/interrupt.h"

namespace dof {

namespace {

// The largest blur fractions in front of the focus and behind it.
void blurExtent(const RenderInput& input, const DepthPlacement& depth, const FocusDepths& focus,
                double* nearest, double* farthest) {
    *nearest = *farthest = 0.0;
    const auto add = [&](double distance) {
        const float d = depth.effectDepth(distance);
        const double f = blurFraction(d, focus);
        double& side = double(d) > focus.focalDepth ? *nearest : *farthest;
        side = std::max(side, f);
    };
    for (int y = 0; y < input.height(); ++y)
        for (int x = 0; x < input.width(); ++x) {
            if (!input.deep()) {
                add(input.distance(x, y));
                continue;
            }
            for (const Fragment& f : input.fragments(x, y).fragments) add(f.distance);
        }
}

// What a slab will cost, for the progress bar before it is built: its own
// pixels, with half as many again for the open pixels around them.
double estimatedWork(const SlabFragments& fragments, const SlabPlan& slabs, int slab,
                     const BlurRadii& radii) {
    const double own = double(fragments.count(slab));
    const double footprint = footprintPixels(slabs.slabs()[std::size_t(slab)].fraction, radii);
    return 1.5 * own * (kVisitWork + footprint + 3.0 * kRegionPixelWork);
}

// The memory the buffers of one group of slabs may take. On one thread every
// slab is a group of its own, and the memory of one slab's buffers serves
// the next; on more, a group holds about one frame's worth of them: the small
// slabs go together, so that one slab's last band does not keep the other
// threads waiting, while fresh pages (a fault and a clearing each) stay few.
double slabMemoryBudget(const FrameRenderContext& context, double frameBytes) {
    if (context.slabMemory > 0.0) return context.slabMemory;
    if (context.threads <= 1) return 0.0;
    const long pages = sysconf(_SC_PHYS_PAGES), pageBytes = sysconf(_SC_PAGESIZE);
    const double machine = pages > 0 && pageBytes > 0 ? double(pages) * double(pageBytes) : 0.0;
    return std::min(frameBytes, std::max(double(1u << 30), machine / 4.0));
}

// What a built slab holds: its source and destination, and its depth,
// coverage and transparency bytes.
double slabBytes(QVBitmapType format, const Rect& area) {
    const QVBitmapFormat* facts = qvBitmapFormat(format);
    return (2.0 * double(facts ? facts->bytesPerPixel : 16) + 8.0) * double(area.pixels());
}

// A frame's slabs built, tiled, rendered and composited front to back, in
// groups of consecutive slabs whose buffers fit the memory budget. Every
// slab of a group is built, each on all threads, and the renders it needs
// are planned, the slabs side by side; then the renders of the whole group
// go to the frame's threads at once, the largest first, so that no slab
// waits for another's last band. A render larger than a thread's share of
// the group is cut into bands. The group's slabs are composited and
// released before the next group is built.
class SlabGroups {
public:
    SlabGroups(const RenderInput& input, const SlabPlan& slabs, const SlabFragments& fragments,
               const FrameRenderContext& context, runtime::PassSeconds* passSeconds,
               std::string* error)
        : input_(input), slabs_(slabs), fragments_(fragments), context_(context),
          passSeconds_(passSeconds), error_(error), count_(slabs.slabs().size()),
          buffers_(count_), tilings_(count_), work_(count_),
          composite_(input, slabs.sharpSlab()) {}

    // Every slab, on the effect with `settings`.
    RenderOutcome render(const EffectPlan& plan, const runtime::RenderSettings& settings,
                         const BlurRadii& radii);

    RenderedColour result() const { return composite_.store(fragments_, input_); }

private:
    // The frame's work to the progress bar: the slabs' estimates, each
    // replaced by its renders' once they are planned.
    void announce() const;
    RenderOutcome renderGroup(int first, int end, const runtime::RenderSettings& settings);

    const RenderInput& input_;
    const SlabPlan& slabs_;
    const SlabFragments& fragments_;
    const FrameRenderContext& context_;
    runtime::PassSeconds* passSeconds_;
    std::string* error_;
    std::size_t count_;
    std::vector<SlabBuffers> buffers_;
    std::vector<std::unique_ptr<SlabTiling>> tilings_;
    std::vector<double> work_;
    SlabComposite composite_;
};

void SlabGroups::announce() const {
    double total = 0.0;
    for (double w : work_) total += w;
    if (context_.progress) context_.progress->frameWork(context_.frameNumber, total);
}

RenderOutcome SlabGroups::render(const EffectPlan& plan, const runtime::RenderSettings& settings,
                                 const BlurRadii& radii) {
    for (int s = 0; s < int(count_); ++s)
        work_[std::size_t(s)] = estimatedWork(fragments_, slabs_, s, radii);
    announce();
    *passSeconds_ = runtime::PassSeconds{};
    const double budget = slabMemoryBudget(
        context_, slabBytes(plan.slabFormat, Rect{0, 0, input_.width(), input_.height()}));
    int first = 0;
    double groupBytes = 0.0;
    for (int s = 0; s < int(count_); ++s) {
        if (interruptRequested()) return RenderOutcome::Interrupted;
        SlabBuffers& buffers = buffers_[std::size_t(s)];
        if (!buildSlabBuffers(fragments_, slabs_, s, radii, plan.slabFormat, context_.pool,
                              context_.threads, &buffers, error_)) {
            *error_ = input_.path() + ": " + *error_;
            return RenderOutcome::Failed;
        }
        groupBytes += slabBytes(plan.slabFormat, buffers.area);
        if (groupBytes >= budget || s + 1 == int(count_)) {
            const RenderOutcome outcome = renderGroup(first, s + 1, settings);
            if (outcome != RenderOutcome::Done) return outcome;
            first = s + 1;
            groupBytes = 0.0;
        }
    }
    return RenderOutcome::Done;
}

RenderOutcome SlabGroups::renderGroup(int first, int end,
                                      const runtime::RenderSettings& settings) {
    forEachTask(context_.pool, context_.threads, end - first, [&](int i) {
        tilings_[std::size_t(first + i)].reset(new SlabTiling(buffers_[std::size_t(first + i)]));
    });
    double total = 0.0;
    for (int s = first; s < end; ++s) total += tilings_[std::size_t(s)]->work();
    const double share = context_.threads > 1 ? total / double(context_.threads) : 0.0;
    std::vector<BandTask> tasks;
    std::vector<bool> rendered(count_, false);
    for (int s = first; s < end; ++s) {
        work_[std::size_t(s)] = 0.0;
        for (const BandTask& t : tilings_[std::size_t(s)]->tasks(share)) {
            work_[std::size_t(s)] += t.work;
            rendered[std::size_t(s)] = true;
            tasks.push_back(t);
        }
    }
    announce();
    const RenderOutcome outcome =
        renderBands(tasks, settings, context_, input_.path(), passSeconds_, error_);
    if (outcome != RenderOutcome::Done) return outcome;
    for (int s = first; s < end; ++s) {
        if (rendered[std::size_t(s)])
            composite_.addBehind(buffers_[std::size_t(s)], context_.pool, context_.threads);
        tilings_[std::size_t(s)].reset();
        buffers_[std::size_t(s)] = SlabBuffers();
    }
    return RenderOutcome::Done;
}

}  // namespace

RenderOutcome renderInSlabs(const RenderInput& input, const EffectPlan& plan, int count,
                            const FrameRenderContext& context, RenderedColour* result,
                            runtime::PassSeconds* passSeconds, std::string* error) {
    runtime::RenderSettings settings = plan.settings;
    settings.method = kMethodSplatting;
    const FocusDepths focus{settings.focalDepth, settings.focusRangeDepth};
    const BlurRadii radii = blurRadii(settings);
    double nearest = 0.0, farthest = 0.0;
    if (settings.radius >= kSharpRadius) blurExtent(input, plan.depth, focus, &nearest, &farthest);
    const SlabPlan slabs(count, nearest, farthest, focus, radii);
    const SlabFragments fragments(input, slabs, plan.depth, context.pool, context.threads);
    SlabGroups groups(input, slabs, fragments, context, passSeconds, error);
    const RenderOutcome outcome = groups.render(plan, settings, radii);
    if (outcome == RenderOutcome::Done) *result = groups.result();
    return outcome;
}

}  // namespace dof
