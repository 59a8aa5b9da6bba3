#include "render/effect_buffers.h"

#include <cmath>

#include "model/deep_fragments.h"

namespace dof {

QVBitmapType workingFormatFor(const OIIO::ImageSpec& imageSpec) {
    if (imageSpec.format == OIIO::TypeDesc::UINT8) return kQVBitmapRGBA8;
    if (imageSpec.format == OIIO::TypeDesc::UINT16) return kQVBitmapRGBA16;
    return kQVBitmapRGBAFloat;
}

namespace {

struct PixelValues {
    double colour[3];
    double alpha;
};

// The stored colour and alpha of a pixel (alpha 1 without an alpha channel).
PixelValues storedValues(const Frame& frame, std::size_t p) {
    PixelValues v;
    for (int c = 0; c < 3; ++c) v.colour[c] = frame.value(p, frame.colourChannel[c]);
    v.alpha = frame.alphaChannel >= 0 ? frame.value(p, frame.alphaChannel) : 1.0;
    return v;
}

bool holdsAnything(const Frame& frame, std::size_t p, const PixelValues& v) {
    if (!frame.holdsAnything.empty()) return frame.holdsAnything[p] != 0;
    if (frame.alphaChannel < 0 || v.alpha > 0.0) return true;
    // Premultiplied colour without alpha is light that covers nothing; it
    // still spreads. Straight colour under zero alpha means nothing.
    return frame.associated && (v.colour[0] != 0.0 || v.colour[1] != 0.0 || v.colour[2] != 0.0);
}

bool fillDeepChannels(const Frame& frame, const DepthPlacement& depth, runtime::GBufferSet& gb,
                      std::string* error) {
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            const std::size_t p = std::size_t(y) * std::size_t(frame.width()) + std::size_t(x);
            const EncodedPixel encoded = encodePixel(frame.fragments[p]);
            std::uint8_t* transparency = gb.transparency(x, y);
            for (int c = 0; c < 3; ++c) transparency[c] = encoded.transparency;
            if (encoded.fragments.empty()) {
                gb.depth(x, y) = effectDepth(NAN, depth.noHitAbove, depth.noHit, depth.scale);
                gb.coverage(x, y) = 0;
                continue;
            }
            const EncodedFragment& front = encoded.fragments[encoded.front];
            gb.depth(x, y) =
                effectDepth(front.distance, depth.noHitAbove, depth.noHit, depth.scale);
            gb.coverage(x, y) = front.weight;
            std::uint8_t* colour = gb.colour(x, y);
            for (int c = 0; c < 4; ++c) colour[c] = front.colour[c];
            for (std::size_t k = 0; k < encoded.fragments.size(); ++k) {
                if (k == encoded.front) continue;
                const EncodedFragment& f = encoded.fragments[k];
                runtime::LayerFragment layer;
                layer.depth = effectDepth(f.distance, depth.noHitAbove, depth.noHit, depth.scale);
                for (int c = 0; c < 4; ++c) layer.colour[c] = f.colour[c];
                for (int c = 0; c < 3; ++c) {
                    layer.transparency[c] = encoded.transparency;
                    layer.weight[c] = f.weight;
                }
                if (!gb.addLayer(x, y, layer)) {
                    *error = frame.path + ": row " + std::to_string(y) +
                             " holds more depth layers than the g-buffer can carry";
                    return false;
                }
            }
        }
    return true;
}

void fillFlatChannels(const Frame& frame, const DepthPlacement& depth, runtime::GBufferSet& gb) {
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            const std::size_t p = std::size_t(y) * std::size_t(frame.width()) + std::size_t(x);
            const PixelValues v = storedValues(frame, p);
            gb.depth(x, y) =
                effectDepth(frame.distance[p], depth.noHitAbove, depth.noHit, depth.scale);
            gb.coverage(x, y) = holdsAnything(frame, p, v) ? 255 : 0;
            if (frame.alphaChannel >= 0) {
                std::uint8_t* transparency = gb.transparency(x, y);
                for (int c = 0; c < 3; ++c) transparency[c] = transparencyByte(v.alpha);
            }
        }
}

}  // namespace

bool buildEffectBuffers(const Frame& frame, Method method, QVBitmapType format,
                        const DepthPlacement& depth, EffectBuffers* buffers, std::string* error) {
    const int width = frame.width(), height = frame.height();
    buffers->source = runtime::PixelImage::create(format, width, height);
    buffers->destination = runtime::PixelImage::create(format, width, height);
    if (!buffers->source || !buffers->destination) {
        *error = frame.path + ": out of memory (the host allocator refused the " +
                 std::to_string(width) + "x" + std::to_string(height) + " pixel buffers)";
        return false;
    }
    runtime::PixelImage& source = *buffers->source;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::size_t p = std::size_t(y) * std::size_t(width) + std::size_t(x);
            const PixelValues v = storedValues(frame, p);
            for (int c = 0; c < 3; ++c) {
                double colour = v.colour[c];
                if (method == Method::Splat && !frame.associated) colour *= v.alpha;
                if (method == Method::Box && frame.associated && v.alpha != 0.0) colour /= v.alpha;
                source.setFraction(x, y, c, colour);
            }
            source.setFraction(x, y, 3, v.alpha);
        }
    buffers->destination->copyPixelsFrom(source);

    buffers->gbuffers.reset(new runtime::GBufferSet(width, height));
    runtime::GBufferSet& gb = *buffers->gbuffers;
    gb.addDepth();
    gb.addCoverage();
    if (frame.deep) {
        gb.addColour(true);
        gb.addTransparency();
        gb.enableLayers();
        return fillDeepChannels(frame, depth, gb, error);
    }
    if (frame.alphaChannel >= 0) gb.addTransparency();
    fillFlatChannels(frame, depth, gb);
    return true;
}

void storeResult(const EffectBuffers& buffers, Method method, Frame* frame) {
    const runtime::PixelImage& source = *buffers.source;
    const runtime::PixelImage& result = *buffers.destination;
    const int width = frame->width();
    const std::size_t stride = std::size_t(frame->imageSpec.nchannels);
    for (int y = 0; y < frame->height(); ++y)
        for (int x = 0; x < width; ++x) {
            bool unchanged = true;
            for (int c = 0; c < 4 && unchanged; ++c)
                unchanged = result.component(x, y, c) == source.component(x, y, c);
            if (unchanged) continue;
            const std::size_t p = std::size_t(y) * std::size_t(width) + std::size_t(x);
            const PixelValues stored = storedValues(*frame, p);
            const double alpha = result.fraction(x, y, 3);
            double colour[3];
            for (int c = 0; c < 3; ++c) {
                const double v = result.fraction(x, y, c);
                if (method == Method::Splat) {
                    // Premultiplied out of the effect.
                    colour[c] =
                        frame->associated ? v : (alpha > 0.0 ? v / alpha : stored.colour[c]);
                } else if (!frame->associated) {
                    colour[c] = v;
                } else if (alpha != 0.0) {
                    colour[c] = v * alpha;
                } else {
                    // Box averaging leaves the colour of a transparent result
                    // alone: light under zero alpha stays, anything else goes.
                    colour[c] = stored.alpha == 0.0 ? stored.colour[c] : 0.0;
                }
            }
            float* out = &frame->pixels[p * stride];
            for (int c = 0; c < 3; ++c) out[frame->colourChannel[c]] = float(colour[c]);
            if (frame->alphaChannel >= 0) out[frame->alphaChannel] = float(alpha);
        }
}

}  // namespace dof
