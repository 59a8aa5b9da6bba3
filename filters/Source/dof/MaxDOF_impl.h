// The render engine's pass protocol and passes 0 to 3 (pass 4 is in
// MaxDOF_output.h). Included only by the per-format sources that instantiate
// the engine.
#pragma once

#include <cstring>
#include <ctime>
#include <initializer_list>

#include "dof/MaxDOF.h"
#include "dof/MaxDOF_gbuffer.h"
#include "dof/MaxDOF_region.h"
#include "dof/abort_poll.h"
#include "dof/get_radius.h"
#include "dof/scratch_tables.h"
#include "dof/splat_pixel.h"
#include "dof/splat_walk.h"
#include "host/FilterStatus.h"
#include "host/GBuffer.h"
#include "host/fi_memory.h"
#include "kernels/round_to_int.h"

namespace dof::maxdof {

// The twelve planes exist (pass 2 of the splatting ran and succeeded).
inline bool planes_allocated(Parameters* params) {
    for (int t = kColourSums; t < kScratchTableCount; ++t)
        if (scratch_table(params, t) == nullptr) return false;
    return true;
}

// The box average copies the source below this radius; the other passes
// below kSharpRadius.
constexpr double kCopyRadius = 0.000001;

inline const GBufferChannel* channel(IFXFilterInstance const& instance, GBufferEntry entry) {
    return instance.gbuffers != nullptr ? instance.gbuffers[entry] : nullptr;
}

// The blur fraction of a depth; a depth whose ratio is not a number (0)
// counts as sharp.
inline double radius_fraction(float depth, Parameters* params) {
    const double r = get_radius(depth, params);
    return r == r ? r : 0.0;
}

// The largest blur radii in pixels, across and down.
inline double max_radius_x(IFXFilterInstance const& instance, const Parameters* params) {
    return params->radius * instance.scaleX / instance.pixelAspect;
}
inline double max_radius_y(IFXFilterInstance const& instance, const Parameters* params) {
    return params->radius * instance.scaleY;
}

}  // namespace dof::maxdof

template <class Buffer, class Pixel, typename T>
FilterStatus MaxDOF<Buffer, Pixel, T>::Render(IFXFilterInstance const& instance) {
    const std::int32_t method = round_to_int(params_->mode);
    switch (instance.renderPass) {
        case 0:
            return allocateRadiusMap(instance);
        case 1:
            return fillRadiusMap(instance);
        case 2:
            if (method == 1) return buildSummedAreaTables(instance);
            if (method == 2) return allocatePlanes(instance);
            return kStatusUnknownPassOrMode;
        case 3:
            return method == 2 ? splat(instance) : kStatusDone;
        case 4:
            if (method == 1) return boxAverage(instance);
            if (method == 2) return resolve(instance);
            return kStatusUnknownPassOrMode;
        default:
            return kStatusUnknownPassOrMode;
    }
}

template <class Buffer, class Pixel, typename T>
std::uint8_t* MaxDOF<Buffer, Pixel, T>::pixelAt(const QVBitmap& buffer, std::int64_t x,
                                                std::int64_t y) {
    const std::uint64_t index = offset_term(y) * offset_term(buffer.rowPixels) + offset_term(x);
    return host_address(buffer.baseAddr, index * Pixel::kBytesPerPixel);
}

template <class Buffer, class Pixel, typename T>
void MaxDOF<Buffer, Pixel, T>::copyRows(IFXFilterInstance const& instance, const QVRect& rect) {
    const Buffer& src = static_cast<const Buffer&>(*instance.srcBuffer);
    const Buffer& dst = static_cast<const Buffer&>(*instance.dstBuffer);
    if (src.layoutId != dst.layoutId) return;
    const std::size_t rowBytes = std::size_t(rect.width) * Pixel::kBytesPerPixel;
    for (int j = 0; j < rect.height; ++j) {
        const int y = rect.top + j;
        const std::uint8_t* from =
            host_address(src.baseAddr, offset_term(src.dataOffset) +
                                           offset_term(rect.left) * offset_term(src.pixelBytes) +
                                           offset_term(y) * offset_term(src.rowBytes));
        std::uint8_t* to =
            host_address(dst.baseAddr, offset_term(dst.dataOffset) +
                                           offset_term(rect.left) * offset_term(dst.pixelBytes) +
                                           offset_term(y) * offset_term(dst.rowBytes));
        // The host may render a buffer onto itself.
        std::memmove(to, from, rowBytes);
    }
}

