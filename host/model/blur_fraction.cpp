#include "model/blur_fraction.h"

#include <cmath>

namespace dof {

double blurFraction(float depth, const FocusDepths& focus) {
    const double F = focus.focalDepth;
    const double N = focus.focusRangeDepth;
    double d = depth;
    if (F > d && F > N) {
        if (d > N) return 0.0;
        d = double(float(d + (F - N)));
    }
    const double q = -1.0 / d;
    const double r = std::fabs(1.0 / F + q) / q;
    if (!(r == r)) return 0.0;
    if (r < 0.0) return 0.0;
    return 1.0 < r ? 1.0 : r;
}

std::uint8_t fractionByte(double fraction) {
    const double v = std::nearbyint(255.0 * fraction);
    if (!(v > 0.0)) return 0;
    return v > 255.0 ? 255 : std::uint8_t(v);
}

int hatReach(double radius) {
    if (!(radius > 0.0)) return 0;
    const double reach = std::floor(radius + radius);
    return reach < 65536.0 ? int(reach) : 65536;
}

float depthForFraction(double fraction, bool nearer, const FocusDepths& focus) {
    const double F = focus.focalDepth;
    if (nearer) return float(F * (1.0 - fraction));
    // Behind the zone the blur grows from its far end as it would from F.
    const double start = F > focus.focusRangeDepth ? focus.focusRangeDepth : F;
    return float(start + F * fraction);
}

}  // namespace dof
