// The renders of a frame: every view's colour with its own depths, every
// colour layer with the fragments of its view's colour (the same depths,
// coverage and alpha, so that layers that sum to the colour still sum to it
// once blurred), and last the frame's own colour, whose render the progress
// bar follows.
#pragma once

#include <string>

#include "model/rendered_frame.h"
#include "render/frame_plan.h"

namespace dof {

// Renders the frame as `plan` says into `rendered`: its windows are the
// plan's, its channels every view's colour and alpha and every colour
// layer's channels. `passSeconds` sums the passes of every render.
RenderOutcome renderFrame(const Frame& frame, const FramePlan& plan,
                          const FrameRenderContext& context, RenderedFrame* rendered,
                          runtime::PassSeconds* passSeconds, std::string* error);

}  // namespace dof
