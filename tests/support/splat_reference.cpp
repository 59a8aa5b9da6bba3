#include "support/splat_reference.h"

#include <cstddef>
#include <cstdint>

#include "support/kernel_reference.h"

namespace doftest {

ReferencePlanes referenceFreshPlanes(QVRect region) {
    const std::size_t elements = std::size_t(region.width) * std::size_t(region.height);
    ReferencePlanes planes;
    for (int p = 0; p < kSplatPlaneCount; ++p) {
        const bool transmit = p == kTransmitR || p == kTransmitG || p == kTransmitB;
        planes[p].assign(elements, transmit ? 1.0 : 0.0);
    }
    return planes;
}

void referenceSplat(ReferencePlanes& planes, QVRect region, SplatFragment const& f) {
    const std::vector<double> across = referenceHatTaps(f.radiusX);
    const std::vector<double> down = referenceHatTaps(f.radiusY);
    const std::int64_t Rx = std::int64_t(across.size() / 2);
    const std::int64_t Ry = std::int64_t(down.size() / 2);
    const std::int64_t left = region.left;
    const std::int64_t top = region.top;
    const std::int64_t right = left + region.width;
    const std::int64_t bottom = top + region.height;

    for (std::int64_t dy = -Ry; dy <= Ry; ++dy) {
        const std::int64_t py = std::int64_t(f.y) + dy;
        if (py < top || py >= bottom) continue;
        for (std::int64_t dx = -Rx; dx <= Rx; ++dx) {
            const std::int64_t px = std::int64_t(f.x) + dx;
            if (px < left || px >= right) continue;
            const double tap = down[std::size_t(Ry + dy)] * across[std::size_t(Rx + dx)];
            const std::size_t at = std::size_t((py - top) * region.width + (px - left));
            for (int c = 0; c < 3; ++c) {
                const double coverage = f.coverage[c];
                double& colourSum = planes[kColourSumR + c][at];
                double& opacitySum = planes[kOpacitySumR + c][at];
                double& weightSum = planes[kWeightSumR + c][at];
                double& transmit = planes[kTransmitR + c][at];
                colourSum = colourSum + (f.colour[c] * tap) * coverage;
                opacitySum = opacitySum + (f.opacity[c] * tap) * coverage;
                weightSum = weightSum + coverage * tap;
                transmit = (1.0 - coverage * tap) * transmit;
            }
        }
    }
}

}  // namespace doftest
