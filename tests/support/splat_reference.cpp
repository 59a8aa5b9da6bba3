#include "support/splat_reference.h"

#include <cstddef>
#include <cstdint>

#include "support/kernel_reference.h"

namespace dof::test {

ReferencePlanes referenceFreshPlanes(QVRect region) {
    ReferencePlanes planes;
    const std::size_t n = std::size_t(region.width) * std::size_t(region.height);
    for (std::size_t p = 0; p < 12; ++p) planes[p].assign(n, p >= 6 && p < 9 ? 1.0 : 0.0);
    return planes;
}

void referenceSplat(ReferencePlanes& planes, QVRect region, SplatFragment const& f) {
    const std::vector<double> across = referenceHatTaps(f.radiusX);
    const std::vector<double> down = referenceHatTaps(f.radiusY);
    const std::int64_t Rx = std::int64_t(across.size() / 2);
    const std::int64_t Ry = std::int64_t(down.size() / 2);
    for (std::int64_t dy = -Ry; dy <= Ry; ++dy) {
        const std::int64_t py = std::int64_t(f.y) + dy;
        if (py < region.top || py >= std::int64_t(region.top) + region.height) continue;
        for (std::int64_t dx = -Rx; dx <= Rx; ++dx) {
            const std::int64_t px = std::int64_t(f.x) + dx;
            if (px < region.left || px >= std::int64_t(region.left) + region.width) continue;
            const double tap = down[std::size_t(Ry + dy)] * across[std::size_t(Rx + dx)];
            const std::size_t at =
                std::size_t((py - region.top) * region.width + (px - region.left));
            for (std::size_t c = 0; c < 3; ++c) {
                const double coverage = f.coverage[c];
                double& transmit = planes[6 + c][at];
                planes[c][at] = planes[c][at] + (f.colour[c] * tap) * coverage;
                planes[3 + c][at] = planes[3 + c][at] + (f.opacity[c] * tap) * coverage;
                planes[9 + c][at] = planes[9 + c][at] + coverage * tap;
                transmit = (1.0 - coverage * tap) * transmit;
            }
        }
    }
}

}  // namespace dof::test
