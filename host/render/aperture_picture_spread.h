// A slab spread over a picture of the aperture (aperture_picture.h) by
// convolution in the frequency domain.
//
// A slab's fragments have radii of their own, so one kernel cannot serve
// them all. Radii are placed on a ladder of rungs a fixed ratio apart: the
// lowest rung is a fragment left in its own pixel, each higher one the
// picture at the rung's radius. A fragment is shared between the two rungs
// around its radius in proportion to where its radius lies between them (on
// the scale of their logarithms), so its blur grows with its radius without
// a step at a rung. Rungs whose kernels reach a few pixels are added
// fragment by fragment. Above them, each rung's fragments form an image of
// premultiplied R, G, B, A over the box they span that is convolved with the
// rung's kernel; the products are summed in the frequency domain, so a slab
// takes one inverse transform per channel. Beyond the frame's edges the slab
// goes on as its edge pixels at their own radii. Transforms are planned
// without measuring and run on one thread each, channels side by side, rungs
// in order: the bytes do not depend on the number of threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "render/aperture_fill.h"
#include "render/aperture_fragments.h"
#include "render/aperture_picture.h"

namespace dof {

class PictureSpread {
public:
    // For `picture` at a radius of `across` x `down` pixels per unit of a
    // fragment's radius (`down` with the squeeze).
    PictureSpread(const AperturePicture& picture, double across, double down);

    // Spreads `slab`'s fragments and `fill` (null: none) and hands each row
    // of the frame, as `width` x R, G, B, A, to addRow(y, rgba), rows on up
    // to `threads` threads of `pool`. False when a stop was asked for (no
    // row is handed then).
    bool spread(const ApertureFragments& fragments, int slab, const SlabFill* fill, TaskPool* pool,
                int threads, const std::function<void(int y, const float* rgba)>& addRow) const;

    // The rung below a fragment of radius key `key` and its share of the one
    // above; rung 0 leaves the fragment in its own pixel.
    void rungsOf(int key, int* rung, float* upper) const;
    // The radius of rung `rung` (>= 1).
    double rungRadius(int rung) const;

    // The planes a slab's transformed rungs are spread into.
    struct Planes;

private:
    // The transformed rungs a slab uses, and the box of their fragments.
    struct Transformed {
        std::vector<char> used;  // by rung
        int left, right, top, bottom;
    };
    // The rungs `t` marks, each convolved with its kernel and summed; marks
    // in `reached` the frame's pixels they reach. Null when a stop was asked
    // for.
    std::unique_ptr<Planes> transformRungs(const ApertureFragments& fragments, int slab,
                                           const SlabFill* fill, const Transformed& t,
                                           TaskPool* pool, int threads,
                                           std::vector<std::uint8_t>* reached) const;
    PictureKernel kernelOf(int rung) const;

    const AperturePicture& picture_;
    double across_, down_;
    double sharpRadius_;                 // the largest radius whose shape stays within its pixel
    std::vector<PictureKernel> direct_;  // by rung from 1: the kernels added directly
};

}  // namespace dof
