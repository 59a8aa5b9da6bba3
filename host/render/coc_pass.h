// The circle of confusion as a pass for compositing: for each pixel of the
// frame's output window, the signed blur radius of its front fragment (the
// one whose depth the effect reads), in pixels down the image (across, it is
// that over the pixel aspect ratio): negative in front of the focus, positive
// behind it, 0 in focus and in the sharp zone. It depends on the pixel's
// depth, the focus and the lens alone, so it is on one scale on every frame.
//
// Without a lens it is the effect's own blur of the pixel, the radius times
// the effect's blur fraction of the depth it reads (and the render scale);
// with a lens it is the thin lens's radius, also where that lies beyond the
// effect's largest radius and the effect blurs by that largest radius only.
#pragma once

#include <vector>

#include "render/frame_plan.h"

namespace dof {

// Over plan.windows[0], row by row; beyond the data window nothing is hit.
std::vector<float> cocPass(const Frame& frame, const FramePlan& plan);

}  // namespace dof
