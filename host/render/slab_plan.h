// Depth slabs for splatting a frame slab by slab. Every fragment of a slab is
// rendered at one blur radius, so that within a slab no fragment outweighs
// another; the slabs are composited front to back. Slab radii are spaced
// evenly in the logarithm of the blur radius on each side of the focus, from
// the first radius that spreads beyond a pixel to the largest the frame holds,
// so that neighbouring slabs differ in blur by the same ratio. A fragment
// between two slab radii goes to the nearer of the two; near the midpoint it
// is shared: the nearer slab takes a share of it over the farther slab, which
// keeps the rest (the whole fragment where it is opaque), so that the two
// composite back to the fragment and its blur changes smoothly with depth.
#pragma once

#include <vector>

#include "model/blur_fraction.h"
#include "render/footprint_work.h"

namespace dof {

struct Slab {
    double fraction = 0.0;  // blur of every fragment in it, as the effect finds it
    float depth = 0.0f;     // the depth the effect is handed for them
    bool nearer = false;    // in front of the focus
};

// Where a fragment goes: a share of it to `nearSlab` (none when nearShare is
// 0) over `farSlab`, which gets the rest.
struct SlabShare {
    int nearSlab = 0;
    double nearShare = 0.0;
    int farSlab = 0;
};

class SlabPlan {
public:
    // `nearest` and `farthest` are the largest blur fractions of fragments in
    // front of and behind the focus; `count` the slabs asked for (one more
    // on a side that needs one is added).
    SlabPlan(int count, double nearest, double farthest, const FocusDepths& focus,
             const BlurRadii& radii);

    const std::vector<Slab>& slabs() const { return slabs_; }  // front to back
    int sharpSlab() const { return sharp_; }
    SlabShare shareOf(float depth) const;

private:
    // Whether a fragment of this fraction spreads beyond its own pixel.
    bool spreads(double fraction) const;
    // Slab fractions of one side, smallest blur first.
    std::vector<double> sideFractions(int count, double largest) const;

    FocusDepths focus_;
    BlurRadii radii_;
    double spreadFraction_;  // below it a fragment's hat is one pixel
    std::vector<Slab> slabs_;
    int sharp_ = 0;
};

// The share of the midpoint zone between two slab radii within which a
// fragment is shared between them.
constexpr double kSharedZone = 0.5;

}  // namespace dof
