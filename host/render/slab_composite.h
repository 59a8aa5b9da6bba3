// Rendered slab layers composited front to back ("over") into the frame.
#pragma once

#include <cstdint>
#include <vector>

#include "model/frame.h"
#include "render/slab_buffers.h"
#include "render/slab_fragments.h"

namespace dof {

class SlabComposite {
public:
    SlabComposite(const Frame& frame, int sharpSlab);

    // Adds a rendered layer behind the layers added before it, on up to
    // `threads` threads of `pool`.
    void addBehind(const SlabLayer& layer, TaskPool* pool, int threads);

    // Writes the composite into the frame's colour and alpha channels, in the
    // frame's own association. A pixel that lies whole in the sharp slab and
    // that no other slab shows through or covers keeps the file's values
    // exactly, whatever the working format and the transparency bytes made
    // of its alpha.
    void store(const SlabParts& parts, Frame* frame) const;

private:
    int width_;
    int sharpSlab_;
    std::vector<double> sum_;               // premultiplied R, G, B, A per pixel
    std::vector<std::uint8_t> othersShow_;  // a slab besides the pixel's sharp part shows
    std::vector<std::uint8_t> opaque_;      // the file's alpha is 1
};

}  // namespace dof
