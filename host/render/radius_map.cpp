#include "render/radius_map.h"

#include <cmath>

#include "model/blur_fraction.h"
#include "model/deep_fragments.h"

namespace dof {

namespace {

// The depth the effect reads for a pixel's front fragment: a deep pixel's
// heaviest fragment, as the g-buffer is filled.
float frontDepth(const RenderInput& input, int x, int y, const DepthPlacement& depth) {
    double distance = NAN;
    if (!input.deep()) {
        distance = input.distance(x, y);
    } else {
        const EncodedPixel encoded = encodePixel(input.fragments(x, y));
        if (!encoded.fragments.empty()) distance = encoded.fragments[encoded.front].distance;
    }
    return depth.effectDepth(distance);
}

}  // namespace

std::vector<std::uint8_t> radiusMap(const Frame& frame, const FramePlan& plan) {
    const RenderInput input(frame, 0, plan.windows.front());
    const runtime::RenderSettings& settings = plan.effect.settings;
    std::vector<std::uint8_t> map(input.pixelCount(), 0);
    // Below this radius the effect's map is all zero.
    if (settings.radius < kSharpRadius) return map;
    const FocusDepths focus{settings.focalDepth, settings.focusRangeDepth};
    std::size_t p = 0;
    for (int y = 0; y < input.height(); ++y)
        for (int x = 0; x < input.width(); ++x, ++p)
            map[p] = fractionByte(blurFraction(frontDepth(input, x, y, plan.effect.depth), focus));
    return map;
}

}  // namespace dof
