#include "render/slab_composite.h"

#include "runtime/HugePages.h"

namespace dof {

SlabComposite::SlabComposite(const RenderInput& input, int sharpSlab)
    : width_(input.width()),
      sharpSlab_(sharpSlab),
      othersShow_(input.pixelCount(), 0),
      opaque_(input.pixelCount(), 1) {
    runtime::assignLarge(sum_, input.pixelCount() * 4, 0.0);
    if (!input.hasAlpha()) return;
    std::size_t p = 0;
    for (int y = 0; y < input.height(); ++y)
        for (int x = 0; x < input.width(); ++x, ++p) opaque_[p] = input.stored(x, y).alpha == 1.0;
}

void SlabComposite::addBehind(const SlabBuffers& slab, TaskPool* pool, int threads) {
    const Rect& a = slab.area;
    const runtime::PixelImage& image = *slab.destination;
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
                std::size_t(a.y + ly) * std::size_t(width_) + std::size_t(a.x + lx);
            // A nearer slab covers the pixel's sharp part; a farther one
            // shows through it where the file's alpha lets it.
            if (slab.slab < sharpSlab_ || (slab.slab > sharpSlab_ && !opaque_[p]))
                othersShow_[p] = 1;
            double* sum = &sum_[p * 4];
            const double through = 1.0 - sum[3];
            for (int c = 0; c < 4; ++c) sum[c] += through * v[c];
        }
    });
}

RenderedColour SlabComposite::store(const SlabFragments& fragments,
                                    const RenderInput& input) const {
    RenderedColour out = storedColour(input);
    for (int y = 0; y < input.height(); ++y)
        for (int x = 0; x < input.width(); ++x) {
            const std::size_t p = std::size_t(y) * std::size_t(width_) + std::size_t(x);
            if (fragments.wholeSharp(x, y) && !othersShow_[p]) continue;
            const double* sum = &sum_[p * 4];
            for (int c = 0; c < 3; ++c) {
                double v = sum[c];
                if (!input.associated()) v = sum[3] > 0.0 ? v / sum[3] : double(out.colour[c][p]);
                out.colour[c][p] = float(v);
            }
            if (input.hasAlpha()) out.alpha[p] = float(sum[3]);
        }
    return out;
}

}  // namespace dof
