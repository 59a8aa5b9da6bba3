// Whether a kernel handed to a line blur has taps to filter with. Internal to
// the blur routines.
#pragma once

#include "kernels/Kernel.h"

namespace dof::line_blur {

// A kernel whose table could not be allocated has no taps, and a radius below
// 0 names none: a routine given either leaves its output as it is.
inline bool usableKernel(Kernel const* kernel) {
    return kernel != nullptr && kernel->weights != nullptr && kernel->radius >= 0;
}

}  // namespace dof::line_blur
