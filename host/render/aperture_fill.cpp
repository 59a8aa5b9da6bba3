#include "render/aperture_fill.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include "render/aperture_spread.h"

namespace dof {

namespace {

// Covered this far, a pixel lets nothing of the slabs behind through.
constexpr float kWhollyCovered = 1.0f - 1e-6f;

// What a pixel of the slab is to the fill.
struct Sample {
    float rgba[4] = {0.0f, 0.0f, 0.0f, 0.0f};  // the slab's fragments there, summed
    float radius = 0.0f;                      // their mean radius; 0 when there are none
    float weight = 0.0f;  // 1 for the slab's own, the share not covered for an open pixel
    bool own = false;
};

// The slab's pixels as the fill sees them.
class SlabPixels {
public:
    SlabPixels(const ApertureFragments& fragments, int slab, const std::vector<float>& cover)
        : fragments_(fragments), slab_(slab), cover_(cover) {}

    // The slab's first fragment at column x or beyond in row y.
    const SpreadFragment* from(int x, int y) const {
        return std::lower_bound(fragments_.begin(slab_, y), fragments_.end(slab_, y), x,
                                [](const SpreadFragment& f, int column) { return f.x < column; });
    }
    // Pixel (x, y), whose fragments (if any) start at `f`; `f` moves past them.
    Sample sample(int x, int y, const SpreadFragment*& f) const {
        Sample s;
        const SpreadFragment* end = fragments_.end(slab_, y);
        if (f == end || f->x != x) return open(x, y);
        int count = 0;
        for (; f != end && f->x == x; ++f, ++count) {
            for (int c = 0; c < 4; ++c) s.rgba[c] += f->rgba[c];
            s.radius += float(keyRadius(f->key));
        }
        s.radius /= float(count);
        s.weight = 1.0f;
        s.own = true;
        return s;
    }
    // Only whether pixel (x, y) is the slab's own, and its weight; `f` as
    // for sample.
    Sample presence(int x, int y, const SpreadFragment*& f) const {
        Sample s;
        const SpreadFragment* end = fragments_.end(slab_, y);
        if (f == end || f->x != x) return open(x, y);
        while (f != end && f->x == x) ++f;
        s.weight = 1.0f;
        s.own = true;
        return s;
    }
    Sample sample(int x, int y) const {
        const SpreadFragment* f = from(x, y);
        return sample(x, y, f);
    }
    // A hole: no fragment of the slab, some cover in front.
    float hole(const Sample& s, int x, int y) const {
        return s.own ? 0.0f
                     : cover_[std::size_t(y) * std::size_t(fragments_.width()) + std::size_t(x)];
    }
    int width() const { return fragments_.width(); }
    int height() const { return fragments_.height(); }

private:
    // A pixel without fragments of the slab: it counts by the share not covered.
    Sample open(int x, int y) const {
        Sample s;
        const float c = cover_[std::size_t(y) * std::size_t(fragments_.width()) + std::size_t(x)];
        s.weight = c < kWhollyCovered ? 1.0f - c : 0.0f;
        return s;
    }

    const ApertureFragments& fragments_;
    int slab_;
    const std::vector<float>& cover_;
};

// The blocks of rows that can hold a fill: a hole takes its fill only from
// the slab's own pixels within `reach` of it, so rows with none of them
// within `reach` rows are left out. Each block is [first, last].
std::vector<std::pair<int, int>> fillableRows(const ApertureFragments& fragments, int slab,
                                              int reach) {
    const int h = fragments.height();
    std::vector<std::pair<int, int>> blocks;
    for (int y = 0; y < h; ++y) {
        if (fragments.begin(slab, y) == fragments.end(slab, y)) continue;
        const int first = std::max(0, y - reach), last = std::min(h - 1, y + reach);
        if (!blocks.empty() && first <= blocks.back().second + 1)
            blocks.back().second = last;
        else
            blocks.emplace_back(first, last);
    }
    return blocks;
}

// Distances from each hole of the rows `blocks` hold to the nearest pixel
// above and below it that is not wholly covered, within `reach` (0: none),
// by runs of columns.
void verticalDistances(const SlabPixels& pixels, int reach,
                       const std::vector<std::pair<int, int>>& blocks, TaskPool* pool,
                       int threads, std::unique_ptr<std::uint16_t[]>* up,
                       std::unique_ptr<std::uint16_t[]>* down) {
    const int w = pixels.width(), h = pixels.height();
    constexpr int kColumns = 64;
    // Only the blocks' rows are read, and each of their pixels is written.
    up->reset(new std::uint16_t[std::size_t(w) * std::size_t(h)]);
    down->reset(new std::uint16_t[std::size_t(w) * std::size_t(h)]);
    forEachTask(pool, threads, (w + kColumns - 1) / kColumns, [&](int run) {
        const int x0 = run * kColumns, x1 = std::min(w, x0 + kColumns);
        std::vector<int> last(std::size_t(x1 - x0));
        for (const std::pair<int, int>& block : blocks)
            for (int pass = 0; pass < 2; ++pass) {
                // What lies farther than `reach` from the block is never seen.
                std::fill(last.begin(), last.end(), -1);
                std::uint16_t* out = pass == 0 ? up->get() : down->get();
                const int from = pass == 0 ? std::max(0, block.first - reach)
                                           : std::min(h - 1, block.second + reach);
                const int to = pass == 0 ? block.second : block.first;
                for (int y = from;; y += pass == 0 ? 1 : -1) {
                    const SpreadFragment* f = pixels.from(x0, y);
                    const bool inBlock = y >= block.first && y <= block.second;
                    for (int x = x0; x < x1; ++x) {
                        const Sample s = pixels.presence(x, y, f);
                        int& seen = last[std::size_t(x - x0)];
                        const int distance = seen < 0 ? 0 : std::abs(y - seen);
                        if (inBlock)
                            out[std::size_t(y) * std::size_t(w) + std::size_t(x)] =
                                pixels.hole(s, x, y) > 0.0f && distance <= reach
                                    ? std::uint16_t(distance)
                                    : std::uint16_t(0);
                        if (s.weight > 0.0f) seen = y;
                    }
                    if (y == to) break;
                }
            }
    });
}

// Adds a sample seen `distance` pixels away to a hole's mean; `next` is the
// pixel beyond it, whose radius tells how the radius goes on into the hole.
struct Mean {
    double rgba[4] = {0.0, 0.0, 0.0, 0.0};
    double weight = 0.0, radius = 0.0, ownWeight = 0.0;

