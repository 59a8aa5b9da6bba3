#include "model/lens.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace dof {

namespace {

std::string number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

// Moved depths in front of the focus never reach the camera: from a share of
// 1/2 on, they also stay above this share of the focus, divided by the blur
// share, which keeps them in order where the blur reaches the full radius.
// The effect's blur there falls short of the full radius by at most twice
// this share (2^-19, 0.0001 pixels at a radius of 64).
constexpr double kNearestShare = 0x1p-20;

}  // namespace

bool completeLens(const LensSpec& given, const LensSpec& fromFile, LensSpec* lens,
                  std::string* error) {
    lens->fNumber = given.fNumber > 0.0 ? given.fNumber : fromFile.fNumber;
    lens->focalLengthMm = given.focalLengthMm > 0.0 ? given.focalLengthMm : fromFile.focalLengthMm;
    lens->sensorWidthMm = given.sensorWidthMm > 0.0 ? given.sensorWidthMm : fromFile.sensorWidthMm;
    if (!(lens->fNumber > 0.0))
        *error = "the lens has no f-number: give --fstop (" +
                 (fromFile.unusableFNumber.empty()
                      ? std::string("the file has no aperture attribute")
                      : "the file's " + fromFile.unusableFNumber + " is not an f-number") +
                 ")";
    else if (!(lens->focalLengthMm > 0.0))
        *error =
            "the lens has no focal length: give --focal-length (the file has no "
            "pinholeFocalLength or nominalFocalLength attribute)";
    else if (!(lens->sensorWidthMm > 0.0))
        *error =
            "the lens has no sensor width: give --sensor-width (the file has no "
            "sensorOverallDimensions attribute)";
    else
        return true;
    return false;
}

bool ThinLensBlur::setUp(const LensSpec& lens, double focus, double sharpUntil,
                         double metresPerUnit, double pixelsPerMm, std::string* error) {
    const double f = lens.focalLengthMm;
    const double focusMm = focus * metresPerUnit * 1000.0;
    if (!(focusMm > f)) {
        *error = "the focus distance " + number(focus * metresPerUnit) +
                 " m is not beyond the focal length " + number(f) +
                 " mm: the lens cannot focus there (is --depth-unit right?)";
        return false;
    }
    focus_ = focus;
    sharpUntil_ = sharpUntil > focus ? sharpUntil : 0.0;
    // The disc's diameter at infinity is f^2 / (N (F - f)) mm; half of it,
    // in pixels, is the radius the blur behind the focus tends to.
    farRadius_ = f * f / (lens.fNumber * (focusMm - f)) * pixelsPerMm / 2.0;
    return true;
}

double ThinLensBlur::lensRadius(double distance) const {
    if (std::isinf(distance)) return farRadius_;
    return farRadius_ * std::fabs(distance - focus_) / distance;
}

double ThinLensBlur::radius(double distance) const {
    if (sharpUntil_ > 0.0 && distance > focus_) {
        if (distance <= sharpUntil_) return 0.0;
        return lensRadius(distance) - lensRadius(sharpUntil_);
    }
    return lensRadius(distance);
}

LensDepthRemap::LensDepthRemap(const ThinLensBlur& blur, double radius)
    : blur_(blur), radius_(radius) {
    if (blur.sharpUntil() > 0.0) {
        zoneShare_ = blur.lensRadius(blur.sharpUntil()) / radius;
        movedZoneEnd_ = blur.focus() * (1.0 + std::min(zoneShare_, 1.0));
    }
}

double LensDepthRemap::distance(double distance) const {
    const double focus = blur_.focus();
    if (distance == focus) return focus;
    const double share = blur_.lensRadius(distance) / radius_;
    if (distance < focus) {
        const double moved =
            share <= 0.5 ? 1.0 - share : std::max(1.0 - share, kNearestShare / share);
        return focus * moved;
    }
    if (movedZoneEnd_ == 0.0) return focus * (1.0 + share);
    // The effect keeps its zone sharp and blurs behind it by the share beyond
    // the zone's end; a zone end placed nearer than its share (when that is
    // above 1) keeps depths within the effect's range.
    const double zoneMoved = std::min(zoneShare_, 1.0);
    if (distance <= blur_.sharpUntil()) return focus * (1.0 + zoneMoved * (share / zoneShare_));
    return focus * (1.0 + zoneMoved + (share - zoneShare_));
}

}  // namespace dof
