#include "render/slab_rests.h"

#include <algorithm>
#include <cmath>

#include "render/hat_filter.h"

namespace dof {

namespace {

// The least of a rest's light that the slab in front is taken to let through.
constexpr double kLeast = 1e-6;

// The pixels of slab `slab` that hold a rest; empty when none do.
Rect restBounds(const SlabFragments& fragments, int slab, TaskPool* pool, int threads) {
    const Rect b = fragments.bounds(slab);
    std::vector<int> first(std::size_t(std::max(b.height, 0)), b.width), last(first.size(), -1);
    forEachTask(pool, threads, b.height, [&](int y) {
        for (int x = 0; x < b.width; ++x) {
            const SlabHeld h = heldBy(fragments, slab, b.x + x, b.y + y);
            if (!h.own || !(h.own->shared > 0.0f)) continue;
            first[std::size_t(y)] = std::min(first[std::size_t(y)], x);
            last[std::size_t(y)] = x;
        }
    });
    int left = b.width, right = -1, top = -1, bottom = -1;
    for (int y = 0; y < b.height; ++y) {
        if (last[std::size_t(y)] < 0) continue;
        left = std::min(left, first[std::size_t(y)]);
        right = std::max(right, last[std::size_t(y)]);
        if (top < 0) top = y;
        bottom = y;
    }
    if (right < 0) return Rect();
    return Rect{b.x + left, b.y + top, right - left + 1, bottom - top + 1};
}

// What a slab's render makes of per-pixel values (value(x, y, held, out)
// fills `count` of them for pixel (x, y), whose fragment in the slab and
// holes are `held`; they start at 0), spread again by `thenAcross` and
// `thenDown`. The render spreads them by hats `across` and `down` over the
// weight of the pixels it spreads from (its own, and open ones by what nearer
// slabs leave of them). The second spread is normalised over the frame's
// pixels (the window reaches the frame's edge wherever a hat is cut short
// there), or, `rendered`, over pixels by the share of the first hats' taps
// that found pixels to spread from, so that the depth of a hole, where the
// render holds nothing, does not count.
template <typename Value>
std::vector<std::vector<double>> spreadTwice(const SlabFragments& fragments, int slab,
                                             const Rect& window, const Hat& across,
                                             const Hat& down, const Hat& thenAcross,
                                             const Hat& thenDown, bool rendered, int count,
                                             const Value& value, TaskPool* pool, int threads) {
    const int w = window.width, h = window.height;
    const std::size_t pixels = std::size_t(w) * std::size_t(h);
    std::vector<std::vector<double>> planes(std::size_t(count), std::vector<double>(pixels, 0.0));
    std::vector<double> weight(pixels);
    forEachTask(pool, threads, h, [&](int y) {
        double values[5];
        for (int x = 0; x < w; ++x) {
            const std::size_t p = std::size_t(y) * std::size_t(w) + std::size_t(x);
            const SlabHeld held = heldBy(fragments, slab, window.x + x, window.y + y);
            weight[p] = held.own ? 1.0 : 1.0 - held.hole;
            for (int i = 0; i < count; ++i) values[i] = 0.0;
            value(window.x + x, window.y + y, held, values);
            for (int i = 0; i < count; ++i) planes[std::size_t(i)][p] = values[i];
        }
    });
    PlaneScratch scratch;
    filterPlane(across, down, weight, w, h, scratch, pool, threads);
    const std::vector<double> firstX = hatCover(across, w), firstY = hatCover(down, h);
    const std::vector<double> thenX = hatCover(thenAcross, w), thenY = hatCover(thenDown, h);
    const auto cover = [&](const std::vector<double>& x, const std::vector<double>& y,
                           std::size_t p) { return x[p % std::size_t(w)] * y[p / std::size_t(w)]; };
    // Rendered, a value times the share of taps that reached it is the
    // value spread over the whole hat; `weight` becomes what the second
    // spread is normalised by.
    if (rendered) {
        for (std::size_t p = 0; p < pixels; ++p) weight[p] /= cover(firstX, firstY, p);
        filterPlane(thenAcross, thenDown, weight, w, h, scratch, pool, threads);
    }
    for (std::vector<double>& plane : planes) {
        filterPlane(across, down, plane, w, h, scratch, pool, threads);
        for (std::size_t p = 0; p < pixels; ++p)
            plane[p] = rendered ? plane[p] / cover(firstX, firstY, p)
                                : (weight[p] > 0.0 ? plane[p] / weight[p] : 0.0);
        filterPlane(thenAcross, thenDown, plane, w, h, scratch, pool, threads);
        for (std::size_t p = 0; p < pixels; ++p) {
            const double norm = rendered ? weight[p] : cover(thenX, thenY, p);
            plane[p] = norm > 0.0 ? plane[p] / norm : 0.0;
        }
    }
    return planes;
}

}  // namespace

SlabRests::SlabRests(const SlabFragments& fragments, const SlabPlan& plan, int slab,
                     const BlurRadii& radii, TaskPool* pool, int threads) {
    if (slab == 0) return;  // no slab in front to share with
    const Rect rests = restBounds(fragments, slab, pool, threads);
    if (rests.empty()) return;
    const double fraction = plan.slabs()[std::size_t(slab)].fraction;
    const double nearFraction = plan.slabs()[std::size_t(slab - 1)].fraction;
    const Hat across(radii.across * fraction), down(radii.down * fraction);
    const Hat nearAcross(radii.across * nearFraction), nearDown(radii.down * nearFraction);
    window_ = intersection(grown(rests, across.reach + nearAcross.reach, down.reach + nearDown.reach),
                           Rect{0, 0, fragments.width(), fragments.height()});
    cover_ = std::move(spreadTwice(
        fragments, slab - 1, window_, nearAcross, nearDown, across, down, false, 1,
        [](int, int, const SlabHeld& held, double* v) {
            if (held.own) v[0] = held.own->alpha;
        },
        pool, threads)[0]);
    // This slab: where its rests are, and its other fragments.
    std::vector<std::vector<double>> own = spreadTwice(
        fragments, slab, window_, across, down, nearAcross, nearDown, true, 5,
        [](int, int, const SlabHeld& held, double* v) {
            if (!held.own) return;
            if (held.own->shared > 0.0f) {
                v[4] = 1.0;
                return;
            }
            for (int c = 0; c < 3; ++c) v[c] = held.own->colour[c];
            v[3] = held.own->alpha;
        },
        pool, threads);
    for (int c = 0; c < 4; ++c) others_[c] = std::move(own[std::size_t(c)]);
    rests_ = std::move(own[4]);
}

void SlabRests::render(int x, int y, const SlabFragment& fragment, double colour[3],
                       double* alpha) const {
    for (int c = 0; c < 3; ++c) colour[c] = fragment.colour[c];
    *alpha = fragment.alpha;
    const double share = fragment.shared;
    if (!(share > 0.0) || window_.width == 0) return;
    const std::size_t p = std::size_t(y - window_.y) * std::size_t(window_.width) +
                          std::size_t(x - window_.x);
    // The share hides, around it, the slab's other fragments, and of its
    // rest only what the rests around make up for: the rest gives back the
    // first and gives up the second, by what the slab in front lets through
    // of it (no less than what the share lets through: what else covers the
    // rest covers its share's spread as much).
    const double through = std::max(kLeast, 1.0 - std::min(cover_[p], share));
    const double alone = std::min(1.0, share * std::max(0.0, 1.0 - rests_[p]) / through);
    const double given = share / through;
    for (int c = 0; c < 3; ++c) colour[c] = (1.0 - alone) * colour[c] + given * others_[c][p];
    *alpha = std::min(1.0, std::max(0.0, (1.0 - alone) * *alpha + given * others_[3][p]));
}

}  // namespace dof
