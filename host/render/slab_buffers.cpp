#include "render/slab_buffers.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "model/blur_fraction.h"
#include "model/deep_fragments.h"
#include "render/area_sums.h"

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
    SlabPixel p;
    double through = 1.0;
    for (const SlabFragment* f = fragments.begin(x, y); f != fragments.end(x, y); ++f) {
        if (f->slab == slab) p.own = f;
        if (f->slab >= slab) break;
        through *= 1.0 - double(f->alpha);
        p.fillable = p.fillable || (blursFar[std::size_t(f->slab)] && f->alpha > 0.0f);
    }
    p.hole = 1.0 - through;
    return p;
}

}  // namespace

bool buildSlabBuffers(const SlabFragments& fragments, const SlabPlan& plan, int slab,
                      const BlurRadii& radii, QVBitmapType format, TaskPool* pool, int threads,
                      SlabBuffers* buffers, std::string* error) {
    buffers->slab = slab;
    const Rect content = fragments.bounds(slab);
    if (content.empty()) return true;
    const std::vector<Slab>& slabs = plan.slabs();
    const double fraction = slabs[std::size_t(slab)].fraction;
    const int reachX = hatReach(radii.across * fraction), reachY = hatReach(radii.down * fraction);
    // The resolve carries the slab's average into a hole with the weight of
    // the taps that reach it, which covers the hole fully only to some way
    // short of the slab's reach (at a frame's edge, where half the taps are
    // missing, about six pixels short). Holes of nearer slabs that blur
    // farther than that are filled, as far as they blur.
    int fillX = 0, fillY = 0;
    std::vector<bool> blursFar(slabs.size(), false);
    for (int t = 0; t < slab; ++t) {
        const int x = hatReach(radii.across * slabs[std::size_t(t)].fraction);
        const int y = hatReach(radii.down * slabs[std::size_t(t)].fraction);
        if ((x == 0 || x <= reachX - kCarriedShort) && (y == 0 || y <= reachY - kCarriedShort))
            continue;
        blursFar[std::size_t(t)] = true;
        fillX = std::max(fillX, x);
        fillY = std::max(fillY, y);
    }
    const int openX = (kOpenHalfReaches * reachX + 1) / 2;
    const int openY = (kOpenHalfReaches * reachY + 1) / 2;
    const Rect area = intersection(grown(content, std::max(openX, fillX), std::max(openY, fillY)),
                                   Rect{0, 0, fragments.width(), fragments.height()});
    buffers->area = area;
    buffers->reachX = reachX;
    buffers->reachY = reachY;
    buffers->footprint = footprintPixels(fraction, radii);
    const int w = area.width, h = area.height;

    // Where the slab's own pixels are, and where holes may need filling
    // (each row's first and last such pixel, set by the thread of the row).
    const Rect whole{0, 0, w, h};
    std::vector<int> fillFirst(std::size_t(h), w), fillLast(std::size_t(h), -1);
    const AreaSums<std::int32_t> own(whole, pool, threads, [&](int x, int y) {
        const SlabPixel p = slabPixel(fragments, slab, blursFar, area.x + x, area.y + y);
        if (p.fillable) {
            fillFirst[std::size_t(y)] = std::min(fillFirst[std::size_t(y)], x);
            fillLast[std::size_t(y)] = x;
        }
        return std::int32_t(p.own ? 1 : 0);
    });
    int fillLeft = w, fillTop = h, fillRight = -1, fillBottom = -1;
    for (int y = 0; y < h; ++y) {
        if (fillLast[std::size_t(y)] < 0) continue;
        fillLeft = std::min(fillLeft, fillFirst[std::size_t(y)]);
        fillRight = std::max(fillRight, fillLast[std::size_t(y)]);
        fillTop = std::min(fillTop, y), fillBottom = y;
    }
    // What surrounds the holes to fill, as far as their squares reach.
    const int limit = std::max(fillX, fillY);
    const bool fills = fillRight >= 0;
    const Rect window = fills ? intersection(grown(Rect{fillLeft, fillTop, fillRight - fillLeft + 1,
                                                        fillBottom - fillTop + 1},
                                                   limit, limit),
                                             whole)
                              : Rect();
    const AreaSums<Surround> surround(window, pool, threads, [&](int x, int y) {
        const SlabPixel p = slabPixel(fragments, slab, blursFar, area.x + x, area.y + y);
        if (!p.own) return Surround{1.0 - p.hole, 0.0, {0.0, 0.0, 0.0}};
        return Surround{
            1.0, double(p.own->alpha), {p.own->colour[0], p.own->colour[1], p.own->colour[2]}};
    });

    buffers->source = runtime::PixelImage::create(format, w, h);
    buffers->destination = runtime::PixelImage::create(format, w, h);
    if (!buffers->source || !buffers->destination) {
        *error = "the host allocator refused the " + std::to_string(w) + "x" + std::to_string(h) +
                 " pixel buffers of a depth slab";
        return false;
    }
    buffers->gbuffers.reset(new runtime::GBufferSet(w, h));
    runtime::GBufferSet& gb = *buffers->gbuffers;
    gb.addDepth();
    gb.addCoverage();
    gb.addTransparency();
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
                const SlabPixel p = slabPixel(fragments, slab, blursFar, area.x + x, area.y + y);
                depthRow[x] = depth;
                double rgb[3] = {0.0, 0.0, 0.0}, a = 0.0;
                std::uint8_t coverage = 0;
                if (p.own) {
                    for (int c = 0; c < 3; ++c) rgb[c] = p.own->colour[c];
                    a = p.own->alpha;
                    coverage = 255;
                } else if (own.around(x, y, openX, openY) > 0 ||
                           (p.fillable && own.around(x, y, fillX, fillY) > 0)) {
                    coverage = fractionByte(1.0 - p.hole);
                    // A hole within a nearer slab's blur: the slab's average
                    // around it, over the smallest square that holds a
                    // pixel's worth of it, doubled. The squares stay within
                    // the fill distance, as do those of the slabs behind, so
                    // that where this one counts a pixel as open the slab
                    // holding it fills the hole too.
                    if (p.fillable) {
                        int half = 1;
                        while (half < limit && surround.around(x, y, half, half).weight < 1.0)
                            half *= 2;
                        half = std::min(limit, 2 * half);
                        const Surround sum = surround.around(x, y, half, half);
                        if (sum.weight >= 1.0) {
                            for (int c = 0; c < 3; ++c)
                                rgb[c] = p.hole * sum.colour[c] / sum.weight;
                            a = p.hole * sum.alpha / sum.weight;
                            coverage = 255;
                        }
                    }
                }
                coverageRow[x] = coverage;
                const std::uint8_t t = transparencyByte(a);
                for (int c = 0; c < 3; ++c) transparencyRow[3 * x + c] = t;
                // The source holds the fragment too: a render with nothing to
                // blur copies it. Elsewhere it is transparent.
                const double sourceAlpha = coverage == 255 ? a : 0.0;
                if (floats) {
                    for (int c = 0; c < 3; ++c) sourceRow[4 * x + c] = float(rgb[c]);
                    sourceRow[4 * x + 3] = float(sourceAlpha);
                } else {
                    for (int c = 0; c < 3; ++c) source.setFraction(x, y, c, rgb[c]);
                    source.setFraction(x, y, 3, sourceAlpha);
                }
            }
        }
    });
    return true;
}

}  // namespace dof
