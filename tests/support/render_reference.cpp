#include "support/render_reference.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "support/splat_reference.h"

namespace doftest {

namespace {

using dofrt::PixelImage;

// Format constants of the five pixel formats, kept apart from the engine's.
struct FormatFacts {
    int bytesPerPixel;
    double fullScale;    // 0 for float
    std::uint32_t mask;  // of a stored integer component
};

FormatFacts factsOf(QVBitmapType format) {
    switch (format) {
        case kQVBitmapRGBA8:
            return {4, 255.0, 0xFFu};
        case kQVBitmapRGBA10:
            return {5, 1023.0, 0x3FFu};
        case kQVBitmapRGBA12:
            return {6, 4095.0, 0xFFFu};
        case kQVBitmapRGBA16:
            return {8, 65535.0, 0xFFFFu};
        default:
            return {16, 0.0, 0u};
    }
}

bool isFloat(QVBitmapType format) { return format == kQVBitmapRGBAFloat; }

double byteFraction(int b) { return b / 255.0; }

// The stored integer: the low bits of the rounded value.
double lowBits(QVBitmapType format, std::int32_t v) {
    return double(std::uint32_t(v) & factsOf(format).mask);
}

// A colour fraction as a stored component.
double colourComponent(QVBitmapType format, double v) {
    if (isFloat(format)) return double(float(v));
    const double M = factsOf(format).fullScale;
    if (v < 0) return 0.0;
    if (v > 1) return M;
    return lowBits(format, referenceRoundToInt(v * M));
}

double alphaComponent(QVBitmapType format, double m) {
    if (isFloat(format)) return double(float(m));
    return lowBits(format, referenceRoundToInt(m * factsOf(format).fullScale));
}

double rawComponent(QVBitmapType format, double raw) {
    if (isFloat(format)) return double(float(raw));
    return lowBits(format, referenceRoundToInt(raw));
}

// The front element of pixel (x, y) of a row walked from column `walkLeft`:
// the first element exactly, the rest by the rounded stride.
const std::uint8_t* frontElement(const GBufferChannel* ch, int x, int y, int walkLeft,
                                 std::int32_t strideMask) {
    const std::int64_t offset = std::int64_t(walkLeft) * ch->xStride +
                                std::int64_t(y) * ch->yStride +
                                std::int64_t(x - walkLeft) * (ch->xStride & strideMask);
    return reinterpret_cast<const std::uint8_t*>(std::uintptr_t(ch->data) +
                                                 std::uintptr_t(std::intptr_t(offset)));
}

const float kFloatDummy[4] = {1.0f, 1.0f, 1.0f, 1.0f};
const std::int32_t kLongDummy[4] = {1, 1, 1, 1};
const std::uint16_t kUShortDummy[4] = {1, 1, 1, 1};
const std::uint8_t kUByteDummy[4] = {1, 1, 1, 1};

const std::uint8_t* layerElement(const GBufferChannel* ch, int y, std::uint32_t k) {
    if (ch->layers != nullptr) {
        const GBufferLayerRow& row = ch->layers[y];
        if (row.layerBase != nullptr && row.layerCount != 0 && k < row.layerCount) {
            const std::uintptr_t at =
                std::uintptr_t(row.layerBase) +
                std::uintptr_t(std::intptr_t(std::int64_t(k) * row.layerStride));
            if (at != 0) return reinterpret_cast<const std::uint8_t*>(at);
        }
    }
    switch (ch->elemType) {
        case 1:
            return reinterpret_cast<const std::uint8_t*>(kUShortDummy);
        case 2:
        case 5:
            return reinterpret_cast<const std::uint8_t*>(kLongDummy);
        case 3:
        case 6:
            return reinterpret_cast<const std::uint8_t*>(kFloatDummy);
        default:
            return kUByteDummy;
    }
}

float readFloat(const std::uint8_t* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
}

double expScale(int e) { return e == 0 ? 0.0 : std::ldexp(1.0, e - 128); }

void colourOf(const std::uint8_t* element, bool withExponent, double out[3]) {
    for (int c = 0; c < 3; ++c) {
        out[c] = byteFraction(element[c]);
        if (withExponent) out[c] = out[c] * expScale(element[3]);
    }
}

void opacityOf(const std::uint8_t* transparency, double out[3]) {
    for (int c = 0; c < 3; ++c) out[c] = byteFraction(255 - (transparency ? transparency[c] : 0));
}

QVRect clipped(const QVRect& r, const QVRect& region) {
    std::int64_t l = std::max<std::int64_t>(r.left, region.left);
    std::int64_t t = std::max<std::int64_t>(r.top, region.top);
    std::int64_t rr = std::min<std::int64_t>(std::int64_t(r.left) + r.width,
                                             std::int64_t(region.left) + region.width);
    std::int64_t b = std::min<std::int64_t>(std::int64_t(r.top) + r.height,
                                            std::int64_t(region.top) + region.height);
    if (r.width <= 0 || r.height <= 0 || region.width <= 0 || region.height <= 0 || rr <= l ||
        b <= t)
        return QVRect{0, 0, 0, 0};
    return QVRect{int(l), int(t), int(rr - l), int(b - t)};
}

// The whole-row byte copy of a rectangle, between buffers of one layout.
void rawCopy(const PixelImage& source, PixelImage& destination, const QVRect& r) {
    const QVBitmap& s = source.record();
    QVBitmap& d = destination.record();
    if (s.layoutId != d.layoutId) return;
    const int bytes = r.width * factsOf(source.format()).bytesPerPixel;
    for (int y = r.top; y < r.top + r.height; ++y) {
        for (int b = 0; b < bytes; ++b) {
            d.baseAddr[std::int64_t(d.dataOffset) + std::int64_t(r.left) * d.pixelBytes +
                       std::int64_t(y) * d.rowBytes + b] =
                s.baseAddr[std::int64_t(s.dataOffset) + std::int64_t(r.left) * s.pixelBytes +
                           std::int64_t(y) * s.rowBytes + b];
        }
    }
}

std::vector<QVRect> rectsOf(const ReferenceSettings& s) {
    std::vector<QVRect> rects = s.outputRects;
    if (rects.empty()) rects.push_back(s.region);
    for (QVRect& r : rects) r = clipped(r, s.region);
    return rects;
}

const GBufferChannel* entry(GBufferChannel* const* gbuffers, int e) {
    return gbuffers ? gbuffers[e] : nullptr;
}

std::size_t at(const QVRect& region, int x, int y) {
    return std::size_t(y - region.top) * std::size_t(region.width) + std::size_t(x - region.left);
}

void fillRadiusMap(const ReferenceSettings& s, GBufferChannel* const* gbuffers, const QVRect& r,
                   std::vector<std::uint8_t>& map) {
    const GBufferChannel* depth = entry(gbuffers, kGBufferDepth);
    for (int y = r.top; y < r.top + r.height; ++y) {
        for (int x = r.left; x < r.left + r.width; ++x) {
            if (depth == nullptr || s.radius < 0.00001) {
                map[at(s.region, x, y)] = 0;
                continue;
            }
            double f = referenceBlurFraction(readFloat(frontElement(depth, x, y, r.left, ~3)),
                                             s.focalDepth, s.focusRangeDepth);
            if (std::isnan(f)) f = 0.0;
            std::int32_t v = referenceRoundToInt(255.0 * f);
            map[at(s.region, x, y)] = std::uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    }
}

// Summed-area tables of A, R x A, G x A, B x A, (W + 1) x (H + 1) each.
std::vector<double> summedTable(const ReferenceSettings& s, const PixelImage& source, int q) {
    const int W = s.region.width;
    const int H = s.region.height;
    std::vector<double> T(std::size_t(W + 1) * std::size_t(H + 1), 0.0);
    auto el = [&](int j, int i) -> double& { return T[std::size_t(j) * std::size_t(W + 1) + i]; };
    for (int j = 0; j < H; ++j) {
        for (int i = 0; i < W; ++i) {
            const int x = s.region.left + i;
            const int y = s.region.top + j;
            const double A = source.component(x, y, 3);
            const double value = q == 0 ? A : source.component(x, y, q - 1) * A;
            el(j + 1, i + 1) = value + el(j + 1, i) + el(j, i + 1) - el(j, i);
        }
    }
    return T;
}

void boxAverage(const ReferenceSettings& s, const PixelImage& source, const QVRect& r,
                const std::vector<std::uint8_t>& map, const std::vector<double> tables[4],
                PixelImage& destination) {
    const QVBitmapType format = source.format();
    const double Rx = s.radius * s.scaleX / s.pixelAspect;
    const double Ry = s.radius * s.scaleY;
    const std::int64_t W = s.region.width;
    const std::int64_t H = s.region.height;
    for (int y = r.top; y < r.top + r.height; ++y) {
        for (int x = r.left; x < r.left + r.width; ++x) {
            const double f = byteFraction(map[at(s.region, x, y)]);
            const std::int64_t hx = referenceRoundToInt(Rx * f);
            const std::int64_t hy = referenceRoundToInt(Ry * f);
            const std::int64_t cx = x - s.region.left;
            const std::int64_t cy = y - s.region.top;
            const std::int64_t x0 = std::max<std::int64_t>(cx - hx, 0);
            const std::int64_t x1 = std::min<std::int64_t>(cx + hx + 1, W);
            const std::int64_t y0 = std::max<std::int64_t>(cy - hy, 0);
            const std::int64_t y1 = std::min<std::int64_t>(cy + hy + 1, H);
            double S[4];
            for (int t = 0; t < 4; ++t) {
                auto T = [&](std::int64_t j, std::int64_t i) {
                    return tables[t][std::size_t(j * (W + 1) + i)];
                };
                S[t] = T(y0, x0) - T(y0, x1) - T(y1, x0) + T(y1, x1);
            }
            const double area = double((x1 - x0) * (y1 - y0));
            const double A = rawComponent(format, S[0] / area);
            destination.setComponent(x, y, 3, A);
            if (A == 0) continue;
            for (int c = 0; c < 3; ++c)
                destination.setComponent(x, y, c, rawComponent(format, S[c + 1] / S[0]));
        }
    }
}

void splatRect(const ReferenceSettings& s, const PixelImage& source,
               GBufferChannel* const* gbuffers, const QVRect& r, ReferencePlanes& planes) {
    const GBufferChannel* depth = entry(gbuffers, kGBufferDepth);
    const GBufferChannel* colour = entry(gbuffers, kGBufferColourExponent);
    const bool withExponent = colour != nullptr;
    if (!colour) colour = entry(gbuffers, kGBufferColour);
    const GBufferChannel* coverage = entry(gbuffers, kGBufferCoverage);
    const GBufferChannel* transparency = entry(gbuffers, kGBufferTransparency);
    const GBufferChannel* weight = entry(gbuffers, kGBufferLayerWeight);
    const GBufferChannel* range = entry(gbuffers, kGBufferLayerRange);
    const bool layersOn = range && colour && weight;
    const double Rx = s.radius * s.scaleX / s.pixelAspect;
    const double Ry = s.radius * s.scaleY;

    for (int y = r.top; y < r.top + r.height; ++y) {
        for (int x = r.left; x < r.left + r.width; ++x) {
            const int cov = coverage ? *frontElement(coverage, x, y, r.left, ~0) : 0;
            if (cov == 0) continue;
            SplatFragment f;
            f.x = x;
            f.y = y;
            double fraction = referenceBlurFraction(
                readFloat(frontElement(depth, x, y, r.left, ~3)), s.focalDepth, s.focusRangeDepth);
            if (std::isnan(fraction)) fraction = 0.0;
            f.radiusX = Rx * fraction;
            f.radiusY = Ry * fraction;
            opacityOf(transparency ? frontElement(transparency, x, y, r.left, ~0) : nullptr,
                      f.opacity);
            if (colour) {
                colourOf(frontElement(colour, x, y, r.left, ~0), withExponent, f.colour);
            } else {
                for (int c = 0; c < 3; ++c)
                    f.colour[c] = referenceFraction(source.format(), source.component(x, y, c));
            }
            for (int c = 0; c < 3; ++c) f.coverage[c] = byteFraction(cov);
            referenceSplat(planes, s.region, f);

            std::uint32_t first = 0, end = 0;
            if (layersOn) {
                std::uint16_t pair[2];
                std::memcpy(pair, frontElement(range, x, y, r.left, ~1), 4);
                first = pair[0];
                end = pair[1];
            }
            for (std::uint32_t k = first; k < end; ++k) {
                SplatFragment layer;
                layer.x = x;
                layer.y = y;
                double rk = referenceBlurFraction(readFloat(layerElement(depth, y, k)),
                                                  s.focalDepth, s.focusRangeDepth);
                if (std::isnan(rk)) rk = 0.0;
                layer.radiusX = Rx * rk;
                layer.radiusY = Ry * rk;
                opacityOf(transparency ? layerElement(transparency, y, k) : nullptr, layer.opacity);
                colourOf(layerElement(colour, y, k), withExponent, layer.colour);
                const std::uint8_t* w = layerElement(weight, y, k);
                for (int c = 0; c < 3; ++c) layer.coverage[c] = byteFraction(w[c]);
                referenceSplat(planes, s.region, layer);
            }
        }
    }
}

void resolveRect(const ReferenceSettings& s, const PixelImage& source, const QVRect& r,
                 const ReferencePlanes& planes, PixelImage& destination) {
    const QVBitmapType format = source.format();
    for (int y = r.top; y < r.top + r.height; ++y) {
        for (int x = r.left; x < r.left + r.width; ++x) {
            const std::size_t p = at(s.region, x, y);
            const double aIn = referenceFraction(format, source.component(x, y, 3));
            double a[3];
            for (int c = 0; c < 3; ++c) {
                const double Wc = planes[kWeightSumR + c][p];
                if (Wc < 0.00000001) {
                    destination.setComponent(x, y, c, source.component(x, y, c));
                    a[c] = aIn;
                    continue;
                }
                const double Tc = planes[kTransmitR + c][p];
                const double sc = referenceFraction(format, source.component(x, y, c));
                const double v = (1.0 - Tc) * planes[kColourSumR + c][p] / Wc + Tc * sc;
                destination.setComponent(x, y, c, colourComponent(format, v));
                const double alpha = (1.0 - Tc) * planes[kOpacitySumR + c][p] / Wc + Tc * aIn;
                a[c] = alpha < 0 ? 0.0 : (alpha > 1 ? 1.0 : alpha);
            }
            destination.setComponent(x, y, 3, alphaComponent(format, (a[0] + a[1] + a[2]) / 3));
        }
    }
}

}  // namespace

std::int32_t referenceRoundToInt(double value) {
    const double sum = value + 4503603922337792.0;
    std::uint64_t bits;
    std::memcpy(&bits, &sum, 8);
    return std::int32_t(std::uint32_t(bits & 0xFFFFFFFFu));
}

double referenceBlurFraction(float depth, double F, double N) {
    double d = depth;
    if (F > d && F > N) {
        if (d > N) return 0.0;
        d = double(float(d + (F - N)));
    }
    const double q = -1.0 / d;
    const double r = std::fabs(1.0 / F + q) / q;
    if (r < 0.0) return 0.0;
    if (r > 1.0) return 1.0;
    return r;
}

double referenceFraction(QVBitmapType format, double raw) {
    switch (format) {
        case kQVBitmapRGBA8:
            return raw / 255.0;
        case kQVBitmapRGBA10:
            return raw * (1.0 / 1023.0);
        case kQVBitmapRGBA12:
            return raw * (1.0 / 4095.0);
        case kQVBitmapRGBA16:
            return raw * (1.0 / 65535.0);
        default:
            return raw;
    }
}

std::vector<std::uint8_t> referenceRadiusMap(const ReferenceSettings& settings,
                                             GBufferChannel* const* gbuffers) {
    std::vector<std::uint8_t> map(
        std::size_t(settings.region.width) * std::size_t(settings.region.height), 0);
    for (const QVRect& r : rectsOf(settings)) fillRadiusMap(settings, gbuffers, r, map);
    return map;
}

bool referenceRender(const ReferenceSettings& s, const PixelImage& source,
                     GBufferChannel* const* gbuffers, PixelImage& destination) {
    const int method = referenceRoundToInt(s.mode);
    if (method != 1 && method != 2) return false;
    if (s.region.width <= 0 || s.region.height <= 0) return true;
    const std::vector<QVRect> rects = rectsOf(s);
    const std::vector<std::uint8_t> map = referenceRadiusMap(s, gbuffers);

    if (method == 1) {
        const std::vector<double> tables[4] = {summedTable(s, source, 0), summedTable(s, source, 1),
                                               summedTable(s, source, 2),
                                               summedTable(s, source, 3)};
        for (const QVRect& r : rects) {
            if (s.radius < 0.000001) {
                rawCopy(source, destination, r);
            } else {
                boxAverage(s, source, r, map, tables, destination);
            }
        }
        return true;
    }

    const bool sharp = entry(gbuffers, kGBufferDepth) == nullptr || s.radius < 0.00001;
    ReferencePlanes planes = referenceFreshPlanes(s.region);
    for (const QVRect& r : rects) {
        if (sharp) {
            rawCopy(source, destination, r);
        } else {
            splatRect(s, source, gbuffers, r, planes);
        }
    }
    if (!sharp)
        for (const QVRect& r : rects) resolveRect(s, source, r, planes, destination);
    return true;
}

}  // namespace doftest
