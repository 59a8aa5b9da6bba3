#include "render/coc_pass.h"

#include <cmath>

#include "model/blur_fraction.h"
#include "model/deep_fragments.h"

namespace dof {

namespace {

// The distance that stands for a pixel: its depth, or a deep pixel's
// heaviest fragment's, as the effect's g-buffer is filled.
double frontDistance(const RenderInput& input, int x, int y) {
    if (!input.deep()) return input.distance(x, y);
    const EncodedPixel encoded = encodePixel(input.fragments(x, y));
    return encoded.fragments.empty() ? NAN : encoded.fragments[encoded.front].distance;
}

// The effect's blur of a distance, signed by the side of the focus its
// depth lies on (the effect's depths are negative, nearer is larger).
double effectCoc(double distance, const FramePlan& plan) {
    const runtime::RenderSettings& settings = plan.effect.settings;
    const float depth = plan.effect.depth.effectDepth(distance);
    const double fraction =
        blurFraction(depth, FocusDepths{settings.focalDepth, settings.focusRangeDepth});
    const double radius = fraction * settings.radius * settings.scaleY;
    return double(depth) > settings.focalDepth ? -radius : radius;
}

// The thin lens's blur of a distance, signed; what hit nothing lies
// infinitely far or, under NoHitPolicy::Focus, in focus.
double lensCoc(double distance, const ThinLensBlur& lens, const DepthPlacement& depth) {
    if (!isHit(distance, depth.noHitAbove))
        return depth.noHit == NoHitPolicy::Far ? lens.radius(INFINITY) : 0.0;
    const double radius = lens.radius(distance);
    return distance < lens.focus() ? -radius : radius;
}

}  // namespace

std::vector<float> cocPass(const Frame& frame, const FramePlan& plan) {
    const RenderInput input(frame, 0, plan.windows.front());
    const DepthPlacement& depth = plan.effect.depth;
    std::vector<float> coc(input.pixelCount(), 0.0f);
    // A lens that blurs nothing moves no depth: every pixel is in focus.
    if (plan.lens.active && !depth.lens) return coc;
    std::size_t p = 0;
    for (int y = 0; y < input.height(); ++y)
        for (int x = 0; x < input.width(); ++x, ++p) {
            const double distance = frontDistance(input, x, y);
            const double c = depth.lens ? lensCoc(distance, depth.lens->blur(), depth)
                                        : effectCoc(distance, plan);
            // +0 in focus, never -0.
            coc[p] = c == 0.0 ? 0.0f : float(c);
        }
    return coc;
}

}  // namespace dof
