// Slow, literal splatting of one fragment into the twelve accumulation
// planes, for checking splat_pixel: its own hat taps, the whole footprint
// walked and the pixels outside the region skipped one by one.
#pragma once

#include <array>
#include <vector>

#include "dof/splat_pixel.h"
#include "host/IFXFilterInstance.h"

namespace dof::test {

// The twelve planes in the order the Parameters record holds them: colour
// sums, opacity sums, transmittances, weight sums, each R, G, B; width x
// height elements, row-major.
using ReferencePlanes = std::array<std::vector<double>, 12>;

// Sums at 0.0, transmittances at 1.0.
ReferencePlanes referenceFreshPlanes(QVRect region);

void referenceSplat(ReferencePlanes& planes, QVRect region, SplatFragment const& fragment);

}  // namespace dof::test
