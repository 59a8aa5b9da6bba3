// What one render of the effect reads from a frame: the colour and alpha of
// a view (or of a colour layer, rendered with its view's fragments), which
// pixels hold anything, and the depths they lie at, over the window the
// render writes. That window may reach beyond the data window of the view's
// part: there every value is 0 and nothing is hit. The input reads the frame
// where it lies and copies nothing.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "model/frame.h"

namespace dof {

// A pixel's colour and alpha as stored (alpha 1 without an alpha channel).
struct PixelValues {
    double colour[3];
    double alpha;
};

class RenderInput {
public:
    // The frame's own colour over its first part's data window.
    explicit RenderInput(const Frame& frame);
    // The colour of view `view` of the frame (an index into its channel layers'
    // views) over `window`, or, where `colour` is given, those three channels
    // (in parts with the windows of the view's part) with the view's alpha,
    // depths and pixels that hold anything.
    RenderInput(const Frame& frame, std::size_t view, const Rect& window,
                const ChannelAt* colour = nullptr);

    const std::string& path() const { return frame_->path; }
    const Rect& window() const { return window_; }
    int width() const { return window_.width; }
    int height() const { return window_.height; }
    std::size_t pixelCount() const { return window_.pixels(); }
    bool deep() const { return frame_->deep; }
    bool associated() const { return frame_->associated; }
    bool hasAlpha() const { return alpha_.values != nullptr; }

    // Pixel (x, y) of the window, (0, 0) its corner.
    PixelValues stored(int x, int y) const { return valuesOf(colour_, x, y); }
    // The same pixel of the view's own colour: for a colour layer, what
    // decides how every layer of the view is cut, so that layers which sum
    // to the view's colour still do once blurred.
    PixelValues viewColour(int x, int y) const { return valuesOf(holdsColour_, x, y); }
    // Whether the pixel holds anything: alpha, or light under zero alpha in
    // premultiplied colour (the view's own colour and alpha, for a colour layer).
    bool holdsAnything(int x, int y) const;
    // The camera distance of a flat pixel; NaN beyond the data window.
    double distance(int x, int y) const;
    // The fragments of a deep pixel; none beyond the data window.
    const PixelFragments& fragments(int x, int y) const;

private:
    struct Channel {
        const float* values = nullptr;  // null: no such channel
        std::size_t stride = 0;         // values per pixel
    };
    Channel channel(int part, int index) const;
    // The index of a window pixel in the data window, or -1 beyond it.
    long long dataIndex(int x, int y) const;
    PixelValues valuesOf(const Channel colour[3], int x, int y) const;

    const Frame* frame_;
    const std::vector<double>* distance_;
    Rect window_, data_;
    Channel colour_[3], holdsColour_[3], alpha_;
};

// What one render gives its input's window: colour and alpha planes, row
// by row, in the input's association; alpha only where the input has it.
struct RenderedColour {
    std::vector<float> colour[3];
    std::vector<float> alpha;
};

// The input's values as stored, for a render to change where it blurs.
RenderedColour storedColour(const RenderInput& input);

}  // namespace dof
