#include "render/slab_tiles.h"

#include <algorithm>
#include <cmath>

#include "render/area_sums.h"
#include "util/minimax_cut.h"

namespace dof {

// Counts of fragments (pixels with coverage) over rectangles of a slab's
// area, in the area's own pixels.
class FragmentCounts {
public:
    explicit FragmentCounts(const SlabBuffers& slab)
        : sums_(Rect{0, 0, slab.area.width, slab.area.height}, nullptr, 1,
                [&](int x, int y) { return std::int64_t(slab.gbuffers->coverage(x, y) != 0); }) {}

    std::int64_t count(const Rect& r) const { return sums_.sum(r); }

    // The smallest rectangle inside `r` that holds all of its fragments.
    Rect bounds(const Rect& r) const {
        const int x1 = r.xend(), y1 = r.yend();
        const int top = first(r.y, y1, [&](int y) {
            return count({r.x, r.y, r.width, y + 1 - r.y});
        });
        const int bottom = last(r.y, y1, [&](int y) { return count({r.x, y, r.width, y1 - y}); });
        const int height = bottom - top + 1;
        const int left = first(r.x, x1, [&](int x) {
            return count({r.x, top, x + 1 - r.x, height});
        });
        const int right = last(r.x, x1, [&](int x) { return count({x, top, x1 - x, height}); });
        return Rect{left, top, right - left + 1, height};
    }

private:
    // The first index whose prefix holds a fragment, and the last whose
    // suffix does, by bisection over the counts.
    template <typename Count>
    static int first(int lo, int hi, Count prefix) {
        while (lo < hi - 1) {
            const int mid = lo + (hi - lo - 1) / 2;
            if (prefix(mid) > 0)
                hi = mid + 1;
            else
                lo = mid + 1;
        }
        return lo;
    }
    template <typename Count>
    static int last(int lo, int hi, Count suffix) {
        while (lo < hi - 1) {
            const int mid = lo + (hi - lo) / 2;
            if (suffix(mid) > 0)
                lo = mid;
            else
                hi = mid;
        }
        return lo;
    }
    AreaSums<std::int64_t> sums_;
};

namespace {

// The render of the pixels `rows` (within `limit`): its region is what can
// reach them, cut to the fragments there; false when none can.
bool tileTask(const SlabBuffers& slab, const FragmentCounts& counts, const Rect& rows,
              const Rect& limit, BandTask* task) {
    const Rect reach = intersection(grown(rows, slab.reachX, slab.reachY), limit);
    if (counts.count(reach) == 0) return false;
    const Rect region = intersection(grown(counts.bounds(reach), slab.reachX, slab.reachY), reach);
    task->band = Band{region, intersection(rows, region)};
    task->work =
        kRegionPixelWork * (2.0 * double(region.pixels()) + double(task->band.rows.pixels())) +
        double(counts.count(region)) * (kVisitWork + slab.footprint);
    return true;
}

std::vector<BandTask> tiles(const SlabBuffers& slab, const FragmentCounts& counts, int side) {
    const Rect area{0, 0, slab.area.width, slab.area.height};
    std::vector<BandTask> out;
    for (int top = 0; top < area.height; top += side)
        for (int left = 0; left < area.width; left += side) {
            BandTask task;
            const Rect tile = intersection(Rect{left, top, side, side}, area);
            if (tileTask(slab, counts, tile, area, &task)) out.push_back(task);
        }
    return out;
}

double workOf(const std::vector<BandTask>& tasks) {
    double sum = 0.0;
    for (const BandTask& t : tasks) sum += t.work;
    return sum;
}

// Cuts `tile` across its longer side into at most `count` bands, none but
// the last narrower than the reach, so that the dearest band costs as little
// as it can.
std::vector<BandTask> cutTile(const SlabBuffers& slab, const FragmentCounts& counts,
                              const BandTask& tile, int count) {
    const Rect& r = tile.band.rows;
    const bool columns = r.width > r.height;
    const int length = columns ? r.width : r.height;
    const int reach = std::max(1, columns ? slab.reachX : slab.reachY);
    count = std::min(count, length / reach);
    if (count <= 1) return {tile};
    const auto bandTask = [&](int first, int end, BandTask* task) {
        const Rect band = columns ? Rect{r.x + first, r.y, end - first, r.height}
                                  : Rect{r.x, r.y + first, r.width, end - first};
        return tileTask(slab, counts, band, tile.band.region, task);
    };
    // A band's work grows with its end.
    const auto bandWork = [&](int first, int end) {
        BandTask task;
        return bandTask(first, end, &task) ? task.work : 0.0;
    };
    const std::vector<int> ends = minimaxCut(length, count, reach, bandWork);
    std::vector<BandTask> out;
    int first = 0;
    for (const int end : ends) {
        BandTask task;
        if (bandTask(first, end, &task)) out.push_back(task);
        first = end;
    }
    return out;
}

}  // namespace

SlabTiling::SlabTiling(const SlabBuffers& slab) : slab_(slab) {
    if (slab.area.empty()) return;
    counts_.reset(new FragmentCounts(slab));
    // The cheapest tiling: square tiles of 64 pixels and up, or the whole area.
    const int whole = std::max(slab.area.width, slab.area.height);
    cheapest_ = tiles(slab, *counts_, whole);
    work_ = workOf(cheapest_);
    for (int side = 64; side < whole; side *= 2) {
        std::vector<BandTask> candidate = tiles(slab, *counts_, side);
        const double w = workOf(candidate);
        if (w < work_) {
            work_ = w;
            cheapest_.swap(candidate);
        }
    }
}

SlabTiling::~SlabTiling() = default;

std::vector<BandTask> SlabTiling::tasks(double share) const {
    std::vector<BandTask> out;
    for (const BandTask& tile : cheapest_) {
        const int bands = share > 0.0 ? int(std::ceil(tile.work / share - 1e-9)) : 1;
        for (const BandTask& band :
             bands > 1 ? cutTile(slab_, *counts_, tile, bands) : std::vector<BandTask>{tile})
            out.push_back(band);
    }
    const RenderBuffers buffers{slab_.source.get(), slab_.destination.get(), slab_.gbuffers.get()};
    for (BandTask& task : out) task.buffers = buffers;
    return out;
}

}  // namespace dof
