// The picture --coc-map writes: for each pixel of the frame's output window,
// the byte the effect's own radius map holds for it (the blur of the depth
// the effect reads for the pixel's front fragment, 255 = the largest
// radius), worked out from the same depths and parameters with the effect's
// rounding.
#pragma once

#include <cstdint>
#include <vector>

#include "render/frame_plan.h"

namespace dof {

// Over plan.windows[0], row by row.
std::vector<std::uint8_t> radiusMap(const Frame& frame, const FramePlan& plan);

}  // namespace dof
