// The camera an image file's metadata describes.
#pragma once

#include <OpenImageIO/imageio.h>

#include "model/lens.h"

namespace dof {

// The lens an image file's metadata describes: the f-number from an EXR
// attribute named "aperture" (or the Exif "FNumber"), the focal length from
// "pinholeFocalLength", else "nominalFocalLength" (or the Exif
// "Exif:FocalLength"), the sensor width from the first value of
// "sensorOverallDimensions". Unknown or unusable values stay 0.
LensSpec lensFromMetadata(const OIIO::ImageSpec& imageSpec);

// The camera's focus distance in metres from OpenEXR's standard "focus"
// attribute; 0 when the file has none or it is not a distance.
double focusFromMetadata(const OIIO::ImageSpec& imageSpec);

}  // namespace dof
