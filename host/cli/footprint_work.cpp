#include "cli/footprint_work.h"

#include <algorithm>

namespace dof3d {

BlurRadii blurRadii(const dofrt::RenderSettings& s) {
    // The effect's own order of operations: radius x scale / aspect.
    return BlurRadii{s.radius * s.scaleX / s.pixelAspect, s.radius * s.scaleY};
}

double footprintPixels(double fraction, const BlurRadii& radii) {
    return double(2 * hatReach(radii.across * fraction) + 1) *
           double(2 * hatReach(radii.down * fraction) + 1);
}

RenderWork oneRenderWork(const Frame& frame, const DepthPlacement& depth,
                         const dofrt::RenderSettings& settings, int* reachRows) {
    const FocusDepths focus{settings.focalDepth, settings.focusRangeDepth};
    const BlurRadii radii = blurRadii(settings);
    // Below this radius the effect copies the source and splats nothing.
    const bool splats = settings.method == 2.0 && settings.radius >= 0.00001;
    std::vector<double> rowTaps(std::size_t(frame.height()), 0.0);
    double largest = 0.0;
    const auto add = [&](double distance, double& row) {
        const double f =
            blurFraction(effectDepth(distance, depth.noHitAbove, depth.noHit, depth.scale), focus);
        largest = std::max(largest, f);
        row += footprintPixels(f, radii);
    };
    for (int y = 0; y < frame.height(); ++y) {
        // Every pixel is visited once, with all its fragments.
        double& row = rowTaps[std::size_t(y)];
        row = kVisitWork * double(frame.width());
        if (!splats) continue;
        for (int x = 0; x < frame.width(); ++x) {
            const std::size_t p = std::size_t(y) * std::size_t(frame.width()) + std::size_t(x);
            if (!frame.deep) {
                add(frame.distance[p], row);
                continue;
            }
            for (const Fragment& f : frame.fragments[p].fragments) add(f.distance, row);
        }
    }
    *reachRows = splats ? hatReach(radii.down * largest) : 0;
    return RenderWork(0, rowTaps);
}

}  // namespace dof3d
