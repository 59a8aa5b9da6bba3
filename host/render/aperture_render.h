// A frame rendered through the aperture of a lens: every fragment's light,
// premultiplied, spread evenly over the image of the aperture at its own
// circle of confusion, in depth slabs composited front to back so that
// nearer fragments hide farther ones.
//
// The slabs are spread one after another, each in bands of rows on the
// frame's threads. A band spreads every fragment of the slab whose shape
// reaches its rows, and the fill of the slab's holes (aperture_fill.h), then
// composites its rows behind the slabs already there. Beyond the frame's
// edges the frame goes on as its edge pixels: they are spread again at every
// position their shape reaches the frame from, so a blurred frame keeps its
// opacity and its brightness up to its edges. Bands cover the frame whatever
// the threads, and each pixel receives the same fragments in the same order:
// the bytes do not depend on the number of threads.
#pragma once

#include "render/aperture_fragments.h"
#include "render/frame_render.h"

namespace dof {

struct AperturePlan {
    ApertureSettings shape;
    int slabs = 8;
    ApertureBlur blur;
};

// Renders `input` as the plan says into `result` (the input's association);
// a pixel that is one fragment in the slab in focus and that no other slab
// covers or shows through keeps the file's values exactly; a frame opaque
// everywhere comes back opaque, each pixel's light over the slabs' opacity
// there. `passSeconds`
// receives the time spent cutting the fragments into slabs, filling holes,
// working out footprints, spreading and compositing, and storing the result.
RenderOutcome renderAperture(const RenderInput& input, const AperturePlan& plan,
                             const FrameRenderContext& context, RenderedColour* result,
                             runtime::PassSeconds* passSeconds);

}  // namespace dof
