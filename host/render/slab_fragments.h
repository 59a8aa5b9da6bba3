// A render input's pixels cut into their fragments in each depth slab. A
// flat pixel is one piece at its depth; a deep pixel's samples are each a
// piece at their own depth. A pixel's fragment in a slab is what of the
// pixel lies in that slab, composited front to back on its own, with the
// colour premultiplied: a sample behind another one in a nearer slab is not
// dimmed by it here, since the slabs are composited over one another
// afterwards.
#pragma once

#include <cstdint>
#include <vector>

#include "model/rect.h"
#include "render/effect_buffers.h"
#include "render/slab_plan.h"
#include "util/task_pool.h"

namespace dof {

struct SlabFragment {
    int slab;
    float colour[3];  // premultiplied
    float alpha;
    // The alpha that the shares of its pieces hold in the slab in front of
    // this one (0 for a fragment that lies whole in its slab).
    float shared;
};

class SlabFragments {
public:
    // Works on up to `threads` threads of `pool` (null: the caller's only).
    SlabFragments(const RenderInput& input, const SlabPlan& plan, const DepthPlacement& depth,
                  TaskPool* pool, int threads);

    int width() const { return width_; }
    int height() const { return height_; }
    // The fragments of pixel (x, y), front to back, at most one per slab.
    const SlabFragment* begin(int x, int y) const {
        const Rows& rows = rows_[std::size_t(y / kRows)];
        return rows.fragments.data() + rows.first[index(x, y % kRows)];
    }
    const SlabFragment* end(int x, int y) const {
        const Rows& rows = rows_[std::size_t(y / kRows)];
        return rows.fragments.data() + rows.first[index(x, y % kRows) + 1];
    }
    // The pixel lies whole in the sharp slab, exactly as stored.
    bool wholeSharp(int x, int y) const { return wholeSharp_[index(x, y)] != 0; }
    // The pixels that hold a fragment of `slab` (empty when none do), and how
    // many.
    Rect bounds(int slab) const { return bounds_[std::size_t(slab)]; }
    std::size_t count(int slab) const { return counts_[std::size_t(slab)]; }

private:
    std::size_t index(int x, int y) const {
        return std::size_t(y) * std::size_t(width_) + std::size_t(x);
    }

    // The fragments of a run of rows, worked out on one thread.
    static constexpr int kRows = 32;
    struct Rows {
        std::vector<std::uint32_t> first;  // per pixel, and one past the last
        std::vector<SlabFragment> fragments;
    };

    int width_, height_;
    std::vector<Rows> rows_;
    std::vector<std::uint8_t> wholeSharp_;
    std::vector<Rect> bounds_;
    std::vector<std::size_t> counts_;
};

// What slab `slab` holds at (x, y): its fragment there, if any, and the
// alpha of the nearer slabs' fragments in front of it.
struct SlabHeld {
    const SlabFragment* own = nullptr;
    double hole = 0.0;
};
SlabHeld heldBy(const SlabFragments& fragments, int slab, int x, int y);

}  // namespace dof
