#include "support/render_reference.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "support/format_facts.h"

namespace dof::test {

std::int32_t roundToInt(double value) {
    const double sum = value + 4503603922337792.0;
    std::uint64_t bits;
    std::memcpy(&bits, &sum, 8);
    return std::int32_t(std::uint32_t(bits & 0xFFFFFFFFu));
}

namespace {

using runtime::PixelImage;
using std::int64_t;

double blurFraction(float depth, double F, double N) {
    double d = depth;
    if (F > d && F > N) {
        if (d > N) return 0.0;
        d = double(float(d + (F - N)));
    }
    const double q = -1.0 / d;
    const double r = std::fabs(1.0 / F + q) / q;
    if (std::isnan(r)) return 0.0;  // depth 0
    return r < 0.0 ? 0.0 : (r > 1.0 ? 1.0 : r);
}

double fullScale(QVBitmapType format) { return formatFacts(format)->fullScale; }

// 8 bits by the host's table of b / 255, the others times the reciprocal.
double fraction(QVBitmapType format, double raw) {
    const double M = fullScale(format);
    return M == 0 ? raw : (M == 255 ? raw / 255.0 : raw * (1.0 / M));
}

double byteFraction(int b) { return b / 255.0; }

// A value stored as a component: float as it is, integers rounded to the
// even and cut to their low bits.
double stored(QVBitmapType format, double v) {
    if (fullScale(format) == 0) return double(float(v));
    return double(std::uint32_t(roundToInt(v)) & ((1u << formatFacts(format)->bits) - 1));
}

// The front element of pixel (x, y) of a row walked from column `walkLeft`:
// the first element exactly, the rest by the rounded stride.
const std::uint8_t* frontElement(const GBufferChannel* ch, int x, int y, int walkLeft,
                                 std::int32_t strideMask) {
    const int64_t offset = int64_t(walkLeft) * ch->xStride + int64_t(y) * ch->yStride +
                           int64_t(x - walkLeft) * (ch->xStride & strideMask);
    return reinterpret_cast<const std::uint8_t*>(std::uintptr_t(ch->data) +
                                                 std::uintptr_t(std::intptr_t(offset)));
}

// Layer element k of row y, or the dummy of the channel's element type:
// floats 1.0 (types 3, 6), 32-bit 1 (2, 5), 16-bit 1 (1), bytes 1.
const std::uint8_t* layerElement(const GBufferChannel* ch, int y, std::uint32_t k) {
    static const float floats[4] = {1, 1, 1, 1};
    static const std::int32_t longs[4] = {1, 1, 1, 1};
    static const std::uint16_t shorts[4] = {1, 1, 1, 1};
    static const std::uint8_t bytes[4] = {1, 1, 1, 1};
    const GBufferLayerRow* row = ch->layers ? &ch->layers[y] : nullptr;
    if (row && row->layerBase && k < row->layerCount) {
        const std::uintptr_t at = std::uintptr_t(row->layerBase) +
                                  std::uintptr_t(std::intptr_t(int64_t(k) * row->layerStride));
        if (at != 0) return reinterpret_cast<const std::uint8_t*>(at);
    }
    const int type = ch->elemType;
    if (type == 3 || type == 6) return reinterpret_cast<const std::uint8_t*>(floats);
    if (type == 2 || type == 5) return reinterpret_cast<const std::uint8_t*>(longs);
    return type == 1 ? reinterpret_cast<const std::uint8_t*>(shorts) : bytes;
}

float readFloat(const std::uint8_t* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
}

void colourOf(const std::uint8_t* element, bool withExponent, double out[3]) {
    for (int c = 0; c < 3; ++c) {
        out[c] = byteFraction(element[c]);
        if (withExponent) out[c] = out[c] * (element[3] ? std::ldexp(1.0, element[3] - 128) : 0);
    }
}

void opacityOf(const std::uint8_t* transparency, double out[3]) {
    for (int c = 0; c < 3; ++c) out[c] = byteFraction(255 - (transparency ? transparency[c] : 0));
}

// The output rectangles, cut to the region.
std::vector<QVRect> rectsOf(const runtime::RenderSettings& s) {
    std::vector<QVRect> rects = s.outputRects;
    if (rects.empty()) rects.push_back(s.region);
    for (QVRect& r : rects) {
        const QVRect& g = s.region;
        const int64_t l = std::max(r.left, g.left), t = std::max(r.top, g.top);
        const int64_t right = std::min(int64_t(r.left) + r.width, int64_t(g.left) + g.width);
        const int64_t bottom = std::min(int64_t(r.top) + r.height, int64_t(g.top) + g.height);
        const bool empty = r.width <= 0 || r.height <= 0 || right <= l || bottom <= t;
        r = empty ? QVRect{0, 0, 0, 0} : QVRect{int(l), int(t), int(right - l), int(bottom - t)};
    }
    return rects;
}

// The whole-row byte copy of a rectangle, between buffers of one layout.
void rawCopy(const PixelImage& source, PixelImage& destination, const QVRect& r) {
    const QVBitmap& s = source.record();
    QVBitmap& d = destination.record();
    if (s.layoutId != d.layoutId) return;
    auto row = [&](const QVBitmap& b, int y) {
        return b.baseAddr + b.dataOffset + int64_t(r.left) * b.pixelBytes + int64_t(y) * b.rowBytes;
    };
    for (int y = r.top; y < r.top + r.height; ++y)
        for (int b = 0; b < r.width * s.pixelBytes; ++b) row(d, y)[b] = row(s, y)[b];
}

const GBufferChannel* entry(GBufferChannel* const* gbuffers, int e) {
    return gbuffers ? gbuffers[e] : nullptr;
}

std::size_t at(const QVRect& region, int x, int y) {
    return std::size_t(y - region.top) * std::size_t(region.width) + std::size_t(x - region.left);
}

// Pass 1 over every rectangle: the blur fraction times 255, to the even.
std::vector<std::uint8_t> radiusMap(const runtime::RenderSettings& s,
                                    GBufferChannel* const* gbuffers) {
    std::vector<std::uint8_t> map(std::size_t(s.region.width) * std::size_t(s.region.height), 0);
    const GBufferChannel* depth = entry(gbuffers, kGBufferDepth);
    if (depth == nullptr || s.radius < 0.00001) return map;
    for (const QVRect& r : rectsOf(s))
        for (int y = r.top; y < r.top + r.height; ++y)
            for (int x = r.left; x < r.left + r.width; ++x) {
                const std::int32_t v = roundToInt(
                    255.0 * blurFraction(readFloat(frontElement(depth, x, y, r.left, ~3)),
                                         s.focalDepth, s.focusRangeDepth));
                map[at(s.region, x, y)] = std::uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
    return map;
}

// Summed-area table of A (q = 0) or of component q - 1 times A.
std::vector<double> summedTable(const runtime::RenderSettings& s, const PixelImage& source, int q) {
    const std::size_t W = std::size_t(s.region.width) + 1;
    std::vector<double> T(W * (std::size_t(s.region.height) + 1), 0.0);
    for (std::size_t j = 1; j * W < T.size(); ++j)
        for (std::size_t i = 1; i < W; ++i) {
            const int x = s.region.left + int(i) - 1, y = s.region.top + int(j) - 1;
            const double A = source.component(x, y, 3);
            const double value = q == 0 ? A : source.component(x, y, q - 1) * A;
            T[j * W + i] = value + T[j * W + i - 1] + T[(j - 1) * W + i] - T[(j - 1) * W + i - 1];
        }
    return T;
}

void boxAverage(const runtime::RenderSettings& s, const PixelImage& source, const QVRect& r,
                const std::vector<std::uint8_t>& map, const std::vector<double> tables[4],
                PixelImage& destination) {
    const QVBitmapType format = source.format();
    const int64_t W = s.region.width, H = s.region.height;
    for (int y = r.top; y < r.top + r.height; ++y) {
        for (int x = r.left; x < r.left + r.width; ++x) {
            const double f = byteFraction(map[at(s.region, x, y)]);
            const int64_t hx = roundToInt(s.radius * s.scaleX / s.pixelAspect * f);
            const int64_t hy = roundToInt(s.radius * s.scaleY * f);
            const int64_t cx = x - s.region.left, cy = y - s.region.top;
            const int64_t x0 = std::max<int64_t>(cx - hx, 0), x1 = std::min(cx + hx + 1, W);
            const int64_t y0 = std::max<int64_t>(cy - hy, 0), y1 = std::min(cy + hy + 1, H);
            double S[4];
            for (int t = 0; t < 4; ++t) {
                auto T = [&](int64_t j, int64_t i) {
                    return tables[t][std::size_t(j * (W + 1) + i)];
                };
                S[t] = T(y0, x0) - T(y0, x1) - T(y1, x0) + T(y1, x1);
            }
            const double A = stored(format, S[0] / double((x1 - x0) * (y1 - y0)));
            destination.setComponent(x, y, 3, A);
            if (A == 0) continue;
            for (int c = 0; c < 3; ++c)
                destination.setComponent(x, y, c, stored(format, S[c + 1] / S[0]));
        }
    }
}

// The literal pass 3 over one rectangle, one fragment at a time; false when
// `done` stopped it.
bool splatRect(const runtime::RenderSettings& s, const PixelImage& source,
               GBufferChannel* const* gbuffers, const QVRect& r, ReferencePlanes& planes,
               const ReferencePixelDone& done) {
    const GBufferChannel* depth = entry(gbuffers, kGBufferDepth);
    const GBufferChannel* colour = entry(gbuffers, kGBufferColourExponent);
    const bool withExponent = colour != nullptr;
    if (!colour) colour = entry(gbuffers, kGBufferColour);
    const GBufferChannel* coverage = entry(gbuffers, kGBufferCoverage);
    const GBufferChannel* transparency = entry(gbuffers, kGBufferTransparency);
    const GBufferChannel* weight = entry(gbuffers, kGBufferLayerWeight);
    const GBufferChannel* range = entry(gbuffers, kGBufferLayerRange);
    const bool layersOn = range && colour && weight;
    SplatFragment f{};
    auto splat = [&](int x, int y, const std::uint8_t* depthElement) {
        const double b = blurFraction(readFloat(depthElement), s.focalDepth, s.focusRangeDepth);
        f.x = x, f.y = y;
        f.radiusX = s.radius * s.scaleX / s.pixelAspect * b;
        f.radiusY = s.radius * s.scaleY * b;
        referenceSplat(planes, s.region, f);
    };
    for (int y = r.top; y < r.top + r.height; ++y) {
        for (int x = r.left; x < r.left + r.width; ++x) {
            const int cov = coverage ? *frontElement(coverage, x, y, r.left, ~0) : 0;
            if (cov != 0) {
                opacityOf(transparency ? frontElement(transparency, x, y, r.left, ~0) : nullptr,
                          f.opacity);
                for (int c = 0; c < 3; ++c) {
                    f.colour[c] = fraction(source.format(), source.component(x, y, c));
                    f.coverage[c] = byteFraction(cov);
                }
                if (colour)
                    colourOf(frontElement(colour, x, y, r.left, ~0), withExponent, f.colour);
                splat(x, y, frontElement(depth, x, y, r.left, ~3));
                std::uint16_t pair[2] = {0, 0};
                if (layersOn) std::memcpy(pair, frontElement(range, x, y, r.left, ~1), 4);
                for (std::uint32_t k = pair[0]; k < pair[1]; ++k) {
                    opacityOf(transparency ? layerElement(transparency, y, k) : nullptr, f.opacity);
                    colourOf(layerElement(colour, y, k), withExponent, f.colour);
                    for (int c = 0; c < 3; ++c)
                        f.coverage[c] = byteFraction(layerElement(weight, y, k)[c]);
                    splat(x, y, layerElement(depth, y, k));
                }
            }
            if (done && !done(planes)) return false;
        }
    }
    return true;
}

void resolveRect(const runtime::RenderSettings& s, const PixelImage& source, const QVRect& r,
                 const ReferencePlanes& planes, PixelImage& destination) {
    const QVBitmapType format = source.format();
    const double M = fullScale(format) == 0 ? 1.0 : fullScale(format);
    for (int y = r.top; y < r.top + r.height; ++y) {
        for (int x = r.left; x < r.left + r.width; ++x) {
            const std::size_t p = at(s.region, x, y);
            const double aIn = fraction(format, source.component(x, y, 3));
            double a[3];
            for (std::size_t c = 0; c < 3; ++c) {
                const double Wc = planes[9 + c][p], Tc = planes[6 + c][p];
                a[c] = aIn;
                if (Wc < 0.00000001) {
                    destination.setComponent(x, y, int(c), source.component(x, y, int(c)));
                    continue;
                }
                const double sc = fraction(format, source.component(x, y, int(c)));
                const double v = (1.0 - Tc) * planes[c][p] / Wc + Tc * sc;
                const bool limit = fullScale(format) != 0;
                destination.setComponent(
                    x, y, int(c),
                    limit && v < 0 ? 0.0 : (limit && v > 1 ? M : stored(format, v * M)));
                const double alpha = (1.0 - Tc) * planes[3 + c][p] / Wc + Tc * aIn;
                a[c] = alpha < 0 ? 0.0 : (alpha > 1 ? 1.0 : alpha);
            }
            destination.setComponent(x, y, 3, stored(format, (a[0] + a[1] + a[2]) / 3 * M));
        }
    }
}

}  // namespace

ReferencePlanes referenceSplatPlanes(const runtime::RenderSettings& s, const PixelImage& source,
                                     GBufferChannel* const* gbuffers,
                                     const ReferencePixelDone& done) {
    ReferencePlanes planes = referenceFreshPlanes(s.region);
    for (const QVRect& r : rectsOf(s))
        if (!splatRect(s, source, gbuffers, r, planes, done)) break;
    return planes;
}

bool referenceRender(const runtime::RenderSettings& s, const PixelImage& source,
                     GBufferChannel* const* gbuffers, PixelImage& destination,
                     ReferencePlanes* planesAfterSplat) {
    const int method = s.method;
    if (method != 1 && method != 2) return false;
    if (s.region.width <= 0 || s.region.height <= 0) return true;
    const std::vector<QVRect> rects = rectsOf(s);
    const bool copy = method == 1 ? s.radius < 0.000001
                                  : entry(gbuffers, kGBufferDepth) == nullptr || s.radius < 0.00001;
    if (copy) {
        for (const QVRect& r : rects) rawCopy(source, destination, r);
    } else if (method == 1) {
        const std::vector<std::uint8_t> map = radiusMap(s, gbuffers);
        std::vector<double> tables[4];
        for (int q = 0; q < 4; ++q) tables[q] = summedTable(s, source, q);
        for (const QVRect& r : rects) boxAverage(s, source, r, map, tables, destination);
    } else {
        const ReferencePlanes planes = referenceSplatPlanes(s, source, gbuffers);
        for (const QVRect& r : rects) resolveRect(s, source, r, planes, destination);
        if (planesAfterSplat) *planesAfterSplat = planes;
    }
    return true;
}

}  // namespace dof::test
