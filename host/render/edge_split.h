// A pixel on the far side of a depth step holds some of the nearer surface's
// light wherever the renderer's pixel filter reached across the step, yet it
// carries one depth only, its own. Spread at that depth, the nearer light
// blurs as the far surface does: a lamp before a distant wall gets a wide,
// faint halo of its own colour, which a lens never shows.
//
// edgeSplit takes such a pixel as a mix of two surfaces: the nearer one, as
// its nearer neighbour shows it, and the far one, as its neighbours at its
// own depth show it. The nearer share is then spread at the nearer depth and
// the rest at the pixel's own; together they hold the pixel's light exactly.
#pragma once

#include <optional>

#include "render/render_input.h"

namespace dof {

struct EdgeSplit {
    double cover;         // the nearer surface's share of the pixel, up to 1
    double nearDistance;  // that surface's camera distance
    double near[3];       // its light: the pixel's less the far surface's share
    double far[3];        // the far surface's colour (its purest neighbour's), opaque
};

// The split of opaque flat pixel (x, y) of `input` where a neighbour (of the
// eight) lies in front of it and others lie at its own depth; none elsewhere,
// or where the nearer share would be too small to tell from noise. The
// view's colour decides the split; the input's colour (a colour layer's) is
// cut by it, so that layers which sum to the view's colour still do.
std::optional<EdgeSplit> edgeSplit(const RenderInput& input, int x, int y);

}  // namespace dof
