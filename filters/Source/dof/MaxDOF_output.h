// Pass 4 of the render engine: the destination pixels of an output
// rectangle, box-averaged from the summed-area tables or resolved from the
// splatting planes. Included only by the per-format sources.
#pragma once

#include "dof/MaxDOF_impl.h"

namespace dof::maxdof {

// The resolve keeps the source where the splats left less weight than this.
constexpr double kMinWeightSum = 0.00000001;

// One end of a box window, kept inside 0..limit so that the table reads stay
// in the tables even for negative half-sizes.
inline std::int64_t window_bound(std::int64_t v, std::int64_t limit) {
    return v < 0 ? 0 : (v > limit ? limit : v);
}

}  // namespace dof::maxdof

template <class Buffer, class Pixel, typename T>
FilterStatus MaxDOF<Buffer, Pixel, T>::boxAverage(IFXFilterInstance const& instance) {
    const QVRect& region = instance.renderRegion;
    const QVRect rect = clip_to_region(instance.outputRect, region);
    if (rect_is_empty(rect)) return kStatusDone;
    if (params_->radius < dof::maxdof::kCopyRadius) {
        copyRows(instance, rect);
        return kStatusDone;
    }
    // Alpha, then R x A, G x A and B x A in the colour sums.
    const double* tables[4];
    for (int t = 0; t < 4; ++t)
        if ((tables[t] = scratch_table(params_, kAlphaTable + t)) == nullptr)
            return kStatusOutOfMemory;
    if (params_->cocMap == nullptr) return kStatusOutOfMemory;

    const double Rx = dof::maxdof::max_radius_x(instance, params_);
    const double Ry = dof::maxdof::max_radius_y(instance, params_);
    const std::int64_t W = region.width;
    const std::int64_t H = region.height;
    const std::size_t stride = std::size_t(W) + 1;
    const Buffer& dst = static_cast<const Buffer&>(*instance.dstBuffer);

    for (int j = 0; j < rect.height; ++j) {
        const int y = rect.top + j;
        const unsigned char* coc = params_->cocMap + region_index(region, rect.left, y);
        std::uint8_t* out = pixelAt(dst, rect.left, y);
        const std::int64_t cy = std::int64_t(y) - region.top;
        for (int i = 0; i < rect.width; ++i, out += Pixel::kBytesPerPixel) {
            const double f = byte_fraction(coc[i]);
            const std::int32_t hx = round_to_int(Rx * f);
            const std::int32_t hy = round_to_int(Ry * f);
            const std::int64_t cx = std::int64_t(rect.left) - region.left + i;
            const std::int64_t x0 = dof::maxdof::window_bound(cx - hx, W);
            const std::int64_t x1 = dof::maxdof::window_bound(cx + hx + 1, W);
            const std::int64_t y0 = dof::maxdof::window_bound(cy - hy, H);
            const std::int64_t y1 = dof::maxdof::window_bound(cy + hy + 1, H);
            const std::size_t top = std::size_t(y0) * stride;
            const std::size_t bottom = std::size_t(y1) * stride;
            double S[4];
            for (int t = 0; t < 4; ++t) {
                const double* table = tables[t];
                S[t] = table[top + std::size_t(x0)] - table[top + std::size_t(x1)] -
                       table[bottom + std::size_t(x0)] + table[bottom + std::size_t(x1)];
            }
            const double area = double((x1 - x0) * (y1 - y0));
            const T A = Pixel::fromRaw(S[0] / area);
            Pixel::write(out, 3, A);
            // No weight of alpha: the colour stays what the destination held,
            // and nothing is divided by a zero alpha sum.
            if (A == T(0)) continue;
            for (int c = 0; c < 3; ++c) Pixel::write(out, c, Pixel::fromRaw(S[c + 1] / S[0]));
        }
    }
    return kStatusDone;
}

template <class Buffer, class Pixel, typename T>
FilterStatus MaxDOF<Buffer, Pixel, T>::resolve(IFXFilterInstance const& instance) {
    const QVRect& region = instance.renderRegion;
    const QVRect rect = clip_to_region(instance.outputRect, region);
    if (rect_is_empty(rect)) return kStatusDone;
    // Nothing was splatted: pass 3 has already copied the source.
    if (dof::maxdof::channel(instance, kGBufferDepth) == nullptr || params_->radius < kSharpRadius)
        return kStatusDone;
    if (!dof::maxdof::planes_allocated(params_)) return kStatusOutOfMemory;

    const double *colourSum[3], *opacitySum[3], *transmit[3], *weightSum[3];
    for (int c = 0; c < 3; ++c) {
        colourSum[c] = scratch_table(params_, kColourSums + c);
        opacitySum[c] = scratch_table(params_, kOpacitySums + c);
        transmit[c] = scratch_table(params_, kTransmits + c);
        weightSum[c] = scratch_table(params_, kWeightSums + c);
    }
    const Buffer& src = static_cast<const Buffer&>(*instance.srcBuffer);
    const Buffer& dst = static_cast<const Buffer&>(*instance.dstBuffer);

    for (int j = 0; j < rect.height; ++j) {
        const int y = rect.top + j;
        std::size_t p = region_index(region, rect.left, y);
        const std::uint8_t* s = pixelAt(src, rect.left, y);
        std::uint8_t* d = pixelAt(dst, rect.left, y);
        for (int i = 0; i < rect.width;
             ++i, ++p, s += Pixel::kBytesPerPixel, d += Pixel::kBytesPerPixel) {
            // Read before any write: source and destination may be one buffer.
            const double alphaIn = Pixel::fraction(Pixel::read(s, 3));
            double a[3];
            for (int c = 0; c < 3; ++c) {
                const double W = weightSum[c][p];
                if (W < dof::maxdof::kMinWeightSum) {
                    Pixel::write(d, c, Pixel::read(s, c));
                    a[c] = alphaIn;
                    continue;
                }
                // 1 - T of the pixel is covered by the splats' mean colour and
                // opacity; the rest shows the source.
                const double Tc = transmit[c][p];
                const double v =
                    ((1.0 - Tc) * colourSum[c][p]) / W + Tc * Pixel::fraction(Pixel::read(s, c));
                Pixel::write(d, c, Pixel::colourFromFraction(v));
                const double alpha = ((1.0 - Tc) * opacitySum[c][p]) / W + Tc * alphaIn;
                a[c] = alpha < 0 ? 0.0 : (alpha > 1 ? 1.0 : alpha);
            }
            Pixel::write(d, 3, Pixel::alphaFromFraction((a[0] + a[1] + a[2]) / 3.0));
        }
    }
    return kStatusDone;
}
