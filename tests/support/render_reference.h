// Slow, literal render of the effect for checking the render engine: every
// pass written out pixel by pixel with its own arithmetic, its own g-buffer
// reads and the literal splatting of splat_reference.h.
#pragma once

#include <cstdint>
#include <vector>

#include "host/GBuffer.h"
#include "host/IFXFilterInstance.h"
#include "runtime/PixelImage.h"

namespace doftest {

struct ReferenceSettings {
    double radius = 0.0;
    double mode = 1.0;
    double focalDepth = -1.0;
    double focusRangeDepth = 0.0;
    double pixelAspect = 1.0;
    double scaleX = 1.0;
    double scaleY = 1.0;
    QVRect region{0, 0, 0, 0};
    // Passes 1, 3 and 4 run over these in order; empty = the region.
    std::vector<QVRect> outputRects;
};

// What a whole render does to `destination`, which holds the host's buffer
// before the render. The radius map has one byte per pixel of the region,
// and output rectangles are clipped to the region. Returns false, with the
// destination untouched, when the method is unknown (the render stops at
// pass 2).
bool referenceRender(const ReferenceSettings& settings, const dofrt::PixelImage& source,
                     GBufferChannel* const* gbuffers, dofrt::PixelImage& destination);

// The radius map a render fills in passes 1, one byte per region pixel.
std::vector<std::uint8_t> referenceRadiusMap(const ReferenceSettings& settings,
                                             GBufferChannel* const* gbuffers);

// The pieces, for hand-worked checks.
std::int32_t referenceRoundToInt(double value);
double referenceBlurFraction(float depth, double focalDepth, double focusRangeDepth);
// A raw component as a fraction by the format's rule.
double referenceFraction(QVBitmapType format, double raw);

}  // namespace doftest
