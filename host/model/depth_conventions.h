// From the depth a renderer stores to the depth the effect reads: negative,
// more negative farther, with "nothing was hit" placed infinitely far (or on
// the focal plane when asked).
#pragma once

#include <string>

namespace dof {

// How a file stores depth.
enum class DepthConvention {
    Distance,  // positive distance from the camera
    Negative,  // camera-space z: negative in front of the camera
    Inverse,   // 1 / distance: larger is nearer, 0 is infinitely far
};

// Where pixels that hit nothing go.
enum class NoHitPolicy {
    Far,    // infinitely far: blurred by the full radius
    Focus,  // on the focal plane: kept sharp
};

// Parses "distance", "negative", "inverse"; false for anything else.
bool parseDepthConvention(const std::string& name, DepthConvention* convention);
const char* depthConventionName(DepthConvention convention);
bool parseNoHitPolicy(const std::string& name, NoHitPolicy* policy);
const char* noHitPolicyName(NoHitPolicy policy);

// The camera distance a stored value stands for. Values that stand for no
// distance in front of the camera come out as NaN, zero, negative or
// infinite; isHit tells them apart from real distances.
double cameraDistance(double stored, DepthConvention convention);

// A real distance: finite, above zero and below the sentinel limit (renderers
// write 1e10 and the like where a ray hit nothing).
bool isHit(double distance, double noHitAbove);
// The sentinel limit unless one is given.
constexpr double kNoHitAbove = 1e9;

// What is wrong with a focus value given in the file's convention, or empty
// when it is a usable distance. `what` names the option in the message.
std::string focusProblem(const std::string& what, double stored, DepthConvention convention,
                         double noHitAbove);

// The effect's depth parameters accept -65535 to -1. The file's distances are
// multiplied by one power of two per frame, so that the focus and the far end
// of the sharp zone land in that range and equal distances stay exactly equal
// (the blur fraction depends only on ratios of depths, which the power of two
// leaves exact).
struct DepthScale {
    double factor = 1.0;
    double focalDepth = -1.0;      // the effect's parameter
    double focusRangeDepth = 0.0;  // 0 leaves the sharp zone off
};

// Picks the scale for a focus distance and an optional far end of the sharp
// zone (0 = none); both are distances already checked by focusProblem. False
// with `error` when no power of two puts both in range.
bool chooseDepthScale(double focusDistance, double sharpUntilDistance, DepthScale* scale,
                      std::string* error);

// The depth the effect reads for a camera distance: -(distance x factor) as a
// float, never 0 and never positive. No hit gives kNoHitDepth (or the focal
// depth under NoHitPolicy::Focus).
constexpr float kNoHitDepth = -1e30f;
float effectDepth(double distance, double noHitAbove, NoHitPolicy policy, const DepthScale& scale);

}  // namespace dof
