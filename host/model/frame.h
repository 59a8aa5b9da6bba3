// One frame read from disk into what the render needs: the flat image the
// output is written from, and the depth of every pixel (flat inputs) or the
// fragments of every pixel (deep inputs), as camera distances.
#pragma once

#include <OpenImageIO/imageio.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/deep_fragments.h"
#include "model/depth_conventions.h"

namespace dof {

struct LoadOptions {
    std::string depthFile;     // separate depth image; empty = a channel of the input
    std::string depthChannel;  // channel name to use; empty = Z, then depth.Z
    DepthConvention convention = DepthConvention::Distance;
    double noHitAbove = 1e9;
};

// A part of a multi-part file besides the first, as stored.
struct ImagePart {
    OIIO::ImageSpec imageSpec;
    std::vector<float> pixels;  // imageSpec.nchannels per pixel, data window, row by row
};

struct Frame {
    std::string path;
    std::string fileFormat;  // the reader's name for the file type
    bool deep = false;
    // The flat image the output is written from: the input's channels, data
    // types, windows and metadata (a deep input's flattened R, G, B, A and
    // depth), values as stored in the file.
    OIIO::ImageSpec imageSpec;
    std::vector<float> pixels;  // imageSpec.nchannels per pixel, data window, row by row
    int colourChannel[3] = {-1, -1, -1};
    int alphaChannel = -1;     // -1: no alpha, every pixel opaque
    bool associated = true;    // colour stored premultiplied by alpha
    double pixelAspect = 1.0;  // from the file's metadata
    // Colour and alpha values that were NaN or infinite and are held as 0.
    std::size_t nonFiniteValues = 0;
    // Flat inputs: the camera distance of each pixel (NaN, infinite, zero or
    // negative where nothing was hit).
    std::vector<double> distance;
    // Deep inputs: each pixel's fragments, merged to what the effect carries.
    std::vector<PixelFragments> fragments;
    // The other flat parts of a multi-part file, in the file's order, and the
    // names of deep ones, which are not carried over.
    std::vector<ImagePart> otherParts;
    std::vector<std::string> deepPartsLeftOut;
    // Whether each pixel holds anything, when colour other than the pixel's
    // own is rendered with its fragments; empty: decided from the frame's
    // colour and alpha.
    std::vector<std::uint8_t> holdsAnything;

    int width() const { return imageSpec.width; }
    int height() const { return imageSpec.height; }
    std::size_t pixelCount() const {
        return std::size_t(imageSpec.width) * std::size_t(imageSpec.height);
    }
    float value(std::size_t pixel, int channel) const {
        return pixels[pixel * std::size_t(imageSpec.nchannels) + std::size_t(channel)];
    }
    // The distance that stands for a pixel: its depth, or for a deep pixel
    // that of its heaviest fragment; NaN where it holds nothing.
    double pixelDistance(std::size_t pixel) const;
};

// The most pixels a frame may have. The effect keeps tables of 8-byte
// elements per pixel in single allocations of at most 4 GB, so a larger frame
// could never render; it is refused before its pixels are read.
constexpr std::uint64_t kMaxFramePixels = std::uint64_t(1) << 29;

// Reads `path` (and the separate depth image). False with a one-line `error`
// that names the file: missing, not a regular file, unreadable, corrupt or
// truncated, larger than kMaxFramePixels, no depth channel, a depth image of
// another size. NaN and infinite colour and alpha are read as 0 and counted.
bool loadFrame(const std::string& path, const LoadOptions& options, Frame* frame,
               std::string* error);

// Grows the data window by up to the given pixels on each side, but not
// beyond the display window (nor does it shrink a data window already beyond
// it), so that blur spreading out of the rendered pixels is not cut off. New
// pixels are empty: every channel 0 (a deep input's depth channel says "far"),
// no depth hit, no fragments.
void growDataWindow(Frame* frame, int padX, int padY, DepthConvention convention);

// The description `old` with its data window grown as growDataWindow grows it.
OIIO::ImageSpec grownWindow(const OIIO::ImageSpec& old, int padX, int padY);

// Values laid out over the window of `from` (channels per pixel), placed on
// the window of `to`; pixels outside `from` get `fill`.
template <typename T>
std::vector<T> onWindow(const std::vector<T>& values, int channels, const OIIO::ImageSpec& from,
                        const OIIO::ImageSpec& to, T fill) {
    const std::size_t n = std::size_t(channels);
    std::vector<T> placed(std::size_t(to.width) * std::size_t(to.height) * n, fill);
    for (int y = 0; y < to.height; ++y) {
        const int sy = to.y + y - from.y;
        if (sy < 0 || sy >= from.height) continue;
        for (int x = 0; x < to.width; ++x) {
            const int sx = to.x + x - from.x;
            if (sx < 0 || sx >= from.width) continue;
            const std::size_t s = (std::size_t(sy) * std::size_t(from.width) + std::size_t(sx)) * n;
            const std::size_t d = (std::size_t(y) * std::size_t(to.width) + std::size_t(x)) * n;
            for (std::size_t c = 0; c < n; ++c) placed[d + c] = values[s + c];
        }
    }
    return placed;
}

// The most fragments a deep pixel keeps: a row of layers holds at most 65535
// elements, shared by the pixels of the row.
std::size_t maxFragmentsForWidth(int width);

}  // namespace dof
