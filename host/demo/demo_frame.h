// The built-in scene as a renderer would write it: colour, opaque, and the
// distance of each pixel's nearest surface (focus on the card at 6, sharp to
// 7). For benchmarks and tests of whole frames without files.
#pragma once

#include "model/frame.h"

namespace dof {

Frame demoFrame(int width, int height);

}  // namespace dof
