// Slow, literal hat taps for checking the kernels and the splatting.
#pragma once

#include <vector>

namespace doftest {

// The hat of radius r as its 2R + 1 taps, index 0 the tap at -R. Every tap is
// built on its own by |d| subtractions of the step from 1.0.
std::vector<double> referenceHatTaps(double r);

}  // namespace doftest
