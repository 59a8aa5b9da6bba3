// What a slab holds behind the slabs in front of it. A slab's pixels that
// nearer slabs cover (holes) hold nothing of the slab, yet where the nearer
// slabs blur, their soft edges let through what lies behind them. Each hole
// within reach of that is filled from the slab around it: from the nearest
// pixel that is not wholly covered up, down, left and right of it, each
// weighed by one over its distance. Such a pixel is the slab's own, or open
// (nothing of the slab, not wholly covered: what lies there is farther, and
// transparent to this slab), which counts by the share not covered. The fill
// is that mean times the share of the hole that nearer slabs cover: where the
// slab is all around, it fills the hole at full opacity, so nothing farther
// shows through an opaque surface. It carries the structure of the slab's
// edge into the hole (a vertical edge meeting a horizontal boundary goes on
// across it) and spreads at the mean radius of the pixels it comes from, so a
// surface that crosses slabs shows no seam.
#pragma once

#include <vector>

#include "render/aperture_fragments.h"

namespace dof {

class SlabFill {
public:
    // The fill of `slab`'s holes that lie within `reach` pixels of a pixel
    // that is not wholly covered; `cover` holds, per pixel, the alpha of the
    // slabs in front of it. On up to `threads` threads of `pool`.
    SlabFill(const ApertureFragments& fragments, int slab, const std::vector<float>& cover,
             int reach, TaskPool* pool, int threads);

    // The fill fragments of row y, left to right.
    const SpreadFragment* begin(int y) const { return at(y, 0); }
    const SpreadFragment* end(int y) const { return at(y, 1); }
    // The largest radius key among them; -1 when there are none.
    int largestKey() const { return largestKey_; }
    std::size_t count() const { return count_; }

private:
    static constexpr int kRows = 32;
    struct Rows {
        std::vector<std::uint32_t> first;  // per row, and one past the last
        std::vector<SpreadFragment> fragments;
    };
    const SpreadFragment* at(int y, int next) const {
        const Rows& rows = rows_[std::size_t(y / kRows)];
        return rows.fragments.data() + rows.first[std::size_t(y % kRows + next)];
    }

    std::vector<Rows> rows_;
    int largestKey_ = -1;
    std::size_t count_ = 0;
};

}  // namespace dof
