// The image of a lens's aperture: the shape a point's light spreads over
// when it lies out of focus. Every shape here is convex, so a horizontal line
// crosses it in one span; spreading needs nothing else of it.
//
// Shapes are measured in radii: a disc of radius 1 is the circle of
// confusion. A polygon's corners lie on that circle; its blades may bulge
// into arcs. An anamorphic squeeze stretches the shape upright by the
// squeeze after everything else. Optical vignetting ("cat's eye") cuts the
// shape by a second disc of radius 1 displaced towards the frame's centre by
// `catsEye` radii at the frame's corners, in proportion to the distance from
// the centre elsewhere.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace dof {

struct AperturePicture;

struct ApertureSettings {
    int blades = 0;           // 0: a disc; 3 to 16: a polygon
    double rotation = 0.0;    // of the polygon, in degrees, counter-clockwise from a corner at +x
    double curvature = 0.0;   // of the blades: 0 straight, 1 the disc itself
    double squeeze = 1.0;     // height over width, 0.25 to 4
    double catsEye = 0.0;     // displacement of the cutting disc at the corners, in radii
    // A picture in place of the shape (aperture_picture.h): squeezed, never
    // bladed or cut.
    std::shared_ptr<const AperturePicture> picture;
};

// Checks the settings; false with `error` saying what is out of range.
bool validApertureSettings(const ApertureSettings& settings, std::string* error);

class ApertureShape {
public:
    // `settings` must be valid; `frameWidth` and `frameHeight` in pixels
    // place the cat's eye.
    ApertureShape(const ApertureSettings& settings, int frameWidth, int frameHeight);

    // One fragment's shape: the aperture cut for where the fragment lies.
    struct Cut {
        bool cut = false;
        double u = 0.0, v = 0.0;  // the cutting disc's centre, in radii before the squeeze
    };
    // The cut for a fragment at the centre of pixel (x, y).
    Cut cutAt(int x, int y) const;

    // The span of the line at height v (radii before the squeeze, downwards)
    // across the shape: false when the line misses it.
    bool span(const Cut& cut, double v, double* left, double* right) const;
    // The shape's top and bottom (before the squeeze); false when nothing
    // is left of it (a cut that removes it whole).
    bool extent(const Cut& cut, double* top, double* bottom) const;

    double squeeze() const { return squeeze_; }
    bool cuts() const { return catsEye_ > 0.0; }

private:
    // The extent found by halving from a line through the shape.
    bool searchExtent(const Cut& cut, double* top, double* bottom) const;

    // Boundaries of the shape: discs (a blade's arc, the circle, the cut),
    // and half-planes (a straight blade: n . p <= offset).
    struct Disc {
        double u, v, radius;
    };
    struct HalfPlane {
        double nu, nv, offset;
    };
    std::vector<Disc> discs_;
    std::vector<HalfPlane> planes_;
    double squeeze_ = 1.0;
    double catsEye_ = 0.0;
    double centreX_ = 0.0, centreY_ = 0.0, halfDiagonal_ = 1.0;
    double top_ = 0.0, bottom_ = 0.0;  // of the uncut shape
};

}  // namespace dof
