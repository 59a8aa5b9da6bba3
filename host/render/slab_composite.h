// The renders of depth slabs composited front to back ("over").
#pragma once

#include <cstdint>
#include <vector>

#include "render/slab_buffers.h"
#include "render/slab_fragments.h"

namespace dof {

class SlabComposite {
public:
    SlabComposite(const RenderInput& input, int sharpSlab);

    // Adds a rendered slab behind the slabs added before it, on up to
    // `threads` threads of `pool`.
    void addBehind(const SlabBuffers& slab, TaskPool* pool, int threads);

    // The composite's colour and alpha, in the input's own association. A
    // pixel that lies whole in the sharp slab and that no other slab shows
    // through or covers keeps the file's values exactly, whatever the working
    // format and the transparency bytes made of its alpha.
    RenderedColour store(const SlabFragments& fragments, const RenderInput& input) const;

private:
    int width_;
    int sharpSlab_;
    std::vector<double> sum_;               // premultiplied R, G, B, A per pixel
    std::vector<std::uint8_t> othersShow_;  // a slab besides the pixel's sharp fragment shows
    std::vector<std::uint8_t> opaque_;      // the file's alpha is 1
};

}  // namespace dof
