#include "render/aperture_shape.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace dof {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Short, and exact enough to name the value that was refused.
std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

}  // namespace

bool validApertureSettings(const ApertureSettings& s, std::string* error) {
    if (s.blades != 0 && (s.blades < 3 || s.blades > 16))
        *error = "blades " + std::to_string(s.blades) + ": out of range (3 to 16, or 0 for a disc)";
    else if (!(s.curvature >= 0.0 && s.curvature <= 1.0))
        *error = "curvature " + number(s.curvature) + ": out of range (0 to 1)";
    else if (!(s.squeeze >= 0.25 && s.squeeze <= 4.0))
        *error = "squeeze " + number(s.squeeze) + ": out of range (0.25 to 4)";
    else if (!(s.catsEye >= 0.0 && s.catsEye <= 2.0))
        *error = "cat's eye " + number(s.catsEye) + ": out of range (0 to 2 radii)";
    else if (!std::isfinite(s.rotation))
        *error = "rotation is not a number";
    else if (s.picture && (s.blades != 0 || s.catsEye > 0.0))
        *error = "a picture of the aperture takes no blades and no cat's eye";
    else
        return true;
    return false;
}

ApertureShape::ApertureShape(const ApertureSettings& s, int frameWidth, int frameHeight)
    : squeeze_(s.squeeze), catsEye_(s.catsEye) {
    centreX_ = 0.5 * frameWidth;
    centreY_ = 0.5 * frameHeight;
    halfDiagonal_ = std::max(1.0, std::hypot(centreX_, centreY_));
    if (s.blades == 0 || s.curvature >= 1.0) {
        discs_.push_back(Disc{0.0, 0.0, 1.0});
    } else {
        // Corners on the unit circle; a blade between two of them is the
        // edge (straight) or an arc of radius 1 / curvature through both.
        const double apothem = std::cos(kPi / s.blades), half = std::sin(kPi / s.blades);
        for (int i = 0; i < s.blades; ++i) {
            const double angle = s.rotation * kPi / 180.0 + (2 * i + 1) * kPi / s.blades;
            // Upwards in the picture is -v.
            const double nu = std::cos(angle), nv = -std::sin(angle);
            if (s.curvature <= 0.0) {
                planes_.push_back(HalfPlane{nu, nv, apothem});
                continue;
            }
            const double radius = 1.0 / s.curvature;
            const double centre = apothem - std::sqrt(radius * radius - half * half);
            discs_.push_back(Disc{centre * nu, centre * nv, radius});
        }
    }
    if (!searchExtent(Cut{}, &top_, &bottom_)) top_ = bottom_ = 0.0;
}

ApertureShape::Cut ApertureShape::cutAt(int x, int y) const {
    Cut c;
    if (catsEye_ <= 0.0) return c;
    c.cut = true;
    c.u = -catsEye_ * (x + 0.5 - centreX_) / halfDiagonal_;
    c.v = -catsEye_ * (y + 0.5 - centreY_) / halfDiagonal_;
    return c;
}

bool ApertureShape::span(const Cut& cut, double v, double* left, double* right) const {
    double l = -std::numeric_limits<double>::infinity(), r = -l;
    const auto clip = [&](const Disc& d) {
        const double dv = v - d.v;
        if (!(std::fabs(dv) < d.radius)) return false;
        const double h = std::sqrt(d.radius * d.radius - dv * dv);
        l = std::max(l, d.u - h);
        r = std::min(r, d.u + h);
        return true;
    };
    for (const Disc& d : discs_)
        if (!clip(d)) return false;
    if (cut.cut && !clip(Disc{cut.u, cut.v, 1.0})) return false;
    for (const HalfPlane& p : planes_) {
        const double rest = p.offset - p.nv * v;
        if (std::fabs(p.nu) < 1e-12) {
            if (rest < 0.0) return false;
        } else if (p.nu > 0.0) {
            r = std::min(r, rest / p.nu);
        } else {
            l = std::max(l, rest / p.nu);
        }
    }
    *left = l, *right = r;
    return l < r;
}

bool ApertureShape::extent(const Cut& cut, double* top, double* bottom) const {
    if (!cut.cut) {
        *top = top_, *bottom = bottom_;
        return top_ < bottom_;
    }
    return searchExtent(cut, top, bottom);
}

bool ApertureShape::searchExtent(const Cut& cut, double* top, double* bottom) const {
    double l, r;
    // A line through the shape, then each end found by halving.
    constexpr int kProbes = 64;
    double inside = 2.0;
    for (int k = 0; k <= kProbes && inside > 1.0; ++k) {
        const double v = -1.0 + 2.0 * k / kProbes;
        if (span(cut, v, &l, &r)) inside = v;
    }
    if (inside > 1.0) return false;
    double lo = -1.0, hi = inside;  // lo outside (or the circle's top), hi inside
    for (int i = 0; i < 52; ++i) {
        const double mid = 0.5 * (lo + hi);
        (span(cut, mid, &l, &r) ? hi : lo) = mid;
    }
    *top = hi;
    lo = inside, hi = 1.0;
    for (int i = 0; i < 52; ++i) {
        const double mid = 0.5 * (lo + hi);
        (span(cut, mid, &l, &r) ? lo : hi) = mid;
    }
    *bottom = lo;
    return true;
}

}  // namespace dof
