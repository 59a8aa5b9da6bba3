// A render input's fragments for spreading over the aperture: how far each
// blurs, and the depth slabs that keep nearer fragments in front of farther
// ones. Every fragment keeps its own radius: the slabs only order them.
//
// A flat pixel is one fragment at its depth, or two on the far side of a
// depth step (render/edge_split.h); a deep pixel's samples are each
// a fragment at their own depth, not dimmed by samples in nearer slabs (the
// slabs in front do that when they are composited over it) but by those in
// front of it in its own slab. Colour is premultiplied.
#pragma once

#include <cstdint>
#include <vector>

#include "model/blur_fraction.h"
#include "model/lens.h"
#include "render/aperture_shape.h"
#include "render/effect_buffers.h"
#include "util/task_pool.h"

namespace dof {

// How far a fragment at a camera distance blurs: the lens's circle of
// confusion when a lens blurs the frame, otherwise the effect's share of the
// largest radius for the depth it would be handed. In pixels of height;
// across, a radius covers `across` times as many pixels, down `down` times
// (the render scale and the pixel aspect).
struct ApertureBlur {
    bool lens = false;
    ThinLensBlur lensBlur;
    DepthPlacement depth;
    FocusDepths focus;
    double radius = 0.0;  // the effect's largest, without a lens
    double across = 1.0, down = 1.0;

    double radiusAt(double distance) const;
    bool nearer(double distance) const;
};

// Slabs by the size of the blur (its larger radius, across or down, in
// pixels): one in focus (a shape within its own pixel) and slabs in front of
// it and behind it whose sizes are spaced by one ratio, from half a pixel to
// the largest on that side, each side with slabs in proportion to the ratio
// of blur it spans.
class ApertureSlabs {
public:
    // `count` slabs in all (one more where both sides blur and count is 2);
    // `nearest` and `farthest` the largest sizes in front and behind.
    ApertureSlabs(int count, double nearest, double farthest);

    int count() const { return sharp_ + 1 + back_; }
    int sharp() const { return sharp_; }
    // The slab of a fragment whose blur has this size.
    int slabOf(double size, bool nearer) const;

private:
    int sharp_ = 0, back_ = 0;  // sharp_: slabs in front
    double nearest_, farthest_;
};

struct SpreadFragment {
    int x;           // column
    int key;         // quantised radius (radiusKey)
    float rgba[4];   // premultiplied
};

class ApertureFragments {
public:
    // Cuts every pixel of `input`, on up to `threads` threads of `pool`.
    ApertureFragments(const RenderInput& input, const ApertureBlur& blur, const ApertureShape& shape,
                      int slabs, TaskPool* pool, int threads);

    int width() const { return width_; }
    int height() const { return height_; }
    const ApertureSlabs& slabs() const { return slabs_; }
    // The fragments of `slab` in row y, left to right.
    const SpreadFragment* begin(int slab, int y) const { return at(slab, y, 0); }
    const SpreadFragment* end(int slab, int y) const { return at(slab, y, 1); }
    // The pixel's fragments all lie in the sharp slab (a flat pixel's).
    bool wholeSharp(int x, int y) const {
        return wholeSharp_[std::size_t(y) * std::size_t(width_) + std::size_t(x)] != 0;
    }
    std::size_t count(int slab) const { return counts_[std::size_t(slab)]; }
    // The largest radius key in the slab; -1 when it holds nothing.
    int largestKey(int slab) const { return largestKeys_[std::size_t(slab)]; }

private:
    static constexpr int kRows = 32;
    struct Rows {
        std::vector<std::uint32_t> first;  // per row and slab, and one past the last
        std::vector<SpreadFragment> fragments;
    };
    const SpreadFragment* at(int slab, int y, int next) const {
        const Rows& rows = rows_[std::size_t(y / kRows)];
        const std::size_t i = std::size_t(y % kRows) * std::size_t(slabs_.count()) +
                              std::size_t(slab) + std::size_t(next);
        return rows.fragments.data() + rows.first[i];
    }

    int width_, height_;
    ApertureSlabs slabs_;
    std::vector<Rows> rows_;
    std::vector<std::uint8_t> wholeSharp_;
    std::vector<std::size_t> counts_;
    std::vector<int> largestKeys_;
};

}  // namespace dof
