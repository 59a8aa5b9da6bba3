// A frame as a renderer wrote it, in memory: the parts of its image, the
// camera distance of every pixel (flat frames) or the fragments of every
// pixel (deep frames), which channels hold colour, and what its views and
// colour layers are. Reading a file makes it, and nothing after changes it:
// a render's plan and its result are products of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/channel_layers.h"
#include "model/deep_fragments.h"
#include "model/depth_conventions.h"
#include "model/lens.h"
#include "model/rect.h"

namespace dof {

// One image of the frame: a part of a multi-part file, or the whole of any
// other file (a deep file's flattened R, G, B, A and depth).
struct FramePart {
    std::string name;                   // empty when the file names none
    std::string view;                   // the view it belongs to; empty when none
    std::vector<std::string> views;     // a multi-view part's views, the first unprefixed
    Rect dataWindow;                    // the pixels it holds values for
    Rect displayWindow;                 // the picture the frame shows
    std::vector<std::string> channels;  // in the file's order
    // Every channel of each pixel of the data window, row by row, as stored.
    std::vector<float> values;

    int channelCount() const { return int(channels.size()); }
    float value(std::size_t pixel, int channel) const {
        return values[pixel * channels.size() + std::size_t(channel)];
    }
};

struct Frame {
    std::string path;
    bool deep = false;
    std::vector<FramePart> parts;  // the first is the frame's own image
    // The names of a multi-part file's deep parts, which are not carried over.
    std::vector<std::string> deepPartsLeftOut;
    int colourChannel[3] = {-1, -1, -1};  // of the first part
    int alphaChannel = -1;                // -1: no alpha, every pixel opaque
    bool associated = true;               // colour stored premultiplied by alpha
    double pixelAspect = 1.0;             // from the file's metadata
    // 8 or 16 where the file stores the first part in integers of that
    // size, 0 where it stores other types.
    int integerBits = 0;
    LensSpec lens;  // what the file's metadata tells of the camera
    // The camera's focus distance in metres, as OpenEXR's standard "focus"
    // attribute gives it; 0 when the file has none.
    double focusMetres = 0.0;
    // Values of blurred channels that were NaN or infinite and are held as 0.
    std::size_t nonFiniteValues = 0;
    // Flat frames: the camera distance of each pixel of the first part's data
    // window (NaN, infinite, zero or negative where nothing was hit).
    std::vector<double> distance;
    // Camera distances at or above this hit nothing, as the frame was read.
    double noHitAbove = kNoHitAbove;
    // Deep frames: each pixel's fragments, merged to what the effect carries.
    std::vector<PixelFragments> fragments;
    // Its views, colour layers and data channels.
    ChannelLayers layers;

    int width() const { return parts.front().dataWindow.width; }
    int height() const { return parts.front().dataWindow.height; }
    std::size_t pixelCount() const { return parts.front().dataWindow.pixels(); }
    float value(std::size_t pixel, int channel) const {
        return parts.front().value(pixel, channel);
    }
    // The distance that stands for a pixel: its depth, or for a deep pixel
    // that of its heaviest fragment; NaN where it holds nothing.
    double pixelDistance(std::size_t pixel) const;
};

// The most pixels a frame may have. The effect keeps tables of 8-byte
// elements per pixel in single allocations of at most 4 GB, so a larger frame
// could never render; it is refused before its pixels are read.
constexpr std::uint64_t kMaxFramePixels = std::uint64_t(1) << 29;

// Values laid out over `from` (channels per pixel), placed on `to`; pixels
// outside `from` get `fill`.
template <typename T>
std::vector<T> onWindow(const std::vector<T>& values, int channels, const Rect& from,
                        const Rect& to, T fill) {
    const std::size_t n = std::size_t(channels);
    std::vector<T> placed(to.pixels() * n, fill);
    for (int y = to.y; y < to.yend(); ++y)
        for (int x = to.x; x < to.xend(); ++x) {
            if (!from.contains(x, y)) continue;
            const std::size_t s = from.index(x, y) * n, d = to.index(x, y) * n;
            for (std::size_t c = 0; c < n; ++c) placed[d + c] = values[s + c];
        }
    return placed;
}

}  // namespace dof
