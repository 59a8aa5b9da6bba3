// What splatting a frame costs, worked out before the render: every
// fragment's footprint in pixels, by the row it starts from. It balances the
// bands of a render and weighs the progress bar; the bytes never depend on it.
#pragma once

#include "model/blur_fraction.h"
#include "render/band_render.h"
#include "render/effect_buffers.h"

namespace dof {

// The largest blur radii in pixels, across and down, as the effect scales them.
struct BlurRadii {
    double across = 0.0;
    double down = 0.0;
};
BlurRadii blurRadii(const runtime::RenderSettings& settings);

// Pixels a fragment with this blur fraction splats: (2 Rx + 1) x (2 Ry + 1).
double footprintPixels(double fraction, const BlurRadii& radii);

// The work of one render of the whole frame, by rows and by columns, and
// how far the farthest reaching fragment spreads beyond its own pixel.
struct FrameWork {
    RenderWork rows, columns;
    int reachX = 0, reachY = 0;
};
FrameWork oneRenderWork(const RenderInput& input, const DepthPlacement& depth,
                        const runtime::RenderSettings& settings);

}  // namespace dof
