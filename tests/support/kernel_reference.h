// Slow, literal kernel tables for checking the kernels and the splatting.
#pragma once

#include <vector>

namespace dof::test {

// The hat of radius r as its 2R + 1 taps, index 0 the tap at -R. Every tap is
// built on its own by |d| subtractions of the step from 1.0.
std::vector<double> referenceHatTaps(double r);

// The Gaussian of the given sigma with R taps each side, each tap worked out
// on its own from its distance.
std::vector<double> referenceGaussianTaps(double sigma, int R);

// The taps scaled to sum to 1 by the left half, counted twice, and the centre.
std::vector<double> referenceNormalized(const std::vector<double>& taps);

}  // namespace dof::test
