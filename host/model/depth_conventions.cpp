#include "model/depth_conventions.h"

#include <cfloat>
#include <cmath>
#include <sstream>

namespace dof {

bool parseDepthConvention(const std::string& name, DepthConvention* convention) {
    if (name == "distance")
        *convention = DepthConvention::Distance;
    else if (name == "negative")
        *convention = DepthConvention::Negative;
    else if (name == "inverse")
        *convention = DepthConvention::Inverse;
    else
        return false;
    return true;
}

const char* depthConventionName(DepthConvention convention) {
    switch (convention) {
        case DepthConvention::Negative:
            return "negative";
        case DepthConvention::Inverse:
            return "inverse";
        default:
            return "distance";
    }
}

bool parseNoHitPolicy(const std::string& name, NoHitPolicy* policy) {
    if (name == "far")
        *policy = NoHitPolicy::Far;
    else if (name == "focus")
        *policy = NoHitPolicy::Focus;
    else
        return false;
    return true;
}

const char* noHitPolicyName(NoHitPolicy policy) {
    return policy == NoHitPolicy::Focus ? "focus" : "far";
}

double cameraDistance(double stored, DepthConvention convention) {
    switch (convention) {
        case DepthConvention::Negative:
            return -stored;
        // 1/0 is +inf: a zero inverse depth is infinitely far, as renderers
        // that store 1/z mean it.
        case DepthConvention::Inverse:
            return 1.0 / stored;
        default:
            return stored;
    }
}

bool isHit(double distance, double noHitAbove) {
    return std::isfinite(distance) && distance > 0.0 && distance < noHitAbove;
}

std::string focusProblem(const std::string& what, double stored, DepthConvention convention,
                         double noHitAbove) {
    std::ostringstream text;
    text.precision(17);
    text << what << " " << stored;
    if (!std::isfinite(stored)) return text.str() + " is not a finite number";
    if (stored == 0.0) return text.str() + " is zero, which puts it at the camera";
    const double distance = cameraDistance(stored, convention);
    if (!(distance > 0.0))
        return text.str() + " lies behind the camera in the " + depthConventionName(convention) +
               " depth convention";
    // Below the smallest normal double no power of two brings the distance
    // up to 1 without overflowing the factor.
    if (distance < DBL_MIN)
        return text.str() + " is too close to the camera to scale into the effect's depth range";
    if (!isHit(distance, noHitAbove))
        return text.str() + " lies at or beyond the no-hit limit (--no-hit-above)";
    return std::string();
}

bool chooseDepthScale(double focusDistance, double sharpUntilDistance, DepthScale* scale,
                      std::string* error) {
    const double far = sharpUntilDistance > focusDistance ? sharpUntilDistance : focusDistance;
    // The largest power of two a double holds; doubling past it gives
    // infinity, which no halving brings back.
    constexpr double kLargestFactor = 0x1p1023;
    double factor = 1.0;
    while (focusDistance * factor < 1.0 && factor < kLargestFactor) factor *= 2.0;
    if (focusDistance * factor < 1.0) {
        if (error) {
            std::ostringstream text;
            text.precision(17);
            text << "the focus distance " << focusDistance
                 << " is too small to scale into the effect's depth range";
            *error = text.str();
        }
        return false;
    }
    // The effect's depths run from -1 to -65535. The smallest factor that
    // keeps the focus at 1 or beyond lets the sharp zone reach 65535 over
    // it: 32768 to 65535 times the focus, as the focus lies between two
    // powers of two.
    constexpr double kDeepest = 65535.0;
    double smallest = factor;
    while (focusDistance * (smallest * 0.5) >= 1.0) smallest *= 0.5;
    const double deepestReach = kDeepest / smallest;
    while (far * factor > kDeepest) factor *= 0.5;
    if (focusDistance * factor < 1.0) {
        if (error) {
            std::ostringstream text;
            text.precision(17);
            text << "the sharp zone from " << focusDistance << " to " << far
                 << " is deeper than the effect's depth range allows: with this focus its far "
                    "end may lie at most at "
                 << deepestReach;
            text.precision(6);
            text << " (" << deepestReach / focusDistance << " times the focus)";
            *error = text.str();
        }
        return false;
    }
    scale->factor = factor;
    // Rounded to float like the depths the effect compares them with, so
    // that a pixel stored at exactly the focus distance is exactly sharp.
    scale->focalDepth = double(float(-(focusDistance * factor)));
    scale->focusRangeDepth =
        sharpUntilDistance > 0.0 ? double(float(-(sharpUntilDistance * factor))) : 0.0;
    return true;
}

float effectDepth(double distance, double noHitAbove, NoHitPolicy policy, const DepthScale& scale) {
    if (!isHit(distance, noHitAbove))
        return policy == NoHitPolicy::Focus ? float(scale.focalDepth) : kNoHitDepth;
    const double depth = -(distance * scale.factor);
    // A distance too small for a float would become -0, which the effect
    // cannot take; the nearest representable depth blurs it fully all the same.
    if (depth > -double(FLT_MIN)) return -FLT_MIN;
    if (depth < -double(FLT_MAX)) return -FLT_MAX;
    return float(depth);
}

}  // namespace dof
