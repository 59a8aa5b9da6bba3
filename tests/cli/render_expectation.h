// What dof3d render should write for a flat RGBA + Z frame, worked out on its
// own: the hand-over to the effect written out literally (colour in the
// association each method needs, coverage 255 where a pixel holds anything,
// transparency 255 - alpha x 255, depth -Z or -1e30 where nothing was hit),
// the render done by the slow literal reference of the effect, and the
// result turned back into premultiplied colour.
#pragma once

#include <cmath>
#include <vector>

#include "image_files.h"
#include "runtime/GBufferSet.h"
#include "runtime/PixelImage.h"
#include "support/render_reference.h"

namespace doftest {

// A fraction stored in a working format: floats as they are, integers
// rounded to nearest (ties to even) and limited to full scale.
inline double storedRaw(QVBitmapType format, double v) {
    double scale = 0;
    switch (format) {
        case kQVBitmapRGBA8:
            scale = 255;
            break;
        case kQVBitmapRGBA10:
            scale = 1023;
            break;
        case kQVBitmapRGBA12:
            scale = 4095;
            break;
        case kQVBitmapRGBA16:
            scale = 65535;
            break;
        default:
            return double(float(v));
    }
    double code = std::nearbyint(v * scale);
    if (!(code > 0)) code = 0;
    return code > scale ? scale : code;
}

inline double rawFraction(QVBitmapType format, double raw) {
    switch (format) {
        case kQVBitmapRGBA8:
            return raw / 255;
        case kQVBitmapRGBA10:
            return raw / 1023;
        case kQVBitmapRGBA12:
            return raw / 4095;
        case kQVBitmapRGBA16:
            return raw / 65535;
        default:
            return raw;
    }
}

// `in` holds R, G, B, A, Z as channels 0 to 4 (premultiplied colour, Z a
// distance; focus in the same units, between 1 and 65535 so that no scaling
// applies). Returns R, G, B, A per pixel.
inline std::vector<float> expectedFlatRender(const FlatImage& in, int method, QVBitmapType format,
                                             double radius, double focus) {
    const int w = in.width, h = in.height;
    auto source = dofrt::PixelImage::create(format, w, h);
    auto result = dofrt::PixelImage::create(format, w, h);
    dofrt::GBufferSet gb(w, h);
    gb.addDepth();
    gb.addCoverage();
    gb.addTransparency();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double a = in.at(x, y, 3);
            bool lit = false;
            for (int c = 0; c < 3; ++c) {
                double v = in.at(x, y, c);
                lit = lit || v != 0.0;
                if (method == 1 && a != 0.0) v = v / a;
                source->setComponent(x, y, c, storedRaw(format, v));
            }
            source->setComponent(x, y, 3, storedRaw(format, a));
            const double z = in.at(x, y, 4);
            gb.depth(x, y) = (std::isfinite(z) && z > 0 && z < 1e9) ? float(-z) : -1e30f;
            gb.coverage(x, y) = (a > 0 || lit) ? 255 : 0;
            const double limited = a < 0 ? 0 : (a > 1 ? 1 : a);
            for (int c = 0; c < 3; ++c)
                gb.transparency(x, y)[c] = std::uint8_t(255 - std::nearbyint(limited * 255));
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) result->setComponent(x, y, c, source->component(x, y, c));
    ReferenceSettings settings;
    settings.radius = radius;
    settings.mode = method;
    settings.focalDepth = -focus;
    settings.focusRangeDepth = 0.0;
    settings.region = QVRect{0, 0, w, h};
    referenceRender(settings, *source, gb.table(), *result);

    std::vector<float> out(std::size_t(w) * std::size_t(h) * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float* o = &out[(std::size_t(y) * std::size_t(w) + std::size_t(x)) * 4];
            bool same = true;
            for (int c = 0; c < 4; ++c)
                same = same && result->component(x, y, c) == source->component(x, y, c);
            if (same) {
                for (int c = 0; c < 4; ++c) o[c] = in.at(x, y, c);
                continue;
            }
            const double alpha = rawFraction(format, result->component(x, y, 3));
            for (int c = 0; c < 3; ++c) {
                const double v = rawFraction(format, result->component(x, y, c));
                if (method == 2)
                    o[c] = float(v);
                else if (alpha != 0.0)
                    o[c] = float(v * alpha);
                else
                    o[c] = in.at(x, y, 3) == 0.0f ? in.at(x, y, c) : 0.0f;
            }
            o[3] = float(alpha);
        }
    return out;
}

}  // namespace doftest
