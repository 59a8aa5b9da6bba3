#include "support/kernel_reference.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace doftest {

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

}  // namespace doftest