template <class Buffer, class Pixel, typename T>
FilterStatus MaxDOF<Buffer, Pixel, T>::allocateRadiusMap(IFXFilterInstance const& instance) {
    // A repeated pass 0 must not strand the map of the first.
    fi_FreeMem(params_->cocMap);
    params_->cocMap = nullptr;
    const QVRect& region = instance.renderRegion;
    if (rect_is_empty(region)) return kStatusDone;
    QVULong bytes;
    if (!region_buffer_bytes(region, 0, 1, &bytes)) return kStatusOutOfMemory;
    params_->cocMap = static_cast<unsigned char*>(fi_AllocMem(bytes, kQVAllocUndefined));
    return params_->cocMap != nullptr ? kStatusDone : kStatusOutOfMemory;
}

// The map holds one byte per pixel of the render region, so that output
// rectangles sharing rows never overwrite each other's radii.
template <class Buffer, class Pixel, typename T>
FilterStatus MaxDOF<Buffer, Pixel, T>::fillRadiusMap(IFXFilterInstance const& instance) {
    const QVRect& region = instance.renderRegion;
    const QVRect rect = clip_to_region(instance.outputRect, region);
    if (rect_is_empty(rect)) return kStatusDone;
    if (params_->cocMap == nullptr) return kStatusOutOfMemory;

    const GBufferChannel* depth = dof::maxdof::channel(instance, kGBufferDepth);
    if (depth == nullptr || params_->radius < kSharpRadius) {
        for (int j = 0; j < rect.height; ++j)
            std::memset(params_->cocMap + region_index(region, rect.left, rect.top + j), 0,
                        std::size_t(rect.width));
        return kStatusDone;
    }
    for (int j = 0; j < rect.height; ++j) {
        const int y = rect.top + j;
        unsigned char* coc = params_->cocMap + region_index(region, rect.left, y);
        GBufferRowWalk walk(*depth, rect.left, y, GBufferRowWalk::kDepthStep);
        for (int i = 0; i < rect.width; ++i, walk.next()) {
            const double r = dof::maxdof::radius_fraction(gbuffer_depth(walk.element()), params_);
            std::int32_t v = round_to_int(255.0 * r);
            if (v < 0) v = 0;
            if (v > 255) v = 255;
            coc[i] = static_cast<unsigned char>(v);
        }
    }
    return kStatusDone;
}

template <class Buffer, class Pixel, typename T>
FilterStatus MaxDOF<Buffer, Pixel, T>::buildSummedAreaTables(IFXFilterInstance const& instance) {
    release_scratch_tables(params_);
    const QVRect& region = instance.renderRegion;
    if (rect_is_empty(region)) return kStatusDone;
    QVULong bytes;
    if (!region_buffer_bytes(region, 1, sizeof(double), &bytes)) return kStatusOutOfMemory;
    // Alpha, then R x A, G x A and B x A in the colour sums.
    double* tables[4];
    for (int t = 0; t < 4; ++t)
        tables[t] = scratch_table(params_, kAlphaTable + t) =
            static_cast<double*>(fi_AllocMem(bytes, kQVAllocUndefined));
    for (double* table : tables)
        if (table == nullptr) return kStatusOutOfMemory;

    const std::size_t stride = std::size_t(region.width) + 1;
    for (double* table : tables)
        for (std::size_t i = 0; i < stride; ++i) table[i] = 0.0;

    const Buffer& src = static_cast<const Buffer&>(*instance.srcBuffer);
    for (int j = 0; j < region.height; ++j) {
        double* above[4];
        double* row[4];
        for (int t = 0; t < 4; ++t) {
            above[t] = tables[t] + std::size_t(j) * stride;
            row[t] = above[t] + stride;
            row[t][0] = 0.0;
        }
        const std::uint8_t* pixel = pixelAt(src, region.left, std::int64_t(region.top) + j);
        for (int i = 0; i < region.width; ++i, pixel += Pixel::kBytesPerPixel) {
            const double A = Pixel::read(pixel, 3);
            const double q[4] = {A, double(Pixel::read(pixel, 0)) * A,
                                 double(Pixel::read(pixel, 1)) * A,
                                 double(Pixel::read(pixel, 2)) * A};
            for (int t = 0; t < 4; ++t)
                row[t][i + 1] = q[t] + row[t][i] + above[t][i + 1] - above[t][i];
        }
    }
    return kStatusDone;
}

