// One depth slab as the effect renders it: an ordinary render of the effect
// over a region around the slab's pixels, every fragment at the slab's one
// depth, with a source that holds nothing but the slab's fragments, so that
// the result is a premultiplied image with its own alpha.
//
// The effect's hats peak at 1 whatever their size and its resolve divides by
// the sum of weights that reached a pixel. Within reach of the slab's pixels
// every pixel is therefore a fragment: the slab's own with their colour and
// alpha, open pixels (nothing there, or only what lies behind the slab) as
// transparent ones. The weight sum is then the same everywhere and every
// fragment centre is fully covered, so the slab's image is the normalised scatter of
// the slab: light is kept, and a blurred edge over nothing keeps its half
// alpha where the edge was. Pixels covered by nearer slabs are holes, not
// open: they carry no weight, and the resolve extends the slab's own average
// into them, so what lies behind an occluder stays opaque there. Where a
// nearer slab blurs farther into a hole than this slab's own reach, the hole
// is filled before the render with the average of the slab around it (the
// larger the gap, the wider the average), so that the nearer slab's soft edge
// shows plausible background rather than nothing.
#pragma once

#include <memory>
#include <string>

#include "render/band_render.h"
#include "render/slab_fragments.h"
#include "runtime/GBufferSet.h"
#include "runtime/PixelImage.h"

namespace dof {

struct SlabBuffers {
    int slab = 0;
    Rect area;  // in frame pixels; empty when the slab holds nothing
    // Buffers of the area's size: the area's corner is the effect's (0, 0).
    std::unique_ptr<runtime::PixelImage> source;
    std::unique_ptr<runtime::PixelImage> destination;
    std::unique_ptr<runtime::GBufferSet> gbuffers;
    int reachX = 0, reachY = 0;  // pixels a fragment spreads on each side of its own
    double footprint = 0.0;      // pixels of a fragment's footprint
};

// How far around the slab's own pixels every pixel is a fragment, in halves
// of the slab's reach. The weight sum of a pixel that the slab's blur reaches
// gathers taps from as far again (four halves); with fewer the hats' faint
// ends go missing from it, which leaves an isolated point brighter than it
// was (by about one per cent with three halves).
constexpr int kOpenHalfReaches = 4;

// Builds the render of slab `slab`, on up to `threads` threads of `pool`.
// False with `error` when the host allocator refuses a buffer.
bool buildSlabBuffers(const SlabFragments& fragments, const SlabPlan& plan, int slab,
                      const BlurRadii& radii, QVBitmapType format, TaskPool* pool, int threads,
                      SlabBuffers* buffers, std::string* error);

}  // namespace dof
