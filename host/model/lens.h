// A thin-lens camera: how much a point at a given distance blurs, and the
// depths to hand the effect so that its blur is the lens's.
//
// A lens of focal length f and f-number N focused at distance F images a
// point at distance d as a disc of diameter
//     c(d) = f^2 / (N (F - f)) x |d - F| / d
// on the sensor (distances along the optical axis, as renderers store Z).
// A sensor W mm wide spans the image's width in pixels, so the disc is
// c x pixels / W pixels across; the effect's blur radius is half of it.
//
// The effect blurs a depth d' by radius x |1 - d'/F'|, a share that grows in
// a straight line away from the focal depth. The lens's blur grows
// differently (fast in front of the focus, levelling off behind it), so each
// distance is moved to the depth at which the effect's share is the lens's
// blur over the radius: in front of the focus d' = F (1 - t), behind it
// d' = F (1 + t), with t = blur / radius. Depth order is kept on each side,
// the focus itself stays exactly where it is, and a sharp zone behind the
// focus is kept by the effect itself on the moved depths.
#pragma once

#include <string>

namespace dof {

// What is known of the camera; 0 where not known.
struct LensSpec {
    double fNumber = 0.0;
    double focalLengthMm = 0.0;
    double sensorWidthMm = 0.0;
    // A file's f-number attribute that is there but not finite above 0, as
    // "aperture 0"; empty otherwise.
    std::string unusableFNumber;
    bool complete() const { return fNumber > 0.0 && focalLengthMm > 0.0 && sensorWidthMm > 0.0; }
};

// The lens given on the command line, completed from the file: each value
// given wins over the file's. False with `error` naming what is still missing.
bool completeLens(const LensSpec& given, const LensSpec& fromFile, LensSpec* lens,
                  std::string* error);

// The blur radius in pixels a thin lens gives a point at a distance, for a
// focus distance, both in the file's units, with an optional zone kept sharp
// behind the focus.
class ThinLensBlur {
public:
    // `metresPerUnit` turns the file's distances into metres; `pixelsPerMm`
    // counts pixels (of the image's height, for non-square pixels) per mm of
    // sensor. `sharpUntil` is the far end of the sharp zone (0 = none);
    // behind it the blur is the lens's less its blur there, so that it
    // starts from 0. False with `error` when the lens cannot focus at `focus`.
    bool setUp(const LensSpec& lens, double focus, double sharpUntil, double metresPerUnit,
               double pixelsPerMm, std::string* error);
    double focus() const { return focus_; }
    double sharpUntil() const { return sharpUntil_; }
    // The thin lens's radius for a distance above 0 (infinite included),
    // without the sharp zone.
    double lensRadius(double distance) const;
    // The radius with the sharp zone: what the frame should show.
    double radius(double distance) const;

private:
    double focus_ = 0.0;
    double sharpUntil_ = 0.0;
    double farRadius_ = 0.0;  // at infinite distance: the limit behind the focus
};

// Moves camera distances so that the effect, given `radius` and the focus
// (and the moved sharp zone), blurs each by the lens's radius, or by the full
// radius where the lens's is larger.
class LensDepthRemap {
public:
    // `radius` above 0.
    LensDepthRemap(const ThinLensBlur& blur, double radius);
    // The distance to hand the effect for a distance above 0 (infinite
    // included); the focus distance comes back unchanged.
    double distance(double distance) const;
    // Where the sharp zone ends among the moved distances (0 = none).
    double sharpUntil() const { return movedZoneEnd_; }
    // The lens whose blur the distances are moved for.
    const ThinLensBlur& blur() const { return blur_; }

private:
    ThinLensBlur blur_;
    double radius_;
    double zoneShare_ = 0.0;     // lens blur at the zone's end over the radius
    double movedZoneEnd_ = 0.0;  // F (1 + that share, at most 1)
};

}  // namespace dof
