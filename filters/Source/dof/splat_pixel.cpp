#include "dof/splat_pixel.h"

#include <cstdint>

#include "dof/scratch_tables.h"
#include "host/IFXFilterInstance.h"
#include "host/Parameters.h"
#include "kernels/Kernel.h"

namespace {

inline std::int64_t max64(std::int64_t a, std::int64_t b) { return a > b ? a : b; }
inline std::int64_t min64(std::int64_t a, std::int64_t b) { return a < b ? a : b; }

}  // namespace

// Kept out of line: every caller runs the same instructions.
__attribute__((noinline)) void splat_run(const SplatChannelPlanes (&planes)[3],
                                         const SplatFragment& f, double wy, const double* hx,
                                         std::ptrdiff_t n) {
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        const double tap = wy * hx[i];
        for (int c = 0; c < 3; ++c) {
            const SplatChannelPlanes& p = planes[c];
            const double coverage = f.coverage[c];
            p.colourSum[i] += (f.colour[c] * tap) * coverage;
            p.opacitySum[i] += (f.opacity[c] * tap) * coverage;
            p.weightSum[i] += coverage * tap;
            p.transmit[i] = (1.0 - coverage * tap) * p.transmit[i];
        }
    }
}

bool splat_fragment(IFXFilterInstance const& instance, Parameters* params, SplatFragment const& f) {
    // Destroyed in reverse order: the down kernel first, then the across one,
    // on every way out.
    HatKernel across(f.radiusX);
    HatKernel down(f.radiusY);
    if (across.weights == nullptr || down.weights == nullptr) return false;

    const QVRect& region = instance.renderRegion;
    const std::int64_t Rx = across.radius;
    const std::int64_t Ry = down.radius;

    // In 64 bits: x + Rx + 1 and left + width may pass the 32-bit range.
    const std::int64_t firstX = std::int64_t(f.x) - Rx;
    const std::int64_t firstY = std::int64_t(f.y) - Ry;
    const std::int64_t x0 = max64(region.left, firstX);
    const std::int64_t x1 =
        min64(std::int64_t(region.left) + region.width, std::int64_t(f.x) + Rx + 1);
    const std::int64_t y0 = max64(region.top, firstY);
    const std::int64_t y1 =
        min64(std::int64_t(region.top) + region.height, std::int64_t(f.y) + Ry + 1);
    if (y1 <= y0 || x1 <= x0) return true;

    // Clipped-off taps are dropped, not folded back onto the edge.
    const double* hx = across.weights + (x0 - firstX);
    const double* hy = down.weights + (y0 - firstY);
    const std::ptrdiff_t columns = std::ptrdiff_t(x1 - x0);
    const std::ptrdiff_t start =
        std::ptrdiff_t((y0 - region.top) * region.width + (x0 - region.left));
    for (std::int64_t py = y0; py < y1; ++py, ++hy) {
        const std::ptrdiff_t at = start + std::ptrdiff_t(py - y0) * region.width;
        SplatChannelPlanes planes[3];
        for (int c = 0; c < 3; ++c)
            planes[c] = {scratch_table(params, kColourSums + c) + at,
                         scratch_table(params, kOpacitySums + c) + at,
                         scratch_table(params, kTransmits + c) + at,
                         scratch_table(params, kWeightSums + c) + at};
        splat_run(planes, f, *hy, hx, columns);
    }
    return true;
}

void splat_pixel(IFXFilterInstance const& instance, Parameters* params, int x, int y,
                 double radiusX, double radiusY, double red, double green, double blue,
                 double opacityR, double opacityG, double opacityB, double coverageR,
                 double coverageG, double coverageB) {
    const SplatFragment fragment = {x,
                                    y,
                                    radiusX,
                                    radiusY,
                                    {red, green, blue},
                                    {opacityR, opacityG, opacityB},
                                    {coverageR, coverageG, coverageB}};
    splat_fragment(instance, params, fragment);
}
