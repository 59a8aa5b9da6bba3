#include "render/slab_plan.h"

#include <algorithm>
#include <cmath>

namespace dof {

SlabPlan::SlabPlan(int count, double nearest, double farthest, const FocusDepths& focus,
                   const BlurRadii& radii)
    : focus_(focus), radii_(radii) {
    const double largestRadius = std::max(radii.across, radii.down);
    spreadFraction_ = largestRadius > 0.0 ? 0.5 / largestRadius : 2.0;
    const bool front = spreads(nearest), back = spreads(farthest);
    int frontCount = 0, backCount = 0;
    const int blurred = std::max(count - 1, int(front) + int(back));
    if (front && back) {
        // Both sides get slabs in proportion to the ratio of blur they span.
        const double f = std::log(nearest / spreadFraction_) + 1e-9;
        const double b = std::log(farthest / spreadFraction_) + 1e-9;
        frontCount = std::max(1, std::min(blurred - 1, int(std::lround(blurred * f / (f + b)))));
        backCount = blurred - frontCount;
    } else if (front) {
        frontCount = blurred;
    } else if (back) {
        backCount = blurred;
    }
    const std::vector<double> frontFractions = sideFractions(frontCount, nearest);
    const std::vector<double> backFractions = sideFractions(backCount, farthest);
    for (auto f = frontFractions.rbegin(); f != frontFractions.rend(); ++f) {
        const float depth = depthForFraction(*f, true, focus);
        slabs_.push_back(Slab{blurFraction(depth, focus), depth, true});
    }
    sharp_ = int(slabs_.size());
    slabs_.push_back(Slab{0.0, float(focus.focalDepth), false});
    for (double f : backFractions) {
        const float depth = depthForFraction(f, false, focus);
        slabs_.push_back(Slab{blurFraction(depth, focus), depth, false});
    }
}

bool SlabPlan::spreads(double fraction) const {
    return hatReach(radii_.across * fraction) > 0 || hatReach(radii_.down * fraction) > 0;
}

std::vector<double> SlabPlan::sideFractions(int count, double largest) const {
    std::vector<double> fractions;
    for (int k = 1; k <= count; ++k)
        fractions.push_back(k == count ? largest
                                       : spreadFraction_ * std::pow(largest / spreadFraction_,
                                                                    double(k) / double(count)));
    return fractions;
}

SlabShare SlabPlan::shareOf(float depth) const {
    const double f = blurFraction(depth, focus_);
    if (!spreads(f)) return SlabShare{sharp_, 0.0, sharp_};
    const bool nearer = double(depth) > focus_.focalDepth;
    // Slabs of this side from the sharp one outwards: index and fraction.
    const int step = nearer ? -1 : 1;
    int below = sharp_;
    double belowFraction = 0.0;
    for (int i = sharp_ + step; i >= 0 && i < int(slabs_.size()); i += step) {
        const double slabFraction = slabs_[std::size_t(i)].fraction;
        if (f < slabFraction) {
            // Shared only near the midpoint between the two slab radii.
            const double t = (f - belowFraction) / (slabFraction - belowFraction);
            const double toOuter =
                std::min(1.0, std::max(0.0, (t - 0.5 * (1.0 - kSharedZone)) / kSharedZone));
            if (toOuter <= 0.0) return SlabShare{below, 0.0, below};
            if (toOuter >= 1.0) return SlabShare{i, 0.0, i};
            // The outer slab is the nearer one in front of the focus.
            return nearer ? SlabShare{i, toOuter, below} : SlabShare{below, 1.0 - toOuter, i};
        }
        below = i;
        belowFraction = slabFraction;
    }
    return SlabShare{below, 0.0, below};
}

}  // namespace dof
