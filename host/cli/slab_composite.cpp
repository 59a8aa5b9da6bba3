#include "cli/slab_composite.h"

namespace dof3d {

namespace {

bool inside(const QVRect& r, int x, int y) {
    return x >= r.left && x < r.left + r.width && y >= r.top && y < r.top + r.height;
}

struct Premultiplied {
    double colour[3] = {0.0, 0.0, 0.0};
    double alpha = 0.0;
};

bool layerAt(const SlabLayer& layer, int x, int y, Premultiplied* v) {
    if (layer.area.width == 0 || !inside(layer.area, x, y)) return false;
    const int lx = x - layer.area.left, ly = y - layer.area.top;
    for (int c = 0; c < 3; ++c) v->colour[c] = layer.destination->fraction(lx, ly, c);
    v->alpha = layer.destination->fraction(lx, ly, 3);
    return v->alpha != 0.0 || v->colour[0] != 0.0 || v->colour[1] != 0.0 || v->colour[2] != 0.0;
}

}  // namespace

void compositeSlabs(const std::vector<SlabLayer>& layers, const SlabParts& parts, int sharpSlab,
                    Frame* frame) {
    const std::size_t stride = std::size_t(frame->imageSpec.nchannels);
    for (int y = 0; y < frame->height(); ++y)
        for (int x = 0; x < frame->width(); ++x) {
            const std::size_t p = std::size_t(y) * std::size_t(frame->width()) + std::size_t(x);
            const double storedAlpha =
                frame->alphaChannel >= 0 ? double(frame->value(p, frame->alphaChannel)) : 1.0;
            Premultiplied sum;
            bool othersShow = false;  // anything besides the pixel's own sharp part
            for (const SlabLayer& layer : layers) {
                Premultiplied v;
                if (!layerAt(layer, x, y, &v)) continue;
                if (layer.slab < sharpSlab || (layer.slab > sharpSlab && storedAlpha != 1.0))
                    othersShow = true;
                const double through = 1.0 - sum.alpha;
                for (int c = 0; c < 3; ++c) sum.colour[c] += through * v.colour[c];
                sum.alpha += through * v.alpha;
            }
            if (parts.wholeSharp(x, y) && !othersShow) continue;
            float* out = &frame->pixels[p * stride];
            for (int c = 0; c < 3; ++c) {
                double v = sum.colour[c];
                if (!frame->associated)
                    v = sum.alpha > 0.0 ? v / sum.alpha : double(out[frame->colourChannel[c]]);
                out[frame->colourChannel[c]] = float(v);
            }
            if (frame->alphaChannel >= 0) out[frame->alphaChannel] = float(sum.alpha);
        }
}

}  // namespace dof3d
