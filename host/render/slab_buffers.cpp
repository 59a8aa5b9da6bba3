#include "render/slab_buffers.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "model/blur_fraction.h"
#include "model/deep_fragments.h"
#include "render/area_sums.h"
#include "render/slab_rests.h"

namespace dof {

namespace {

// Pixels short of its reach to which a slab's resolve covers a hole fully.
constexpr int kCarriedShort = 6;

// What the pixels around a hole hold, to fill it with: open pixels count as
// transparent fragments, holes not at all.
struct Surround {
    double weight = 0.0, alpha = 0.0, colour[3] = {0.0, 0.0, 0.0};

    Surround operator+(const Surround& o) const {
        return Surround{
            weight + o.weight,
            alpha + o.alpha,
            {colour[0] + o.colour[0], colour[1] + o.colour[1], colour[2] + o.colour[2]}};
    }
    Surround operator-(const Surround& o) const {
        return Surround{
            weight - o.weight,
            alpha - o.alpha,
            {colour[0] - o.colour[0], colour[1] - o.colour[1], colour[2] - o.colour[2]}};
    }
};

// What a pixel holds for one slab.
struct SlabPixel {
    const SlabFragment* own = nullptr;  // the slab's fragment, if any
    double hole = 0.0;                  // alpha of what nearer slabs hold there
    bool fillable = false;              // some of it is in a slab that blurs far
};

// `blursFar[t]`: nearer slab t blurs farther into holes than this slab's
// own reach carries its average.
SlabPixel slabPixel(const SlabFragments& fragments, int slab, const std::vector<bool>& blursFar,
                    int x, int y) {
    const SlabHeld held = heldBy(fragments, slab, x, y);
    SlabPixel p;
    p.own = held.own;
    p.hole = held.hole;
    for (const SlabFragment* f = fragments.begin(x, y); f != fragments.end(x, y); ++f) {
        if (f->slab >= slab) break;
        p.fillable = p.fillable || (blursFar[std::size_t(f->slab)] && f->alpha > 0.0f);
    }
    return p;
}

// How far a slab's render reaches, and the holes of nearer slabs it fills.
struct SlabReach {
    int reachX = 0, reachY = 0;  // the slab's own hat
    int openX = 0, openY = 0;    // around its pixels, every pixel a fragment
    int fillX = 0, fillY = 0;    // as far as the holes it fills reach
    // Nearer slab t blurs farther into holes than this slab's own reach
    // carries its average.
    std::vector<bool> blursFar;

    int fillLimit() const { return std::max(fillX, fillY); }
};

// The resolve carries the slab's average into a hole with the weight of the
// taps that reach it, which covers the hole fully only to some way short of
// the slab's reach (at a frame's edge, where half the taps are missing,
// about six pixels short). Holes of nearer slabs that blur farther than
// that are filled, as far as they blur.
SlabReach slabReach(const std::vector<Slab>& slabs, int slab, const BlurRadii& radii) {
    SlabReach r;
    const double fraction = slabs[std::size_t(slab)].fraction;
    r.reachX = hatReach(radii.across * fraction), r.reachY = hatReach(radii.down * fraction);
    r.blursFar.assign(slabs.size(), false);
    for (int t = 0; t < slab; ++t) {
        const int x = hatReach(radii.across * slabs[std::size_t(t)].fraction);
        const int y = hatReach(radii.down * slabs[std::size_t(t)].fraction);
        if ((x == 0 || x <= r.reachX - kCarriedShort) && (y == 0 || y <= r.reachY - kCarriedShort))
            continue;
        r.blursFar[std::size_t(t)] = true;
        r.fillX = std::max(r.fillX, x);
        r.fillY = std::max(r.fillY, y);
    }
    r.openX = (kOpenHalfReaches * r.reachX + 1) / 2;
    r.openY = (kOpenHalfReaches * r.reachY + 1) / 2;
    return r;
}

// What a slab's pixel becomes in its render: colour, alpha and coverage.
struct SlabSample {
    double rgb[3] = {0.0, 0.0, 0.0};
    double alpha = 0.0;
    std::uint8_t coverage = 0;
};

// The slab's pixels, in the area's own coordinates: the slab's fragments,
// open pixels near them, and holes of nearer slabs filled with the average
// around them.
class SlabSampler {
public:
    SlabSampler(const SlabFragments& fragments, int slab, const Rect& area, const SlabReach& reach)
        : fragments_(fragments), slab_(slab), area_(area), reach_(reach) {}

