#include "dof/splat_pixel.h"

#include <cstddef>
#include <cstdint>

#include "host/IFXFilterInstance.h"
#include "host/Parameters.h"
#include "kernels/Kernel.h"

namespace {

// One colour channel's four planes and the fragment's values for it.
struct ChannelSplat {
    double* colourSum;
    double* opacitySum;
    double* transmit;
    double* weightSum;
    double colour;
    double opacity;
    double coverage;
};

inline void accumulate(ChannelSplat const& c, std::ptrdiff_t i, double tap) {
    c.colourSum[i] += (c.colour * tap) * c.coverage;
    c.opacitySum[i] += (c.opacity * tap) * c.coverage;
    c.weightSum[i] += c.coverage * tap;
    c.transmit[i] = (1.0 - c.coverage * tap) * c.transmit[i];
}

inline std::int64_t max64(std::int64_t a, std::int64_t b) { return a > b ? a : b; }
inline std::int64_t min64(std::int64_t a, std::int64_t b) { return a < b ? a : b; }

}  // namespace

bool splat_fragment(IFXFilterInstance const& instance, Parameters* params, int x, int y,
                    double radiusX, double radiusY, double red, double green, double blue,
                    double opacityR, double opacityG, double opacityB, double coverageR,
                    double coverageG, double coverageB) {
    // Destroyed in reverse order: the down kernel first, then the across one,
    // on every way out.
    HatKernel across(radiusX);
    HatKernel down(radiusY);
    if (across.weights == nullptr || down.weights == nullptr) return false;

    const QVRect& region = instance.renderRegion;
    const std::int64_t Rx = across.radius;
    const std::int64_t Ry = down.radius;

    // In 64 bits: x + Rx + 1 and left + width may pass the 32-bit range.
    const std::int64_t firstX = std::int64_t(x) - Rx;
    const std::int64_t firstY = std::int64_t(y) - Ry;
    const std::int64_t x0 = max64(region.left, firstX);
    const std::int64_t x1 =
        min64(std::int64_t(region.left) + region.width, std::int64_t(x) + Rx + 1);
    const std::int64_t y0 = max64(region.top, firstY);
    const std::int64_t y1 =
        min64(std::int64_t(region.top) + region.height, std::int64_t(y) + Ry + 1);
    if (y1 <= y0 || x1 <= x0) return true;

    const ChannelSplat channels[3] = {
        {params->colourSumR, params->opacitySumR, params->transmitR, params->weightSumR, red,
         opacityR, coverageR},
        {params->colourSumG, params->opacitySumG, params->transmitG, params->weightSumG, green,
         opacityG, coverageG},
        {params->colourSumB, params->opacitySumB, params->transmitB, params->weightSumB, blue,
         opacityB, coverageB},
    };

    // Clipped-off taps are dropped, not folded back onto the edge.
    const double* hx = across.weights + (x0 - firstX);
    const double* hy = down.weights + (y0 - firstY);
    const std::ptrdiff_t columns = std::ptrdiff_t(x1 - x0);
    const std::ptrdiff_t width = region.width;
    std::ptrdiff_t rowStart = std::ptrdiff_t((y0 - region.top) * region.width + (x0 - region.left));
    for (std::int64_t py = y0; py < y1; ++py, ++hy, rowStart += width) {
        const double wy = *hy;
        for (std::ptrdiff_t i = 0; i < columns; ++i) {
            const double tap = wy * hx[i];
            for (const ChannelSplat& c : channels) accumulate(c, rowStart + i, tap);
        }
    }
    return true;
}

void splat_pixel(IFXFilterInstance const& instance, Parameters* params, int x, int y,
                 double radiusX, double radiusY, double red, double green, double blue,
                 double opacityR, double opacityG, double opacityB, double coverageR,
                 double coverageG, double coverageB) {
    splat_fragment(instance, params, x, y, radiusX, radiusY, red, green, blue, opacityR, opacityG,
                   opacityB, coverageR, coverageG, coverageB);
}
