// The effect's per-instance record: four parameter values the host writes, and
// the fourteen scratch buffers of the current render.
#pragma once

#include <cstddef>

#include "host/HostTypes.h"

// The values of `mode`, once rounded.
enum FilterMethod : int {
    kMethodBoxAverage = 1,
    kMethodSplatting = 2,
};

// The largest blur radius the host may set, in pixels.
constexpr double kMaximumRadius = 64.0;

// Radii below this leave the image sharp: the radius map stays 0, and the
// splatting and its resolve copy the source.
constexpr double kSharpRadius = 0.00001;

struct Parameters {
    double radius;           // largest blur radius in pixels
    double mode;             // 1 box averaging, 2 splatting (rounded)
    double focalDepth;       // depth in sharpest focus
    double focusRangeDepth;  // far end of the zone kept sharp
    double* alphaTable;
    double* colourSumR;
    double* colourSumG;
    double* colourSumB;
    double* opacitySumR;
    double* opacitySumG;
    double* opacitySumB;
    double* transmitR;
    double* transmitG;
    double* transmitB;
    double* weightSumR;
    double* weightSumG;
    double* weightSumB;
    unsigned char* cocMap;  // one byte per pixel of the render region
};

#if DOF_CONTRACT_PLATFORM
static_assert(sizeof(Parameters) == 88, "four doubles and fourteen pointers");
#endif
