#include "render/render_input.h"

#include <cmath>

namespace dof {

RenderInput::RenderInput(const Frame& frame)
    : frame_(&frame),
      distance_(&frame.distance),
      window_(frame.parts.front().dataWindow),
      data_(window_) {
    for (int c = 0; c < 3; ++c) colour_[c] = holdsColour_[c] = channel(0, frame.colourChannel[c]);
    alpha_ = channel(0, frame.alphaChannel);
}

RenderInput::RenderInput(const Frame& frame, std::size_t view, const Rect& window,
                         const ChannelAt* colour)
    : frame_(&frame), window_(window) {
    const ViewLayers& v = frame.layers.views[view];
    distance_ = view == 0 ? &frame.distance : &v.distance;
    data_ = frame.parts[std::size_t(v.part)].dataWindow;
    for (int c = 0; c < 3; ++c) {
        holdsColour_[c] = channel(v.part, v.colour[c]);
        colour_[c] = colour ? channel(colour[c].part, colour[c].channel) : holdsColour_[c];
    }
    alpha_ = channel(v.part, v.alpha);
}

RenderInput::Channel RenderInput::channel(int part, int index) const {
    if (index < 0) return Channel();
    const FramePart& p = frame_->parts[std::size_t(part)];
    return Channel{p.values.data() + index, p.channels.size()};
}

long long RenderInput::dataIndex(int x, int y) const {
    const int fx = window_.x + x, fy = window_.y + y;
    return data_.contains(fx, fy) ? (long long)data_.index(fx, fy) : -1;
}

PixelValues RenderInput::valuesOf(const Channel colour[3], int x, int y) const {
    const long long p = dataIndex(x, y);
    PixelValues v;
    for (int c = 0; c < 3; ++c)
        v.colour[c] = p < 0 ? 0.0 : colour[c].values[std::size_t(p) * colour[c].stride];
    v.alpha = !hasAlpha() ? 1.0 : p < 0 ? 0.0 : alpha_.values[std::size_t(p) * alpha_.stride];
    return v;
}

bool RenderInput::holdsAnything(int x, int y) const {
    const PixelValues v = viewColour(x, y);
    if (v.alpha > 0.0) return true;
    // Premultiplied colour without alpha is light that covers nothing; it
    // still spreads. Straight colour under zero alpha means nothing.
    return associated() && (v.colour[0] != 0.0 || v.colour[1] != 0.0 || v.colour[2] != 0.0);
}

double RenderInput::distance(int x, int y) const {
    const long long p = dataIndex(x, y);
    return p < 0 ? NAN : (*distance_)[std::size_t(p)];
}

const PixelFragments& RenderInput::fragments(int x, int y) const {
    static const PixelFragments kNone;
    const long long p = dataIndex(x, y);
    return p < 0 ? kNone : frame_->fragments[std::size_t(p)];
}

RenderedColour storedColour(const RenderInput& input) {
    RenderedColour out;
    const std::size_t count = input.pixelCount();
    for (std::vector<float>& plane : out.colour) plane.resize(count);
    if (input.hasAlpha()) out.alpha.resize(count);
    std::size_t p = 0;
    for (int y = 0; y < input.height(); ++y)
        for (int x = 0; x < input.width(); ++x, ++p) {
            const PixelValues v = input.stored(x, y);
            for (int c = 0; c < 3; ++c) out.colour[c][p] = float(v.colour[c]);
            if (input.hasAlpha()) out.alpha[p] = float(v.alpha);
        }
    return out;
}

}  // namespace dof
