// What a render costs, in the units the progress bar counts: a pixel for
// each pixel a pass visits, and in splatting a tap for each pixel a
// fragment's footprint reaches.
#pragma once

#include <vector>

#include "cli/effect_buffers.h"
#include "cli/frame_loader.h"
#include "runtime/RenderSession.h"

namespace dof3d {

struct RenderWork {
    std::vector<double> calls[5];  // work of each call of each pass
    double total() const;
};

// The work of rendering `frame` with `settings` (its output rectangles, one
// call of passes 1, 3 and 4 each) by `method`, its depths placed by `depth`.
RenderWork estimateRenderWork(const Frame& frame, const DepthPlacement& depth,
                              const dofrt::RenderSettings& settings, Method method);

}  // namespace dof3d
