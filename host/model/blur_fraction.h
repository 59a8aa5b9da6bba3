// The blur of a depth as the effect works it out, on the host side: its
// fraction of the largest radius, the radius map byte, and the reach of the
// hat a fragment is spread with. dof3d plans slabs and bands and draws the
// radius map from these, so they follow the effect's arithmetic step by step.
#pragma once

#include <cstdint>

namespace dof {

// The effect's two depth parameters: focal depth and the far end of the
// sharp zone (the zone is on only when it lies farther than the focus).
struct FocusDepths {
    double focalDepth = -1.0;
    double focusRangeDepth = 0.0;
};

// 0 (sharp) to 1 (the largest radius) for a depth the effect reads; a depth
// whose ratio is not a number (0) counts as sharp, as in the effect.
double blurFraction(float depth, const FocusDepths& focus);

// The byte of a fraction of 1, as the effect stores radius map, coverage
// and colour bytes: 255 x fraction rounded to nearest (ties to even),
// limited to 0..255 (0 for a fraction that is not a number).
std::uint8_t fractionByte(double fraction);

// Whole taps a hat of radius r reaches on each side of its centre: 2r with
// its fraction cut off, 0 for r not above 0 (and at most 65536, far beyond
// any footprint the effect can be asked for).
int hatReach(double radius);

// The depth whose blur is `fraction` of the largest radius, nearer than the
// focus (`nearer`) or farther, behind the sharp zone when it is on. The
// effect reads depths as floats, so the fraction it finds may differ in the
// last bits; blurFraction of the result tells which.
float depthForFraction(double fraction, bool nearer, const FocusDepths& focus);

}  // namespace dof
