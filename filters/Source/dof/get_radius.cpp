#include "dof/get_radius.h"

#include <cmath>

#include "host/Parameters.h"

double get_radius(float depth, Parameters* params) {
    const double F = params->focalDepth;
    const double N = params->focusRangeDepth;
    double d = depth;

    // The zone between F and N stays sharp; behind it the blur grows from N
    // as it would from F without the zone.
    if (F > d && F > N) {
        if (d > N) return 0.0;
        d = d + (F - N);
        d = double(float(d));
    }

    const double q = -1.0 / d;
    const double r = std::fabs(1.0 / F + q) / q;
    if (r < 0.0) return 0.0;
    // Written so that a non-number (depth 0) passes through unchanged.
    return 1.0 < r ? 1.0 : r;
}
