// Rendered slab layers composited front to back ("over") into the frame.
#pragma once

#include <vector>

#include "cli/frame_loader.h"
#include "cli/slab_layer.h"
#include "cli/slab_parts.h"

namespace dof3d {

// Writes the composite of `layers` (front to back, rendered) into the frame's
// colour and alpha channels, in the frame's own association. A pixel that
// lies whole in the sharp slab and that no other slab shows through or
// covers keeps the file's values exactly, whatever the working format and
// the transparency bytes made of its alpha.
void compositeSlabs(const std::vector<SlabLayer>& layers, const SlabParts& parts, int sharpSlab,
                    Frame* frame);

}  // namespace dof3d
