// The renders of a slab: tiles of its area, each on its own effect instance
// with a render region that reaches beyond the tile by the slab's reach, cut
// to the fragments within it. Every pixel of a tile then receives the same
// fragments in the same order as in one render of the whole area, so the
// tiles give its bytes; a tile that no fragment reaches is left out, as the
// layer is transparent there. Small tiles skip the empty parts of a slab
// that is scattered over the frame; large ones splat fewer fragments twice
// where tiles meet: the tile size that costs least is taken. A tile that
// would keep one thread busy while the others wait is cut into bands,
// across its longer side.
#pragma once

#include <vector>

#include "cli/band_tasks.h"
#include "cli/slab_layer.h"

namespace dof3d {

// The renders of a built slab for `threads` threads; none for an empty slab.
// Bands are in the slab's own pixels.
std::vector<BandTask> planSlabTiles(const SlabLayer& layer, int threads);

}  // namespace dof3d
