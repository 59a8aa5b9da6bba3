// The rests of shared fragments in one slab, as the slab renders them.
//
// A fragment near the midpoint between two slab radii is shared: the slab
// in front takes a share s of it over this one, which keeps the rest (all of
// the fragment where it is opaque), so that the two composite back to the
// fragment. Where the share is opaque it hides what this slab shows around
// it. Within a surface through the two slabs that is the rests of its
// neighbours, which the neighbours' shares make up for, and the two slabs
// together keep the surface's light. An isolated bright fragment's rest, on
// the other hand, spreads wider than its share, which hides little of it and
// hides the slab's other fragments, or what lies behind, instead: the two
// hold up to the share's light more than the fragment had, and what lies
// around loses what the share hid of it.
//
// So each rest gives up the light of its share that no rests around it
// make up for, and gives back what its share hid of the slab's other
// fragments, both divided by what the slab in front lets through of the
// rest; what it gives up of its alpha lets the slabs behind show, which carry
// their own average into the rest's pixel as into any hole. "Around" is the
// slab's spread taken back under the front slab's hat: of the rests, of the
// slab's other fragments, and of the front slab's alpha. Within a surface of
// rests, whatever the shares and colours, nothing changes; the rests of an
// isolated fragment keep the fragment's light with their shares, whatever
// lies behind.
#pragma once

#include <vector>

#include "render/footprint_work.h"
#include "render/slab_fragments.h"

namespace dof {

class SlabRests {
public:
    // The rests in slab `slab`, worked out on up to `threads` threads of
    // `pool`.
    SlabRests(const SlabFragments& fragments, const SlabPlan& plan, int slab,
              const BlurRadii& radii, TaskPool* pool, int threads);

    // The colour (premultiplied) and alpha the slab renders `fragment`, its
    // fragment of pixel (x, y) in frame pixels, with: as it is, or for a rest
    // as above.
    void render(int x, int y, const SlabFragment& fragment, double colour[3],
                double* alpha) const;

private:
    Rect window_;  // in frame pixels; empty when the slab has no rests
    // Per pixel of window_: the front slab's alpha, spread by its hat and
    // then this slab's (`cover_`); this slab's other fragments (colour,
    // alpha) and its rests, spread by its hat and then the front slab's.
    std::vector<double> cover_, others_[4], rests_;
};

}  // namespace dof
