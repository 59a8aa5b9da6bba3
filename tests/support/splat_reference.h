// Slow, literal splatting of fragments into accumulation planes, for checking
// the splatting code: its own hat taps, the whole footprint walked and the
// pixels outside the region skipped one by one.
#pragma once

#include <array>
#include <vector>

#include "host/IFXFilterInstance.h"

namespace doftest {

// The twelve planes in the order the Parameters record holds them.
enum SplatPlane {
    kColourSumR,
    kColourSumG,
    kColourSumB,
    kOpacitySumR,
    kOpacitySumG,
    kOpacitySumB,
    kTransmitR,
    kTransmitG,
    kTransmitB,
    kWeightSumR,
    kWeightSumG,
    kWeightSumB,
    kSplatPlaneCount
};

struct SplatFragment {
    int x;
    int y;
    double radiusX;
    double radiusY;
    double colour[3];
    double opacity[3];
    double coverage[3];
};

// width × height elements per plane, row-major.
using ReferencePlanes = std::array<std::vector<double>, kSplatPlaneCount>;

// Sums at 0.0, transmittance at 1.0.
ReferencePlanes referenceFreshPlanes(QVRect region);

void referenceSplat(ReferencePlanes& planes, QVRect region, SplatFragment const& fragment);

}  // namespace doftest
