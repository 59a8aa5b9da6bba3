#include "cli/render_work.h"

#include <algorithm>
#include <cmath>

namespace dof3d {

namespace {

// The share of the radius the effect blurs a depth by, by its own rule
// (|1 - d / F| up to 1, nothing inside the sharp zone), for weighing only.
double blurShare(float depth, double focal, double zoneEnd) {
    double d = depth;
    if (focal > d && focal > zoneEnd) {
        if (d > zoneEnd) return 0.0;
        d = double(float(d + (focal - zoneEnd)));
    }
    if (!(d < 0.0)) return 0.0;
    return std::min(1.0, std::fabs(1.0 - d / focal));
}

// Pixels a fragment's footprint reaches: the hat spans 2r on each side.
double footprintTaps(double share, double radiusX, double radiusY) {
    const double reachX = std::floor(2.0 * radiusX * share);
    const double reachY = std::floor(2.0 * radiusY * share);
    return (2.0 * reachX + 1.0) * (2.0 * reachY + 1.0);
}

}  // namespace

double RenderWork::total() const {
    double sum = 0.0;
    for (const std::vector<double>& pass : calls)
        for (double w : pass) sum += w;
    return sum;
}

RenderWork estimateRenderWork(const Frame& frame, const DepthPlacement& depth,
                              const dofrt::RenderSettings& settings, Method method) {
    RenderWork work;
    const double pixels = double(frame.pixelCount());
    work.calls[0] = {0.0};
    work.calls[2] = {pixels};  // the tables, or the planes set up
    const double radiusX = settings.radius * settings.scaleX / settings.pixelAspect;
    const double radiusY = settings.radius * settings.scaleY;
    const auto taps = [&](double distance) {
        const float d = effectDepth(distance, depth.noHitAbove, depth.noHit, depth.scale);
        return footprintTaps(blurShare(d, settings.focalDepth, settings.focusRangeDepth), radiusX,
                             radiusY);
    };
    for (const QVRect& rect : settings.outputRects) {
        const double rectPixels = double(rect.width) * double(rect.height);
        work.calls[1].push_back(rectPixels);
        work.calls[4].push_back(rectPixels);
        double splat = 0.0;
        if (method == Method::Splat)
            for (int y = rect.top; y < rect.top + rect.height; ++y)
                for (int x = rect.left; x < rect.left + rect.width; ++x) {
                    const std::size_t p =
                        std::size_t(y) * std::size_t(frame.width()) + std::size_t(x);
                    if (!frame.deep) {
                        splat += taps(frame.distance[p]);
                        continue;
                    }
                    for (const Fragment& f : frame.fragments[p].fragments)
                        splat += taps(f.distance);
                }
        work.calls[3].push_back(splat);
    }
    return work;
}

}  // namespace dof3d
