// The renders of a frame besides that of its own colour: every other view's
// colour with its own depths, and every colour layer with the fragments of
// its view's colour (the same depths, coverage and alpha), so that layers
// that sum to the colour still sum to it once blurred.
#pragma once

#include <functional>
#include <string>

#include "model/channel_layers.h"
#include "render/frame_render.h"

namespace dof {

// Renders a frame of R, G, B and A (alpha -1: opaque) and stores the
// result in it.
using ColourRender = std::function<RenderOutcome(Frame* colour, std::string* error)>;

// Renders the colour layers of every view and the colour of every view but
// the first, through `render`, and stores them in the frame's channels. The
// first view's own colour is left for the caller to render afterwards: its
// layers read its alpha as it was before. Colour layer values that are not
// finite are rendered as 0 and counted in the frame's nonFiniteValues.
RenderOutcome renderOtherColour(Frame* frame, const FrameLayers& layers, const ColourRender& render,
                                std::string* error);

// Grows the data window of every part the render writes (the frame's own as
// growDataWindow does, the others alike) and other views' depths with it.
void growRenderedParts(Frame* frame, FrameLayers* layers, int padX, int padY,
                       DepthConvention convention);

}  // namespace dof
