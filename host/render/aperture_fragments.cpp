#include "render/aperture_fragments.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "model/deep_fragments.h"
#include "render/aperture_spread.h"
#include "render/edge_split.h"
#include "render/lens_placement.h"

namespace dof {

double ApertureBlur::radiusAt(double distance) const {
    if (!lens) return blurFraction(depth.effectDepth(distance), focus) * radius;
    return lensBlurAt(lensBlur, distance, depth.noHitAbove, depth.noHit);
}

bool ApertureBlur::nearer(double distance) const {
    return double(depth.effectDepth(distance)) > focus.focalDepth;
}

namespace {

// Below this size a shape lies within its own pixel.
constexpr double kSharpSize = 0.5;

// A fragment's radius as its footprint will have it, and the size of its blur.
struct Blur {
    int key;
    double size;
};

Blur blurOf(double distance, const ApertureBlur& blur, const ApertureShape& shape) {
    const int key = radiusKey(blur.radiusAt(distance));
    const double r = keyRadius(key);
    return Blur{key, std::max(r * blur.across, r * blur.down * shape.squeeze())};
}

}  // namespace

ApertureSlabs::ApertureSlabs(int count, double nearest, double farthest)
    : nearest_(nearest), farthest_(farthest) {
    const bool front = nearest > kSharpSize, back = farthest > kSharpSize;
    const int blurred = std::max(count - 1, int(front) + int(back));
    if (front && back) {
        const double f = std::log(nearest / kSharpSize), b = std::log(farthest / kSharpSize);
        sharp_ = std::max(1, std::min(blurred - 1, int(std::lround(blurred * f / (f + b)))));
        back_ = blurred - sharp_;
    } else {
        sharp_ = front ? blurred : 0;
        back_ = back ? blurred : 0;
    }
}

int ApertureSlabs::slabOf(double size, bool nearer) const {
    const int slabs = nearer ? sharp_ : back_;
    if (!(size > kSharpSize) || slabs == 0) return sharp_;
    const double largest = nearer ? nearest_ : farthest_;
    const double t = std::log(size / kSharpSize) / std::log(largest / kSharpSize);
    const int k = std::max(1, std::min(slabs, int(std::ceil(t * slabs))));
    return nearer ? sharp_ - k : sharp_ + k;
}

namespace {

// The largest blur in front of the focus and behind it, over every fragment.
ApertureSlabs planSlabs(const RenderInput& input, const ApertureBlur& blur,
                        const ApertureShape& shape, int count) {
    double nearest = 0.0, farthest = 0.0;
    const auto add = [&](double distance) {
        double& side = blur.nearer(distance) ? nearest : farthest;
        side = std::max(side, blurOf(distance, blur, shape).size);
    };
    for (int y = 0; y < input.height(); ++y)
        for (int x = 0; x < input.width(); ++x) {
            if (!input.deep()) {
                if (input.holdsAnything(x, y)) add(input.distance(x, y));
                continue;
            }
            for (const Fragment& f : input.fragments(x, y).fragments) add(f.distance);
        }
    return ApertureSlabs(count, nearest, farthest);
}

// One piece of a pixel: premultiplied, not dimmed by anything in front of it.
struct Piece {
    double distance;
    double colour[3];
    double alpha;
};

// The pieces of pixel (x, y), front to back.
void piecesOf(const RenderInput& input, int x, int y, std::vector<Piece>* pieces) {
    pieces->clear();
    if (!input.deep()) {
        // Nothing (no alpha, and no light under zero alpha) is no piece.
        if (!input.holdsAnything(x, y)) return;
        // On the far side of a depth step, the nearer surface's share in
        // front and the far surface behind it.
        if (const std::optional<EdgeSplit> split = edgeSplit(input, x, y)) {
            Piece front{split->nearDistance, {}, split->cover};
            std::copy(split->near, split->near + 3, front.colour);
            pieces->push_back(front);
            if (split->cover < 1.0)
                pieces->push_back(Piece{input.distance(x, y),
                                        {split->far[0], split->far[1], split->far[2]}, 1.0});
            return;
        }
        const PixelValues v = input.stored(x, y);
        Piece p{input.distance(x, y), {}, std::min(1.0, std::max(0.0, v.alpha))};
        for (int c = 0; c < 3; ++c)
            p.colour[c] = input.associated() ? v.colour[c] : v.colour[c] * v.alpha;
        pieces->push_back(p);
        return;
    }
    // Each sample over what the samples in front let through.
    double through = 1.0;
    for (const Fragment& f : input.fragments(x, y).fragments) {
        if (through < 1e-6) break;  // nothing behind is seen
        Piece p{f.distance, {}, std::min(1.0, std::max(0.0, f.weight / through))};
        for (int c = 0; c < 3; ++c) p.colour[c] = f.colour[c] / through;
        pieces->push_back(p);
        through -= f.weight;
    }
}

}  // namespace

ApertureFragments::ApertureFragments(const RenderInput& input, const ApertureBlur& blur,
                                     const ApertureShape& shape, int slabs, TaskPool* pool,
                                     int threads)
    : width_(input.width()),
      height_(input.height()),
      slabs_(planSlabs(input, blur, shape, slabs)) {
    const std::size_t count = std::size_t(slabs_.count());
    wholeSharp_.assign(input.pixelCount(), 0);
    rows_.resize(std::size_t((height_ + kRows - 1) / kRows));
    std::vector<std::vector<std::size_t>> counts(rows_.size(), std::vector<std::size_t>(count, 0));
    std::vector<std::vector<int>> largest(rows_.size(), std::vector<int>(count, -1));
    forEachTask(pool, threads, int(rows_.size()), [&](int r) {
        Rows& run = rows_[std::size_t(r)];
        const int top = r * kRows, bottom = std::min(height_, top + kRows);
        std::vector<std::vector<SpreadFragment>> row(count);
        std::vector<double> through(count);
        std::vector<Piece> pieces;
        run.fragments.reserve(std::size_t(bottom - top) * std::size_t(width_));
        for (int y = top; y < bottom; ++y) {
            for (auto& list : row) list.clear();
            for (int x = 0; x < width_; ++x) {
                piecesOf(input, x, y, &pieces);
                std::fill(through.begin(), through.end(), 1.0);
                bool sharpOnly = !input.deep() && !pieces.empty();
                for (const Piece& p : pieces) {
                    const Blur b = blurOf(p.distance, blur, shape);
                    const int s = slabs_.slabOf(b.size, blur.nearer(p.distance));
                    // Dimmed by what lies in front of it in its own slab.
                    double& t = through[std::size_t(s)];
                    SpreadFragment f{x, b.key, {}};
                    for (int c = 0; c < 3; ++c) f.rgba[c] = float(t * p.colour[c]);
                    f.rgba[3] = float(t * p.alpha);
                    t *= 1.0 - p.alpha;
                    row[std::size_t(s)].push_back(f);
                    largest[std::size_t(r)][std::size_t(s)] =
                        std::max(largest[std::size_t(r)][std::size_t(s)], b.key);
                    sharpOnly = sharpOnly && s == slabs_.sharp();
                }
                if (sharpOnly)
                    wholeSharp_[std::size_t(y) * std::size_t(width_) + std::size_t(x)] = 1;
            }
            for (std::size_t s = 0; s < count; ++s) {
                run.first.push_back(std::uint32_t(run.fragments.size()));
                run.fragments.insert(run.fragments.end(), row[s].begin(), row[s].end());
                counts[std::size_t(r)][s] += row[s].size();
            }
        }
        run.first.push_back(std::uint32_t(run.fragments.size()));
    });
    counts_.assign(count, 0);
    largestKeys_.assign(count, -1);
    for (std::size_t r = 0; r < rows_.size(); ++r)
        for (std::size_t s = 0; s < count; ++s) {
            counts_[s] += counts[r][s];
            largestKeys_[s] = std::max(largestKeys_[s], largest[r][s]);
        }
}

}  // namespace dof
