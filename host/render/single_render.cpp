// The effect's own render of a whole frame, on bands of rows.
#include <cmath>

#include "host/QVBitmapFormats.h"
#include "render/band_tasks.h"
#include "render/footprint_work.h"
#include "render/frame_render.h"

namespace dof {

bool boxTablesExact(QVBitmapType format, double pixels) {
    const QVBitmapFormat* facts = qvBitmapFormat(format);
    // Float tables round; so does an unknown format's.
    if (facts == nullptr || facts->component == QVComponentKind::Float) return false;
    const double fullScale = facts->fullScale;
    // A table element sums a component times alpha over the pixels above
    // and left of it; its recurrence adds two such sums before subtracting.
    return 2.0 * pixels * fullScale * fullScale < 9007199254740992.0;
}

RenderOutcome renderSingle(const RenderInput& input, const EffectPlan& plan,
                           const FrameRenderContext& context, RenderedColour* result,
                           runtime::PassSeconds* passSeconds, std::string* error) {
    EffectBuffers buffers;
    if (!buildEffectBuffers(input, plan.method, plan.format, plan.depth, &buffers, error))
        return RenderOutcome::Failed;
    runtime::RenderSettings settings = plan.settings;
    const Rect region{0, 0, input.width(), input.height()};

    const FrameWork frameWork = oneRenderWork(input, plan.depth, settings);
    int reachX = frameWork.reachX, reachY = frameWork.reachY;
    int bandCount = context.threads;
    if (plan.method == Method::Box) {
        // A box window reaches the rounded radius; the tables must be exact.
        reachX = int(std::nearbyint(blurRadii(settings).across)) + 1;
        reachY = int(std::nearbyint(blurRadii(settings).down)) + 1;
        if (!boxTablesExact(plan.format, double(region.pixels()))) bandCount = 1;
    }
    // Bands across the longer side splat the fewest fragments twice.
    const bool columns = region.width > region.height;
    const RenderWork& work = columns ? frameWork.columns : frameWork.rows;
    const std::vector<Band> bands = planBands(region, bandCount, columns ? reachX : reachY, work,
                                              columns ? BandAxis::Columns : BandAxis::Rows);
    if (context.progress) {
        double total = 0.0;
        for (const Band& b : bands) total += work.band(b);
        context.progress->frameWork(context.frameNumber, total);
    }

    const RenderBuffers frameBuffers{buffers.source.get(), buffers.destination.get(),
                                     buffers.gbuffers.get()};
    std::vector<BandTask> tasks;
    for (const Band& b : bands) tasks.push_back(BandTask{b, work.band(b), frameBuffers});
    *passSeconds = runtime::PassSeconds{};
    const RenderOutcome outcome =
        renderBands(tasks, settings, context, input.path(), passSeconds, error);
    if (outcome != RenderOutcome::Done) return outcome;
    *result = storeResult(buffers, plan.method, input);
    return RenderOutcome::Done;
}

}  // namespace dof
