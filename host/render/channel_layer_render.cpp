#include "render/channel_layer_render.h"

#include <algorithm>
#include <utility>

namespace dof {

namespace {

// One render of the effect over `input`, in slabs or the effect's single
// render as the plan says; adds the time of each pass to `passSeconds`.
RenderOutcome renderColour(const RenderInput& input, const FramePlan& plan,
                           const FrameRenderContext& context, RenderedColour* result,
                           runtime::PassSeconds* passSeconds, std::string* error) {
    runtime::PassSeconds seconds{};
    const RenderOutcome outcome =
        plan.inSlabs()
            ? renderInSlabs(input, plan.effect, plan.slabs, context, result, &seconds, error)
            : renderSingle(input, plan.effect, context, result, &seconds, error);
    *passSeconds += seconds;
    return outcome;
}

// Keeps the first `count` colour planes as the channels `colour` and the
// alpha plane, if any, as channel `alpha` of `part`.
void keep(RenderedColour& result, const ChannelAt colour[3], int count, int part, int alpha,
          RenderedFrame* rendered) {
    for (int c = 0; c < count; ++c)
        rendered->store(colour[c].part, colour[c].channel, std::move(result.colour[c]));
    if (alpha >= 0 && !result.alpha.empty()) rendered->store(part, alpha, std::move(result.alpha));
}

}  // namespace

RenderOutcome renderFrame(const Frame& frame, const FramePlan& plan,
                          const FrameRenderContext& context, RenderedFrame* rendered,
                          runtime::PassSeconds* passSeconds, std::string* error) {
    rendered->windows = plan.windows;
    rendered->channels.clear();
    // Only the frame's own colour moves the progress bar.
    FrameRenderContext quiet = context;
    quiet.progress = nullptr;
    const std::vector<ViewLayers>& views = frame.layers.views;
    for (std::size_t v = 0; v < views.size(); ++v) {
        const ViewLayers& view = views[v];
        const Rect& window = plan.windows[std::size_t(view.part)];
        // Three channels of the view's layers at a time, the last three
        // repeating the last channel where fewer are left.
        const std::vector<ChannelAt>& channels = view.layerChannels;
        for (std::size_t first = 0; first < channels.size(); first += 3) {
            const int count = int(std::min<std::size_t>(3, channels.size() - first));
            ChannelAt colour[3];
            for (int c = 0; c < 3; ++c)
                colour[c] = channels[first + std::size_t(std::min(c, count - 1))];
            RenderedColour result;
            const RenderOutcome outcome = renderColour(RenderInput(frame, v, window, colour), plan,
                                                       quiet, &result, passSeconds, error);
            if (outcome != RenderOutcome::Done) return outcome;
            keep(result, colour, count, view.part, -1, rendered);
        }
        if (v == 0) continue;
        RenderedColour result;
        const RenderOutcome outcome =
            renderColour(RenderInput(frame, v, window), plan, quiet, &result, passSeconds, error);
        if (outcome != RenderOutcome::Done) return outcome;
        ChannelAt colour[3];
        for (int c = 0; c < 3; ++c) colour[c] = ChannelAt{view.part, view.colour[c]};
        keep(result, colour, 3, view.part, view.alpha, rendered);
    }
    RenderedColour result;
    const RenderOutcome outcome = renderColour(RenderInput(frame, 0, plan.windows.front()), plan,
                                               context, &result, passSeconds, error);
    if (outcome != RenderOutcome::Done) return outcome;
    ChannelAt colour[3];
    for (int c = 0; c < 3; ++c) colour[c] = ChannelAt{0, frame.colourChannel[c]};
    keep(result, colour, 3, 0, frame.alphaChannel, rendered);
    return RenderOutcome::Done;
}

}  // namespace dof
