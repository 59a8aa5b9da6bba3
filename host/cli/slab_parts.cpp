#include "cli/slab_parts.h"

#include <cmath>

#include "cli/deep_fragments.h"

namespace dof3d {

namespace {

// One piece of a pixel at one depth, premultiplied, not dimmed by anything
// in front of it.
struct Piece {
    double distance;
    double colour[3];
    double alpha;
};

// Adds `piece` behind what `part` holds.
void under(SlabPart& part, const double colour[3], double alpha) {
    const double through = 1.0 - double(part.alpha);
    for (int c = 0; c < 3; ++c) part.colour[c] = float(part.colour[c] + through * colour[c]);
    part.alpha = float(part.alpha + through * alpha);
}

class PartBuilder {
public:
    explicit PartBuilder(std::vector<SlabPart>& parts, std::size_t first)
        : parts_(parts), first_(first) {}

    void add(int slab, const double colour[3], double alpha) {
        for (std::size_t i = first_; i < parts_.size(); ++i)
            if (parts_[i].slab == slab) {
                under(parts_[i], colour, alpha);
                return;
            }
        SlabPart part{slab, {0.0f, 0.0f, 0.0f}, 0.0f};
        under(part, colour, alpha);
        // Kept in slab order: front to back.
        std::size_t at = parts_.size();
        while (at > first_ && parts_[at - 1].slab > slab) --at;
        parts_.insert(parts_.begin() + std::ptrdiff_t(at), part);
    }

private:
    std::vector<SlabPart>& parts_;
    std::size_t first_;
};

// The opacity of a share as the transparency byte carries it, so that the
// share's colour and alpha stay in proportion after the byte's rounding.
double byteShare(double share, double alpha) {
    if (!(alpha > 0.0)) return share;
    const double quantised = std::nearbyint(255.0 * share * alpha) / 255.0;
    return std::min(1.0, quantised / alpha);
}

void addPiece(PartBuilder& builder, const Piece& piece, const SlabPlan& plan,
              const DepthPlacement& depth) {
    const float effect = effectDepth(piece.distance, depth.noHitAbove, depth.noHit, depth.scale);
    const SlabShare share = plan.shareOf(effect);
    if (share.nearShare <= 0.0) {
        builder.add(share.farSlab, piece.colour, piece.alpha);
        return;
    }
    // The nearer slab's share over the rest composites back to the piece.
    const double s = byteShare(share.nearShare, piece.alpha);
    if (s <= 0.0 || s >= 1.0) {
        builder.add(s <= 0.0 ? share.farSlab : share.nearSlab, piece.colour, piece.alpha);
        return;
    }
    const double rest = (1.0 - s) / (1.0 - s * piece.alpha);
    double nearColour[3], farColour[3];
    for (int c = 0; c < 3; ++c) {
        nearColour[c] = s * piece.colour[c];
        farColour[c] = rest * piece.colour[c];
    }
    builder.add(share.nearSlab, nearColour, s * piece.alpha);
    builder.add(share.farSlab, farColour, rest * piece.alpha);
}

}  // namespace

SlabParts::SlabParts(const Frame& frame, const SlabPlan& plan, const DepthPlacement& depth)
    : width_(frame.width()), height_(frame.height()) {
    const std::size_t pixels = frame.pixelCount();
    first_.assign(pixels + 1, 0);
    wholeSharp_.assign(pixels, 0);
    parts_.reserve(pixels + pixels / 4);
    for (std::size_t p = 0; p < pixels; ++p) {
        first_[p] = std::uint32_t(parts_.size());
        PartBuilder builder(parts_, parts_.size());
        if (!frame.deep) {
            Piece piece;
            piece.distance = frame.distance[p];
            piece.alpha =
                frame.alphaChannel >= 0 ? double(frame.value(p, frame.alphaChannel)) : 1.0;
            bool lit = false;
            for (int c = 0; c < 3; ++c) {
                piece.colour[c] = frame.value(p, frame.colourChannel[c]);
                lit = lit || piece.colour[c] != 0.0;
                if (!frame.associated) piece.colour[c] *= piece.alpha;
            }
            // Nothing (no alpha, and no light under zero alpha) is no piece.
            if (!(piece.alpha > 0.0) && !(frame.associated && lit)) continue;
            piece.alpha = std::min(1.0, std::max(0.0, piece.alpha));
            addPiece(builder, piece, plan, depth);
            wholeSharp_[p] =
                parts_.size() == first_[p] + 1 && parts_.back().slab == plan.sharpSlab();
            continue;
        }
        // Each sample undimmed by those in front of it: its share of the
        // pixel over what the samples in front let through.
        double through = 1.0;
        for (const Fragment& f : frame.fragments[p].fragments) {
            if (through < 1e-6) break;  // nothing behind is seen
            Piece piece;
            piece.distance = f.distance;
            piece.alpha = std::min(1.0, std::max(0.0, f.weight / through));
            for (int c = 0; c < 3; ++c) piece.colour[c] = f.colour[c] / through;
            addPiece(builder, piece, plan, depth);
            through -= f.weight;
        }
    }
    first_[pixels] = std::uint32_t(parts_.size());

    // Each slab's bounds, as first and last column and row until the end.
    std::vector<QVRect> last(plan.slabs().size(), QVRect{width_, height_, -1, -1});
    counts_.assign(plan.slabs().size(), 0);
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            for (const SlabPart* part = begin(x, y); part != end(x, y); ++part) {
                ++counts_[std::size_t(part->slab)];
                QVRect& b = last[std::size_t(part->slab)];
                b.left = std::min(b.left, x);
                b.top = std::min(b.top, y);
                b.width = std::max(b.width, x);
                b.height = std::max(b.height, y);
            }
    for (const QVRect& b : last)
        bounds_.push_back(b.width < 0
                              ? QVRect{0, 0, 0, 0}
                              : QVRect{b.left, b.top, b.width - b.left + 1, b.height - b.top + 1});
}

}  // namespace dof3d
