#include "render/slab_composite.h"

#include "runtime/HugePages.h"

namespace dof {

SlabComposite::SlabComposite(const Frame& frame, int sharpSlab)
    : width_(frame.width()),
      sharpSlab_(sharpSlab),
      othersShow_(frame.pixelCount(), 0),
      opaque_(frame.pixelCount(), 1) {
    runtime::assignLarge(sum_, frame.pixelCount() * 4, 0.0);
    if (frame.alphaChannel < 0) return;
    for (std::size_t p = 0; p < frame.pixelCount(); ++p)
        opaque_[p] = frame.value(p, frame.alphaChannel) == 1.0f;
}

void SlabComposite::addBehind(const SlabLayer& layer, TaskPool* pool, int threads) {
    const QVRect& a = layer.area;
    const runtime::PixelImage& image = *layer.destination;
    const bool floats = image.format() == kQVBitmapRGBAFloat;
    forEachTask(pool, threads, a.height, [&](int ly) {
        const float* row = floats ? reinterpret_cast<const float*>(image.pixel(0, ly)) : nullptr;
        for (int lx = 0; lx < a.width; ++lx) {
            double v[4];
            bool any = false;
            for (int c = 0; c < 4; ++c) {
                v[c] = floats ? double(row[4 * lx + c]) : image.fraction(lx, ly, c);
                any = any || v[c] != 0.0;
            }
            if (!any) continue;
            const std::size_t p =
                std::size_t(a.top + ly) * std::size_t(width_) + std::size_t(a.left + lx);
            // A nearer slab covers the pixel's sharp part; a farther one
            // shows through it where the file's alpha lets it.
            if (layer.slab < sharpSlab_ || (layer.slab > sharpSlab_ && !opaque_[p]))
                othersShow_[p] = 1;
            double* sum = &sum_[p * 4];
            const double through = 1.0 - sum[3];
            for (int c = 0; c < 4; ++c) sum[c] += through * v[c];
        }
    });
}

void SlabComposite::store(const SlabParts& parts, Frame* frame) const {
    const std::size_t stride = std::size_t(frame->imageSpec.nchannels);
    for (int y = 0; y < frame->height(); ++y)
        for (int x = 0; x < frame->width(); ++x) {
            const std::size_t p = std::size_t(y) * std::size_t(width_) + std::size_t(x);
            if (parts.wholeSharp(x, y) && !othersShow_[p]) continue;
            const double* sum = &sum_[p * 4];
            float* out = &frame->pixels[p * stride];
            for (int c = 0; c < 3; ++c) {
                double v = sum[c];
                if (!frame->associated)
                    v = sum[3] > 0.0 ? v / sum[3] : double(out[frame->colourChannel[c]]);
                out[frame->colourChannel[c]] = float(v);
            }
            if (frame->alphaChannel >= 0) out[frame->alphaChannel] = float(sum[3]);
        }
}

}  // namespace dof