    SlabPixel pixel(int x, int y) const {
        return slabPixel(fragments_, slab_, reach_.blursFar, area_.x + x, area_.y + y);
    }

    // The tables around: where the slab's own pixels are, and what surrounds
    // the holes to fill, as far as their squares reach.
    void buildTables(TaskPool* pool, int threads);

    // A pixel of the slab; its own fragments as `rests` leaves them.
    SlabSample sample(int x, int y, const SlabRests& rests) const;

private:
    const SlabFragments& fragments_;
    const int slab_;
    const Rect area_;
    const SlabReach& reach_;
    AreaSums<std::int32_t> own_;
    AreaSums<Surround> surround_;
};

void SlabSampler::buildTables(TaskPool* pool, int threads) {
    const int w = area_.width, h = area_.height;
    const Rect whole{0, 0, w, h};
    // Each row's first and last pixel whose hole may need filling, set by
    // the thread of the row.
    std::vector<int> fillFirst(std::size_t(h), w), fillLast(std::size_t(h), -1);
    own_ = AreaSums<std::int32_t>(whole, pool, threads, [&](int x, int y) {
        const SlabPixel p = pixel(x, y);
        if (p.fillable) {
            fillFirst[std::size_t(y)] = std::min(fillFirst[std::size_t(y)], x);
            fillLast[std::size_t(y)] = x;
        }
        return std::int32_t(p.own ? 1 : 0);
    });
    Rect fills;
    for (int y = 0; y < h; ++y)
        if (fillLast[std::size_t(y)] >= 0)
            fills = united(fills, Rect{fillFirst[std::size_t(y)], y,
                                       fillLast[std::size_t(y)] - fillFirst[std::size_t(y)] + 1, 1});
    const int limit = reach_.fillLimit();
    const Rect window = fills.empty() ? Rect() : intersection(grown(fills, limit, limit), whole);
    surround_ = AreaSums<Surround>(window, pool, threads, [&](int x, int y) {
        const SlabPixel p = pixel(x, y);
        if (!p.own) return Surround{1.0 - p.hole, 0.0, {0.0, 0.0, 0.0}};
        return Surround{
            1.0, double(p.own->alpha), {p.own->colour[0], p.own->colour[1], p.own->colour[2]}};
    });
}

SlabSample SlabSampler::sample(int x, int y, const SlabRests& rests) const {
    const SlabPixel p = pixel(x, y);
    SlabSample s;
    if (p.own) {
        rests.render(area_.x + x, area_.y + y, *p.own, s.rgb, &s.alpha);
        s.coverage = 255;
        return s;
    }
    if (own_.around(x, y, reach_.openX, reach_.openY) == 0 &&
        !(p.fillable && own_.around(x, y, reach_.fillX, reach_.fillY) > 0))
        return s;
    s.coverage = fractionByte(1.0 - p.hole);
    if (!p.fillable) return s;
    // A hole within a nearer slab's blur: the slab's average around it, over
    // the smallest square that holds a pixel's worth of it, doubled. The
    // squares stay within the fill distance, as do those of the slabs
    // behind, so that where this one counts a pixel as open the slab
    // holding it fills the hole too.
    const int limit = reach_.fillLimit();
    int half = 1;
    while (half < limit && surround_.around(x, y, half, half).weight < 1.0) half *= 2;
    half = std::min(limit, 2 * half);
    const Surround sum = surround_.around(x, y, half, half);
    if (sum.weight >= 1.0) {
        for (int c = 0; c < 3; ++c) s.rgb[c] = p.hole * sum.colour[c] / sum.weight;
        s.alpha = p.hole * sum.alpha / sum.weight;
        s.coverage = 255;
    }
    return s;
}

// The slab's buffers of the area's size: source, destination and g-buffers
// with depth, coverage and transparency. False with `error` when the host
// allocator refuses them.
bool allocateSlabBuffers(QVBitmapType format, int w, int h, SlabBuffers* buffers,
                         std::string* error) {
    buffers->source = runtime::PixelImage::create(format, w, h);
    buffers->destination = runtime::PixelImage::create(format, w, h);
    if (!buffers->source || !buffers->destination) {
        *error = "the host allocator refused the " + std::to_string(w) + "x" + std::to_string(h) +
                 " pixel buffers of a depth slab";
        return false;
    }
    buffers->gbuffers.reset(new runtime::GBufferSet(w, h));
    buffers->gbuffers->addDepth();
    buffers->gbuffers->addCoverage();
    buffers->gbuffers->addTransparency();
    return true;
}

}  // namespace

bool buildSlabBuffers(const SlabFragments& fragments, const SlabPlan& plan, int slab,
                      const BlurRadii& radii, QVBitmapType format, TaskPool* pool, int threads,
                      SlabBuffers* buffers, std::string* error) {
    buffers->slab = slab;
    const Rect content = fragments.bounds(slab);
    if (content.empty()) return true;
    const std::vector<Slab>& slabs = plan.slabs();
    const SlabReach reach = slabReach(slabs, slab, radii);
    const Rect area = intersection(grown(content, std::max(reach.openX, reach.fillX),
                                         std::max(reach.openY, reach.fillY)),
                                   Rect{0, 0, fragments.width(), fragments.height()});
    buffers->area = area;
    buffers->reachX = reach.reachX;
    buffers->reachY = reach.reachY;
    buffers->footprint = footprintPixels(slabs[std::size_t(slab)].fraction, radii);
    const int w = area.width, h = area.height;
    SlabSampler sampler(fragments, slab, area, reach);
    sampler.buildTables(pool, threads);
    const SlabRests rests(fragments, plan, slab, radii, pool, threads);
    if (!allocateSlabBuffers(format, w, h, buffers, error)) return false;

    runtime::GBufferSet& gb = *buffers->gbuffers;
    const float depth = slabs[std::size_t(slab)].depth;
    runtime::PixelImage& source = *buffers->source;
    const bool floats = format == kQVBitmapRGBAFloat;
    constexpr int kRows = 16;
    forEachTask(pool, threads, (h + kRows - 1) / kRows, [&](int run) {
        for (int y = run * kRows; y < std::min(h, (run + 1) * kRows); ++y) {
            float* depthRow = &gb.depth(0, y);
            std::uint8_t* coverageRow = &gb.coverage(0, y);
            std::uint8_t* transparencyRow = gb.transparency(0, y);
            float* sourceRow = floats ? reinterpret_cast<float*>(source.pixel(0, y)) : nullptr;
            for (int x = 0; x < w; ++x) {
                const SlabSample s = sampler.sample(x, y, rests);
                depthRow[x] = depth;
                coverageRow[x] = s.coverage;
                const std::uint8_t t = transparencyByte(s.alpha);
                for (int c = 0; c < 3; ++c) transparencyRow[3 * x + c] = t;
                // The source holds the fragment too: a render with nothing to
                // blur copies it. Elsewhere it is transparent.
                const double sourceAlpha = s.coverage == 255 ? s.alpha : 0.0;
                if (floats) {
                    for (int c = 0; c < 3; ++c) sourceRow[4 * x + c] = float(s.rgb[c]);
                    sourceRow[4 * x + 3] = float(sourceAlpha);
                } else {
                    for (int c = 0; c < 3; ++c) source.setFraction(x, y, c, s.rgb[c]);
                    source.setFraction(x, y, 3, sourceAlpha);
                }
            }
        }
    });
    return true;
}

}  // namespace dof