    void add(const Sample& s, const Sample& next, int distance) {
        if (distance <= 0) return;
        const double w = double(s.weight) / distance;
        // An edge pixel often holds some of the nearer surface's colour (its
        // antialiasing) at the slab's depth: the pixel beyond it, when it is
        // the slab's too, is what lies behind.
        const Sample& colour = s.own && next.own ? next : s;
        for (int c = 0; c < 4; ++c) rgba[c] += w * colour.rgba[c];
        weight += w;
        if (!s.own) return;
        const double slope = next.own ? double(s.radius) - double(next.radius) : 0.0;
        radius += w * extendedRadius(s.radius, slope, distance);
        ownWeight += w;
    }
};

// Row y's pixels, and for each the nearest pixel to its left and right that
// is not wholly covered (-1: none).
void sampleRow(const SlabPixels& pixels, int y, std::vector<Sample>* row, std::vector<int>* left,
               std::vector<int>* right) {
    const int w = pixels.width();
    const SpreadFragment* f = pixels.from(0, y);
    for (int x = 0; x < w; ++x) (*row)[std::size_t(x)] = pixels.sample(x, y, f);
    for (int x = 0, seen = -1; x < w; ++x) {
        (*left)[std::size_t(x)] = seen;
        if ((*row)[std::size_t(x)].weight > 0.0f) seen = x;
    }
    for (int x = w - 1, seen = -1; x >= 0; --x) {
        (*right)[std::size_t(x)] = seen;
        if ((*row)[std::size_t(x)].weight > 0.0f) seen = x;
    }
}

}  // namespace

SlabFill::SlabFill(const ApertureFragments& fragments, int slab, const std::vector<float>& cover,
                   int reach, TaskPool* pool, int threads) {
    const SlabPixels pixels(fragments, slab, cover);
    const int w = fragments.width(), h = fragments.height();
    reach = std::min(reach, 65535);
    const std::vector<std::pair<int, int>> blocks = fillableRows(fragments, slab, reach);
    std::vector<char> fillable(std::size_t(h), 0);
    for (const std::pair<int, int>& block : blocks)
        std::fill(fillable.begin() + block.first, fillable.begin() + block.second + 1, 1);
    std::unique_ptr<std::uint16_t[]> up, down;
    verticalDistances(pixels, reach, blocks, pool, threads, &up, &down);
    rows_.resize(std::size_t((h + kRows - 1) / kRows));
    std::vector<int> largest(rows_.size(), -1);
    forEachTask(pool, threads, int(rows_.size()), [&](int r) {
        Rows& run = rows_[std::size_t(r)];
        std::vector<Sample> row = std::vector<Sample>(std::size_t(w));
        std::vector<int> left = std::vector<int>(std::size_t(w)), right = left;
        for (int y = r * kRows; y < std::min(h, (r + 1) * kRows); ++y) {
            run.first.push_back(std::uint32_t(run.fragments.size()));
            // A hole is a pixel some nearer slab covers.
            const float* covered = &cover[std::size_t(y) * std::size_t(w)];
            if (!fillable[std::size_t(y)] ||
                std::all_of(covered, covered + w, [](float c) { return !(c > 0.0f); }))
                continue;
            sampleRow(pixels, y, &row, &left, &right);
            for (int x = 0; x < w; ++x) {
                const float hole = pixels.hole(row[std::size_t(x)], x, y);
                if (!(hole > 0.0f)) continue;
                const std::size_t p = std::size_t(y) * std::size_t(w) + std::size_t(x);
                Mean mean;
                const auto column = [&](int y1) { return pixels.sample(x, y1); };
                const Sample none;
                if (up[p] > 0)
                    mean.add(column(y - up[p]), y - up[p] > 0 ? column(y - up[p] - 1) : none,
                             up[p]);
                if (down[p] > 0)
                    mean.add(column(y + down[p]),
                             y + down[p] + 1 < h ? column(y + down[p] + 1) : none, down[p]);
                const int l = left[std::size_t(x)], rt = right[std::size_t(x)];
                if (l >= 0 && x - l <= reach)
                    mean.add(row[std::size_t(l)], l > 0 ? row[std::size_t(l - 1)] : none, x - l);
                if (rt >= 0 && rt - x <= reach)
                    mean.add(row[std::size_t(rt)], rt + 1 < w ? row[std::size_t(rt + 1)] : none,
                             rt - x);
                if (!(mean.ownWeight > 0.0)) continue;
                SpreadFragment fill{x, radiusKey(mean.radius / mean.ownWeight), {}};
                for (int c = 0; c < 4; ++c)
                    fill.rgba[c] = float(hole * mean.rgba[c] / mean.weight);
                run.fragments.push_back(fill);
                largest[std::size_t(r)] = std::max(largest[std::size_t(r)], fill.key);
            }
        }
        run.first.push_back(std::uint32_t(run.fragments.size()));
    });
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        largestKey_ = std::max(largestKey_, largest[r]);
        count_ += rows_[r].fragments.size();
    }
}

}  // namespace dof