template <class Buffer, class Pixel, typename T>
FilterStatus MaxDOF<Buffer, Pixel, T>::allocatePlanes(IFXFilterInstance const& instance) {
    release_scratch_tables(params_);
    const QVRect& region = instance.renderRegion;
    if (rect_is_empty(region)) return kStatusDone;
    QVULong bytes;
    if (!region_buffer_bytes(region, 0, sizeof(double), &bytes)) return kStatusOutOfMemory;
    // All twelve are asked for before any is tested.
    for (int kind : {kOpacitySums, kColourSums, kWeightSums, kTransmits})
        for (int c = 0; c < 3; ++c)
            scratch_table(params_, kind + c) =
                static_cast<double*>(fi_AllocMem(bytes, kQVAllocZeroed));
    if (!dof::maxdof::planes_allocated(params_)) return kStatusOutOfMemory;

    const std::size_t elements = std::size_t(region.width) * std::size_t(region.height);
    for (int c = 0; c < 3; ++c)
        for (std::size_t i = 0; i < elements; ++i) scratch_table(params_, kTransmits + c)[i] = 1.0;
    return kStatusDone;
}

namespace dof::maxdof {

// The channels the splatting reads, chosen once per call.
struct SplatChannels {
    const GBufferChannel* depth;
    const GBufferChannel* colour;
    bool colourWithExponent;
    const GBufferChannel* coverage;
    const GBufferChannel* transparency;
    const GBufferChannel* layerWeight;
    const GBufferChannel* layerRange;  // null when the layer walk is off
};

inline SplatChannels splat_channels(IFXFilterInstance const& instance) {
    SplatChannels ch;
    ch.depth = channel(instance, kGBufferDepth);
    ch.colour = channel(instance, kGBufferColourExponent);
    ch.colourWithExponent = ch.colour != nullptr;
    if (ch.colour == nullptr) ch.colour = channel(instance, kGBufferColour);
    ch.coverage = channel(instance, kGBufferCoverage);
    ch.transparency = channel(instance, kGBufferTransparency);
    ch.layerWeight = channel(instance, kGBufferLayerWeight);
    ch.layerRange = channel(instance, kGBufferLayerRange);
    if (ch.colour == nullptr || ch.layerWeight == nullptr) ch.layerRange = nullptr;
    return ch;
}

}  // namespace dof::maxdof

