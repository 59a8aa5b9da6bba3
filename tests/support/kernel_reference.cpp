#include "support/kernel_reference.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace dof::test {

std::vector<double> referenceHatTaps(double r) {
    const bool positive = r > 0;
    const double reach = positive ? r + r : 0.0;
    const double e = positive ? r + 0.000001 : 0.000001;
    const std::int64_t R = std::int64_t(std::floor(reach));
    const double step = 0.5 / e;
    std::vector<double> taps;
    for (std::int64_t d = -R; d <= R; ++d) {
        double w = 1.0;
        for (std::int64_t k = 1; k <= std::llabs(d); ++k) w = w - step;
        taps.push_back(w);
    }
    return taps;
}

std::vector<double> referenceGaussianTaps(double sigma, int R) {
    const double s = sigma > 0.01 ? sigma : 0.01;
    const double a = 1.0 / (2.0 * s * s);
    std::vector<double> taps;
    for (int d = -R; d <= R; ++d) taps.push_back(d == 0 ? 1.0 : std::exp(-double(d * d) * a));
    return taps;
}

std::vector<double> referenceNormalized(const std::vector<double>& taps) {
    const std::size_t R = taps.size() / 2;
    double left = 0.0;
    for (std::size_t i = 0; i < R; ++i) left = left + taps[i];
    const double f = 1.0 / (left + left + taps[R]);
    std::vector<double> scaled;
    for (double t : taps) scaled.push_back(t * f);
    return scaled;
}

}  // namespace dof::test
