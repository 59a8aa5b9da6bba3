#include "render/radius_map.h"

#include <cmath>

#include "model/blur_fraction.h"
#include "model/deep_fragments.h"

namespace dof {

namespace {

// The depth the effect reads for a pixel's front fragment: a deep pixel's
// heaviest fragment, as the g-buffer is filled.
float frontDepth(const Frame& frame, std::size_t p, const DepthPlacement& depth) {
    double distance = NAN;
    if (!frame.deep) {
        distance = frame.distance[p];
    } else {
        const EncodedPixel encoded = encodePixel(frame.fragments[p]);
        if (!encoded.fragments.empty()) distance = encoded.fragments[encoded.front].distance;
    }
    return effectDepth(distance, depth.noHitAbove, depth.noHit, depth.scale);
}

}  // namespace

std::vector<std::uint8_t> radiusMap(const Frame& frame, const DepthPlacement& depth,
                                    const runtime::RenderSettings& settings) {
    std::vector<std::uint8_t> map(frame.pixelCount(), 0);
    // Below this radius the effect's map is all zero.
    if (settings.radius < 0.00001) return map;
    const FocusDepths focus{settings.focalDepth, settings.focusRangeDepth};
    for (std::size_t p = 0; p < map.size(); ++p)
        map[p] = radiusMapByte(blurFraction(frontDepth(frame, p, depth), focus));
    return map;
}

}  // namespace dof