// The pixels of the rectangle in raster order, each front fragment followed
// by its layers, as the literal walk visits them; the blocked walk applies
// them band by band. The host is asked whether to stop only between bands,
// after whole pixels, and at most once per kAbortPollTicks.
template <class Buffer, class Pixel, typename T>
FilterStatus MaxDOF<Buffer, Pixel, T>::splat(IFXFilterInstance const& instance) {
    const QVRect& region = instance.renderRegion;
    const QVRect rect = clip_to_region(instance.outputRect, region);
    if (rect_is_empty(rect)) return kStatusDone;
    const dof::maxdof::SplatChannels ch = dof::maxdof::splat_channels(instance);
    if (ch.depth == nullptr || params_->radius < kSharpRadius) {
        // Nothing to blur: the source is the result, and pass 4 adds nothing.
        copyRows(instance, rect);
        return kStatusDone;
    }
    if (!dof::maxdof::planes_allocated(params_)) return kStatusOutOfMemory;
    SplatWalk walk(instance, params_);
    if (!walk.start()) return kStatusOutOfMemory;

    const double Rx = dof::maxdof::max_radius_x(instance, params_);
    const double Ry = dof::maxdof::max_radius_y(instance, params_);
    const Buffer& src = static_cast<const Buffer&>(*instance.srcBuffer);
    CheckAbortFunc checkAbort =
        instance.FilterInfo != nullptr ? instance.FilterInfo->CheckAbort : nullptr;
    IFXFilterInstance* host = const_cast<IFXFilterInstance*>(&instance);
    std::clock_t last = std::clock();

    for (int j = 0; j < rect.height; ++j) {
        const int y = rect.top + j;
        GBufferRowWalk depth(*ch.depth, rect.left, y, GBufferRowWalk::kDepthStep);
        GBufferRowWalk coverage, colour, transparency, range;
        if (ch.coverage)
            coverage = GBufferRowWalk(*ch.coverage, rect.left, y, GBufferRowWalk::kByteStep);
        if (ch.colour) colour = GBufferRowWalk(*ch.colour, rect.left, y, GBufferRowWalk::kByteStep);
        if (ch.transparency)
            transparency =
                GBufferRowWalk(*ch.transparency, rect.left, y, GBufferRowWalk::kByteStep);
        if (ch.layerRange)
            range = GBufferRowWalk(*ch.layerRange, rect.left, y, GBufferRowWalk::kRangeStep);
        const std::uint8_t* source = pixelAt(src, rect.left, y);

        for (int i = 0; i < rect.width; ++i, depth.next(), coverage.next(), colour.next(),
                 transparency.next(), range.next(), source += Pixel::kBytesPerPixel) {
            const std::uint8_t coverageByte = ch.coverage ? *coverage.element() : 0;
            if (coverageByte != 0) {
                SplatFragment f;
                f.x = rect.left + i;
                f.y = y;
                gbuffer_opacity(ch.transparency ? transparency.element() : nullptr, f.opacity);
                const double r =
                    dof::maxdof::radius_fraction(gbuffer_depth(depth.element()), params_);
                f.radiusX = Rx * r;
                f.radiusY = Ry * r;
                if (ch.colour) {
                    gbuffer_colour(colour.element(), ch.colourWithExponent, f.colour);
                } else {
                    for (int c = 0; c < 3; ++c)
                        f.colour[c] = Pixel::fraction(Pixel::read(source, c));
                }
                for (double& c : f.coverage) c = byte_fraction(coverageByte);
                if (!walk.add(f)) return kStatusOutOfMemory;
                if (ch.layerRange != nullptr &&
                    !splatLayers(walk, ch, range.element(), f.x, y, Rx, Ry))
                    return kStatusOutOfMemory;
            }
            // No poll after the last pixel: the literal walk polls before each.
            const bool lastPixel = j + 1 == rect.height && i + 1 == rect.width;
            if (walk.endPixel() && !lastPixel) {
                const std::clock_t now = std::clock();
                if (abort_poll_due(last, now) && checkAbort != nullptr) {
                    // The planes keep what was splatted so far; the host knows
                    // of the stop from its own answer.
                    if (checkAbort(host) != 0) return kStatusDone;
                    last = now;
                }
            }
        }
    }
    walk.flush();
    return kStatusDone;
}

// The depth layers of pixel (x, y) that its layer range names, in order.
template <class Buffer, class Pixel, typename T>
bool MaxDOF<Buffer, Pixel, T>::splatLayers(SplatWalk& walk, const dof::maxdof::SplatChannels& ch,
                                           const std::uint8_t* rangeElement, int x, int y,
                                           double Rx, double Ry) {
    std::uint16_t layers[2];
    gbuffer_layer_range(rangeElement, layers);
    for (std::uint32_t k = layers[0]; k < layers[1]; ++k) {
        SplatFragment f;
        f.x = x;
        f.y = y;
        const double rk = dof::maxdof::radius_fraction(
            gbuffer_depth(gbuffer_layer_element(*ch.depth, y, k)), params_);
        f.radiusX = Rx * rk;
        f.radiusY = Ry * rk;
        gbuffer_opacity(ch.transparency ? gbuffer_layer_element(*ch.transparency, y, k) : nullptr,
                        f.opacity);
        gbuffer_colour(gbuffer_layer_element(*ch.colour, y, k), ch.colourWithExponent, f.colour);
        const std::uint8_t* weight = gbuffer_layer_element(*ch.layerWeight, y, k);
        for (int c = 0; c < 3; ++c) f.coverage[c] = byte_fraction(weight[c]);
        if (!walk.add(f)) return false;
    }
    return true;
}
