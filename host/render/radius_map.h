// The picture --coc-map writes: for each pixel, the byte the effect's own
// radius map holds for it (the blur of the depth the effect reads for the
// pixel's front fragment, 255 = the largest radius), worked out from the same
// depths and parameters with the effect's rounding.
#pragma once

#include <cstdint>
#include <vector>

#include "model/frame.h"
#include "render/effect_buffers.h"
#include "runtime/RenderSession.h"

namespace dof {

std::vector<std::uint8_t> radiusMap(const Frame& frame, const DepthPlacement& depth,
                                    const runtime::RenderSettings& settings);

}  // namespace dof
