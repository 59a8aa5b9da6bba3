#include "io/lens_metadata.h"

#include <cmath>
#include <cstdio>

namespace dof {

namespace {

// A usable lens value: finite and above 0; 0 otherwise.
double usable(double value) { return std::isfinite(value) && value > 0.0 ? value : 0.0; }

double firstFloat(const OIIO::ImageSpec& imageSpec, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        const double value = usable(imageSpec.get_float_attribute(name, 0.0f));
        if (value > 0.0) return value;
    }
    return 0.0;
}

}  // namespace

LensSpec lensFromMetadata(const OIIO::ImageSpec& imageSpec) {
    LensSpec lens;
    lens.fNumber = firstFloat(imageSpec, {"aperture", "FNumber"});
    // OpenEXR's aperture reaches us as FNumber.
    for (const char* name : {"aperture", "FNumber"})
        if (!(lens.fNumber > 0.0) && lens.unusableFNumber.empty() &&
            imageSpec.find_attribute(name) != nullptr) {
            char text[48];
            std::snprintf(text, sizeof text, "aperture %g", imageSpec.get_float_attribute(name));
            lens.unusableFNumber = text;
        }
    lens.focalLengthMm =
        firstFloat(imageSpec, {"pinholeFocalLength", "nominalFocalLength", "Exif:FocalLength"});
    const OIIO::ParamValue* sensor = imageSpec.find_attribute("sensorOverallDimensions");
    // A V2f in millimetres: width, height.
    if (sensor != nullptr && sensor->type().basetype == OIIO::TypeDesc::FLOAT &&
        sensor->nvalues() * sensor->type().aggregate >= 1)
        lens.sensorWidthMm = usable(static_cast<const float*>(sensor->data())[0]);
    return lens;
}

double focusFromMetadata(const OIIO::ImageSpec& imageSpec) {
    return firstFloat(imageSpec, {"focus"});
}

}  // namespace dof
