// Facts of our host library's bitmaps that the rest of the host side shares.
#pragma once

#include "host/QVLib.h"

namespace qvlib {

// Bytes per pixel of a bitmap format; 0 for a code the host has no format for.
int bitmapPixelBytes(QVBitmapType type);

}  // namespace qvlib
