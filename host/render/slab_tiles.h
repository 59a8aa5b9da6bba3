// The renders of a slab: tiles of its area, each on its own effect instance
// with a render region that reaches beyond the tile by the slab's reach, cut
// to the fragments within it. Every pixel of a tile then receives the same
// fragments in the same order as in one render of the whole area, so the
// tiles give its bytes; a tile that no fragment reaches is left out, as the
// slab is transparent there. Small tiles skip the empty parts of a slab
// that is scattered over the frame; large ones splat fewer fragments twice
// where tiles meet: the tile size that costs least is taken. A tile that
// would keep one thread busy while the others wait is cut into bands of
// about equal work, across its longer side.
#pragma once

#include <memory>
#include <vector>

#include "render/band_tasks.h"
#include "render/slab_buffers.h"

namespace dof {

class FragmentCounts;

// The renders of one built slab. Its buffers must outlive it.
class SlabTiling {
public:
    explicit SlabTiling(const SlabBuffers& slab);
    ~SlabTiling();

    // The work of the cheapest tiling; 0 for a slab that no render needs.
    double work() const { return work_; }

    // The renders, in the slab's own pixels, with the slab's buffers: the
    // cheapest tiles, and a tile of more than `share` work cut into bands of
    // about equal work (0: no cut).
    std::vector<BandTask> tasks(double share) const;

private:
    const SlabBuffers& slab_;
    std::unique_ptr<FragmentCounts> counts_;
    std::vector<BandTask> cheapest_;
    double work_ = 0.0;
};

}  // namespace dof
