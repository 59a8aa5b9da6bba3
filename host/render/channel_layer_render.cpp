#include "render/channel_layer_render.h"

#include <algorithm>
#include <cmath>

namespace dof {

namespace {

// A frame of R, G, B, A over the window of `view`'s part: colour from
// `colour` (each a channel of the frame), alpha and depths the view's.
Frame colourFrame(Frame& frame, const ViewLayers& view, bool firstView, const ChannelAt colour[3]) {
    const OIIO::ImageSpec& part = partSpec(frame, view.part);
    Frame work;
    work.path = frame.path;
    work.fileFormat = frame.fileFormat;
    work.imageSpec = OIIO::ImageSpec(part.width, part.height, 4, OIIO::TypeDesc::FLOAT);
    work.imageSpec.x = part.x;
    work.imageSpec.y = part.y;
    work.imageSpec.full_x = part.full_x;
    work.imageSpec.full_y = part.full_y;
    work.imageSpec.full_width = part.full_width;
    work.imageSpec.full_height = part.full_height;
    for (int c = 0; c < 3; ++c) work.colourChannel[c] = c;
    work.alphaChannel = view.alpha >= 0 ? 3 : -1;
    work.associated = frame.associated;
    work.pixelAspect = frame.pixelAspect;
    work.distance = firstView ? frame.distance : view.distance;
    const std::size_t stride = std::size_t(part.nchannels);
    work.pixels.assign(work.pixelCount() * 4, 0.0f);
    // One value that is not a number would spread over the frame: such
    // values become 0 in the frame itself, so that each is counted once.
    const auto finite = [&](float& value) {
        if (std::isfinite(value)) return value;
        ++frame.nonFiniteValues;
        return value = 0.0f;
    };
    for (std::size_t p = 0; p < work.pixelCount(); ++p) {
        for (int c = 0; c < 3; ++c) {
            const ChannelAt& at = colour[c];
            const std::size_t n = std::size_t(partSpec(frame, at.part).nchannels);
            work.pixels[p * 4 + std::size_t(c)] =
                finite(partPixels(frame, at.part)[p * n + std::size_t(at.channel)]);
        }
        if (view.alpha >= 0)
            work.pixels[p * 4 + 3] =
                finite(partPixels(frame, view.part)[p * stride + std::size_t(view.alpha)]);
    }
    return work;
}

// Which pixels of `view` hold anything, as its colour and alpha say.
std::vector<std::uint8_t> viewHolds(Frame& frame, const ViewLayers& view) {
    const OIIO::ImageSpec& part = partSpec(frame, view.part);
    const std::vector<float>& own = partPixels(frame, view.part);
    const std::size_t stride = std::size_t(part.nchannels);
    std::vector<std::uint8_t> holds(std::size_t(part.width) * std::size_t(part.height), 1);
    if (view.alpha < 0) return holds;
    for (std::size_t p = 0; p < holds.size(); ++p) {
        const float* px = &own[p * stride];
        // Premultiplied colour under zero alpha is light; straight is nothing.
        const bool lit =
            frame.associated && (px[view.colour[0]] != 0.0f || px[view.colour[1]] != 0.0f ||
                                 px[view.colour[2]] != 0.0f);
        holds[p] = px[view.alpha] > 0.0f || lit;
    }
    return holds;
}

void storeColour(Frame& frame, const Frame& work, const ChannelAt colour[3], int count) {
    for (int c = 0; c < count; ++c) {
        std::vector<float>& pixels = partPixels(frame, colour[c].part);
        const std::size_t stride = std::size_t(partSpec(frame, colour[c].part).nchannels);
        for (std::size_t p = 0; p < work.pixelCount(); ++p)
            pixels[p * stride + std::size_t(colour[c].channel)] =
                work.pixels[p * 4 + std::size_t(c)];
    }
}

}  // namespace

RenderOutcome renderOtherColour(Frame* frame, const FrameLayers& layers, const ColourRender& render,
                                std::string* error) {
    for (std::size_t v = 0; v < layers.views.size(); ++v) {
        const ViewLayers& view = layers.views[v];
        // Three channels of the view's layers at a time, the last three
        // repeating the last channel where fewer are left.
        const std::vector<ChannelAt>& channels = view.layerChannels;
        const std::vector<std::uint8_t> holds =
            channels.empty() ? std::vector<std::uint8_t>() : viewHolds(*frame, view);
        for (std::size_t first = 0; first < channels.size(); first += 3) {
            const int count = int(std::min<std::size_t>(3, channels.size() - first));
            ChannelAt colour[3];
            for (int c = 0; c < 3; ++c)
                colour[c] = channels[first + std::size_t(std::min(c, count - 1))];
            Frame work = colourFrame(*frame, view, v == 0, colour);
            work.holdsAnything = holds;
            const RenderOutcome outcome = render(&work, error);
            if (outcome != RenderOutcome::Done) return outcome;
            storeColour(*frame, work, colour, count);
        }
        if (v == 0) continue;
        ChannelAt colour[3];
        for (int c = 0; c < 3; ++c) colour[c] = ChannelAt{view.part, view.colour[c]};
        Frame work = colourFrame(*frame, view, false, colour);
        const RenderOutcome outcome = render(&work, error);
        if (outcome != RenderOutcome::Done) return outcome;
        storeColour(*frame, work, colour, 3);
        if (view.alpha >= 0) {
            std::vector<float>& pixels = partPixels(*frame, view.part);
            const std::size_t stride = std::size_t(partSpec(*frame, view.part).nchannels);
            for (std::size_t p = 0; p < work.pixelCount(); ++p)
                pixels[p * stride + std::size_t(view.alpha)] = work.pixels[p * 4 + 3];
        }
    }
    return RenderOutcome::Done;
}

void growRenderedParts(Frame* frame, FrameLayers* layers, int padX, int padY,
                       DepthConvention convention) {
    std::vector<bool> rendered(1 + frame->otherParts.size(), false);
    for (const ViewLayers& view : layers->views) {
        rendered[std::size_t(view.part)] = true;
        for (const ChannelAt& at : view.layerChannels) rendered[std::size_t(at.part)] = true;
    }
    std::vector<OIIO::ImageSpec> before;
    for (std::size_t part = 0; part < rendered.size(); ++part)
        before.push_back(partSpec(*frame, int(part)));
    growDataWindow(frame, padX, padY, convention);
    for (std::size_t part = 1; part < rendered.size(); ++part) {
        if (!rendered[part]) continue;
        ImagePart& own = frame->otherParts[part - 1];
        const OIIO::ImageSpec grown = grownWindow(own.imageSpec, padX, padY);
        own.pixels = onWindow(own.pixels, own.imageSpec.nchannels, own.imageSpec, grown, 0.0f);
        own.imageSpec = grown;
    }
    for (std::size_t v = 1; v < layers->views.size(); ++v) {
        ViewLayers& view = layers->views[v];
        const std::size_t part = std::size_t(view.part);
        view.distance =
            onWindow(view.distance, 1, before[part], partSpec(*frame, view.part), double(NAN));
    }
}

}  // namespace dof
