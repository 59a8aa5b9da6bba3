#include "render/effect_buffers.h"

#include <cmath>

#include "model/deep_fragments.h"

namespace dof {

float DepthPlacement::effectDepth(double distance) const {
    if (!lens) return dof::effectDepth(distance, noHitAbove, noHit, scale);
    // The moved distances are all real: what hit nothing is placed by the
    // policy here (infinitely far, or on the focal plane).
    double moved = NAN;
    if (isHit(distance, noHitAbove))
        moved = lens->distance(distance);
    else if (noHit == NoHitPolicy::Far)
        moved = lens->distance(INFINITY);
    return dof::effectDepth(moved, INFINITY, noHit, scale);
}

namespace {

bool fillDeepChannels(const RenderInput& input, const DepthPlacement& depth,
                      runtime::GBufferSet& gb, std::string* error) {
    for (int y = 0; y < input.height(); ++y)
        for (int x = 0; x < input.width(); ++x) {
            const EncodedPixel encoded = encodePixel(input.fragments(x, y));
            std::uint8_t* transparency = gb.transparency(x, y);
            for (int c = 0; c < 3; ++c) transparency[c] = encoded.transparency;
            if (encoded.fragments.empty()) {
                gb.depth(x, y) = depth.effectDepth(NAN);
                gb.coverage(x, y) = 0;
                continue;
            }
            const EncodedFragment& front = encoded.fragments[encoded.front];
            gb.depth(x, y) = depth.effectDepth(front.distance);
            gb.coverage(x, y) = front.weight;
            std::uint8_t* colour = gb.colour(x, y);
            for (int c = 0; c < 4; ++c) colour[c] = front.colour[c];
            for (std::size_t k = 0; k < encoded.fragments.size(); ++k) {
                if (k == encoded.front) continue;
                const EncodedFragment& f = encoded.fragments[k];
                runtime::LayerFragment layer;
                layer.depth = depth.effectDepth(f.distance);
                for (int c = 0; c < 4; ++c) layer.colour[c] = f.colour[c];
                for (int c = 0; c < 3; ++c) {
                    layer.transparency[c] = encoded.transparency;
                    layer.weight[c] = f.weight;
                }
                if (!gb.addLayer(x, y, layer)) {
                    *error = input.path() + ": row " + std::to_string(y) +
                             " holds more depth layers than the g-buffer can carry";
                    return false;
                }
            }
        }
    return true;
}

void fillFlatChannels(const RenderInput& input, const DepthPlacement& depth,
                      runtime::GBufferSet& gb) {
    for (int y = 0; y < input.height(); ++y)
        for (int x = 0; x < input.width(); ++x) {
            gb.depth(x, y) = depth.effectDepth(input.distance(x, y));
            gb.coverage(x, y) = input.holdsAnything(x, y) ? 255 : 0;
            if (input.hasAlpha()) {
                const std::uint8_t t = transparencyByte(input.stored(x, y).alpha);
                std::uint8_t* transparency = gb.transparency(x, y);
                for (int c = 0; c < 3; ++c) transparency[c] = t;
            }
        }
}

}  // namespace

bool buildEffectBuffers(const RenderInput& input, Method method, QVBitmapType format,
                        const DepthPlacement& depth, EffectBuffers* buffers, std::string* error) {
    const int width = input.width(), height = input.height();
    buffers->source = runtime::PixelImage::create(format, width, height);
    buffers->destination = runtime::PixelImage::create(format, width, height);
    if (!buffers->source || !buffers->destination) {
        *error = input.path() + ": out of memory (the host allocator refused the " +
                 std::to_string(width) + "x" + std::to_string(height) + " pixel buffers)";
        return false;
    }
    runtime::PixelImage& source = *buffers->source;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const PixelValues v = input.stored(x, y);
            for (int c = 0; c < 3; ++c) {
                double colour = v.colour[c];
                if (method == Method::Splat && !input.associated()) colour *= v.alpha;
                if (method == Method::Box && input.associated() && v.alpha != 0.0)
                    colour /= v.alpha;
                source.setFraction(x, y, c, colour);
            }
            source.setFraction(x, y, 3, v.alpha);
        }
    buffers->destination->copyPixelsFrom(source);

    buffers->gbuffers.reset(new runtime::GBufferSet(width, height));
    runtime::GBufferSet& gb = *buffers->gbuffers;
    gb.addDepth();
    gb.addCoverage();
    if (input.deep()) {
        gb.addColour(true);
        gb.addTransparency();
        gb.enableLayers();
        return fillDeepChannels(input, depth, gb, error);
    }
    if (input.hasAlpha()) gb.addTransparency();
    fillFlatChannels(input, depth, gb);
    return true;
}

RenderedColour storeResult(const EffectBuffers& buffers, Method method, const RenderInput& input) {
    const runtime::PixelImage& source = *buffers.source;
    const runtime::PixelImage& result = *buffers.destination;
    RenderedColour out = storedColour(input);
    std::size_t p = 0;
    for (int y = 0; y < input.height(); ++y)
        for (int x = 0; x < input.width(); ++x, ++p) {
            bool unchanged = true;
            for (int c = 0; c < 4 && unchanged; ++c)
                unchanged = result.component(x, y, c) == source.component(x, y, c);
            if (unchanged) continue;
            const PixelValues stored = input.stored(x, y);
            const double alpha = result.fraction(x, y, 3);
            for (int c = 0; c < 3; ++c) {
                const double v = result.fraction(x, y, c);
                double colour;
                if (method == Method::Splat) {
                    // Premultiplied out of the effect.
                    colour = input.associated() ? v : (alpha > 0.0 ? v / alpha : stored.colour[c]);
                } else if (!input.associated()) {
                    colour = v;
                } else if (alpha != 0.0) {
                    colour = v * alpha;
                } else {
                    // Box averaging leaves the colour of a transparent result
                    // alone: light under zero alpha stays, anything else goes.
                    colour = stored.alpha == 0.0 ? stored.colour[c] : 0.0;
                }
                out.colour[c][p] = float(colour);
            }
            if (input.hasAlpha()) out.alpha[p] = float(alpha);
        }
    return out;
}

}  // namespace dof
