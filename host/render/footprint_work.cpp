#include "render/footprint_work.h"

#include <algorithm>

namespace dof {

BlurRadii blurRadii(const runtime::RenderSettings& s) {
    // The effect's own order of operations: radius x scale / aspect.
    return BlurRadii{s.radius * s.scaleX / s.pixelAspect, s.radius * s.scaleY};
}

double footprintPixels(double fraction, const BlurRadii& radii) {
    return double(2 * hatReach(radii.across * fraction) + 1) *
           double(2 * hatReach(radii.down * fraction) + 1);
}

FrameWork oneRenderWork(const RenderInput& input, const DepthPlacement& depth,
                        const runtime::RenderSettings& settings) {
    const FocusDepths focus{settings.focalDepth, settings.focusRangeDepth};
    const BlurRadii radii = blurRadii(settings);
    // Below this radius the effect copies the source and splats nothing.
    const bool splats = settings.method == kMethodSplatting && settings.radius >= kSharpRadius;
    // Every pixel is visited once, with all its fragments.
    std::vector<double> rowTaps(std::size_t(input.height()), kVisitWork * double(input.width()));
    std::vector<double> columnTaps(std::size_t(input.width()), kVisitWork * double(input.height()));
    double largest = 0.0;
    const auto add = [&](double distance, int x, int y) {
        const double f = blurFraction(depth.effectDepth(distance), focus);
        largest = std::max(largest, f);
        const double taps = footprintPixels(f, radii);
        rowTaps[std::size_t(y)] += taps;
        columnTaps[std::size_t(x)] += taps;
    };
    for (int y = 0; y < input.height() && splats; ++y)
        for (int x = 0; x < input.width(); ++x) {
            if (!input.deep()) {
                add(input.distance(x, y), x, y);
                continue;
            }
            for (const Fragment& f : input.fragments(x, y).fragments) add(f.distance, x, y);
        }
    FrameWork work;
    work.rows = RenderWork(0, rowTaps);
    work.columns = RenderWork(0, columnTaps);
    work.reachX = splats ? hatReach(radii.across * largest) : 0;
    work.reachY = splats ? hatReach(radii.down * largest) : 0;
    return work;
}

}  // namespace dof
