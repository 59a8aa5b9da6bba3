#include "render/slab_fragments.h"

#include <cmath>

#include "model/deep_fragments.h"

namespace dof {

namespace {

// One piece of a pixel at one depth, premultiplied, not dimmed by anything
// in front of it.
struct Piece {
    double distance;
    double colour[3];
    double alpha;
};

// Adds a piece's colour and alpha behind what `fragment` holds, with the
// alpha of the piece's share in the slab in front.
void under(SlabFragment& fragment, const double colour[3], double alpha, double shared) {
    const double through = 1.0 - double(fragment.alpha);
    for (int c = 0; c < 3; ++c)
        fragment.colour[c] = float(fragment.colour[c] + through * colour[c]);
    fragment.alpha = float(fragment.alpha + through * alpha);
    fragment.shared = float(fragment.shared + through * shared);
}

class FragmentBuilder {
public:
    explicit FragmentBuilder(std::vector<SlabFragment>& fragments, std::size_t first)
        : fragments_(fragments), first_(first) {}

    void add(int slab, const double colour[3], double alpha, double shared = 0.0) {
        for (std::size_t i = first_; i < fragments_.size(); ++i)
            if (fragments_[i].slab == slab) {
                under(fragments_[i], colour, alpha, shared);
                return;
            }
        SlabFragment fragment{slab, {0.0f, 0.0f, 0.0f}, 0.0f, 0.0f};
        under(fragment, colour, alpha, shared);
        // Kept in slab order: front to back.
        std::size_t at = fragments_.size();
        while (at > first_ && fragments_[at - 1].slab > slab) --at;
        fragments_.insert(fragments_.begin() + std::ptrdiff_t(at), fragment);
    }

private:
    std::vector<SlabFragment>& fragments_;
    std::size_t first_;
};

// The opacity of a share as the transparency byte carries it, so that the
// share's colour and alpha stay in proportion after the byte's rounding.
double byteShare(double share, double alpha) {
    if (!(alpha > 0.0)) return share;
    const double quantised = std::nearbyint(255.0 * share * alpha) / 255.0;
    return std::min(1.0, quantised / alpha);
}

// Adds a piece to the slabs it belongs to; the slab it went to whole, or -1
// when it is shared.
int addPiece(FragmentBuilder& builder, const Piece& piece, const SlabPlan& plan,
             const DepthPlacement& depth) {
    const float effect = depth.effectDepth(piece.distance);
    const SlabShare share = plan.shareOf(effect);
    if (share.nearShare <= 0.0) {
        builder.add(share.farSlab, piece.colour, piece.alpha);
        return share.farSlab;
    }
    // The nearer slab's share over the rest composites back to the piece.
    const double s = byteShare(share.nearShare, piece.alpha);
    if (s <= 0.0 || s >= 1.0) {
        const int whole = s <= 0.0 ? share.farSlab : share.nearSlab;
        builder.add(whole, piece.colour, piece.alpha);
        return whole;
    }
    const double rest = (1.0 - s) / (1.0 - s * piece.alpha);
    double nearColour[3], farColour[3];
    for (int c = 0; c < 3; ++c) {
        nearColour[c] = s * piece.colour[c];
        farColour[c] = rest * piece.colour[c];
    }
    builder.add(share.nearSlab, nearColour, s * piece.alpha);
    builder.add(share.farSlab, farColour, rest * piece.alpha, s * piece.alpha);
    return -1;
}

void pixelFragments(const RenderInput& input, int x, int y, const SlabPlan& plan,
                    const DepthPlacement& depth, FragmentBuilder& builder, bool* wholeSharp) {
    if (!input.deep()) {
        // Nothing (no alpha, and no light under zero alpha) is no piece.
        if (!input.holdsAnything(x, y)) return;
        const PixelValues v = input.stored(x, y);
        Piece piece;
        piece.distance = input.distance(x, y);
        piece.alpha = v.alpha;
        for (int c = 0; c < 3; ++c)
            piece.colour[c] = input.associated() ? v.colour[c] : v.colour[c] * v.alpha;
        piece.alpha = std::min(1.0, std::max(0.0, piece.alpha));
        *wholeSharp = addPiece(builder, piece, plan, depth) == plan.sharpSlab();
        return;
    }
    // Each sample undimmed by those in front of it: its share of the pixel
    // over what the samples in front let through.
    double through = 1.0;
    for (const Fragment& f : input.fragments(x, y).fragments) {
        if (through < 1e-6) break;  // nothing behind is seen
        Piece piece;
        piece.distance = f.distance;
        piece.alpha = std::min(1.0, std::max(0.0, f.weight / through));
        for (int c = 0; c < 3; ++c) piece.colour[c] = f.colour[c] / through;
        addPiece(builder, piece, plan, depth);
        through -= f.weight;
    }
}

}  // namespace

SlabFragments::SlabFragments(const RenderInput& input, const SlabPlan& plan,
                             const DepthPlacement& depth, TaskPool* pool, int threads)
    : width_(input.width()), height_(input.height()) {
    const std::size_t slabs = plan.slabs().size();
    wholeSharp_.assign(input.pixelCount(), 0);
    rows_.resize(std::size_t((height_ + kRows - 1) / kRows));
    // Each run's bounds and counts of every slab, gathered after.
    std::vector<std::vector<Rect>> bounds(rows_.size(), std::vector<Rect>(slabs));
    std::vector<std::vector<std::size_t>> counts(rows_.size(), std::vector<std::size_t>(slabs, 0));
    forEachTask(pool, threads, int(rows_.size()), [&](int r) {
        Rows& run = rows_[std::size_t(r)];
        const int top = r * kRows, bottom = std::min(height_, top + kRows);
        const std::size_t pixels = std::size_t(bottom - top) * std::size_t(width_);
        run.first.reserve(pixels + 1);
        run.fragments.reserve(pixels + pixels / 4);
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < width_; ++x) {
                const std::size_t p = std::size_t(y) * std::size_t(width_) + std::size_t(x);
                const std::size_t firstFragment = run.fragments.size();
                run.first.push_back(std::uint32_t(firstFragment));
                FragmentBuilder builder(run.fragments, firstFragment);
                bool sharp = false;
                pixelFragments(input, x, y, plan, depth, builder, &sharp);
                wholeSharp_[p] = sharp;
                for (std::size_t i = firstFragment; i < run.fragments.size(); ++i) {
                    const std::size_t s = std::size_t(run.fragments[i].slab);
                    ++counts[std::size_t(r)][s];
                    Rect& b = bounds[std::size_t(r)][s];
                    b = united(b, Rect{x, y, 1, 1});
                }
            }
        run.first.push_back(std::uint32_t(run.fragments.size()));
    });
    counts_.assign(slabs, 0);
    bounds_.assign(slabs, Rect());
    for (std::size_t s = 0; s < slabs; ++s)
        for (std::size_t r = 0; r < rows_.size(); ++r) {
            counts_[s] += counts[r][s];
            bounds_[s] = united(bounds_[s], bounds[r][s]);
        }
}

SlabHeld heldBy(const SlabFragments& fragments, int slab, int x, int y) {
    SlabHeld h;
    double through = 1.0;
    for (const SlabFragment* f = fragments.begin(x, y); f != fragments.end(x, y); ++f) {
        if (f->slab == slab) h.own = f;
        if (f->slab >= slab) break;
        through *= 1.0 - double(f->alpha);
    }
    h.hole = 1.0 - through;
    return h;
}

}  // namespace dof
