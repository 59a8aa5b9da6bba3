// What of a loaded flat frame is blurred and what is kept sharp: every view's
// colour with its own depth, colour layers (AOVs) with the fragments of their
// view's colour, and every other channel (depth, normals, positions, motion,
// IDs, masks, and anything not named as colour) as it is.
//
// Channels are named as OpenEXR names them: `layer.channel`, in a multi-view
// part `view.channel` or `layer.view.channel` (unprefixed channels belong to
// the part's first view), in a multi-part file by the part's `view`
// attribute. A colour layer is a layer with channels R, G and B (or r, g, b),
// optionally A (or a), whose name is not that of a data pass.
#pragma once

#include <string>
#include <vector>

#include "model/frame.h"

namespace dof {

// A channel of the frame: part 0 is the frame's own image, part k its
// otherParts[k - 1].
struct ChannelAt {
    int part = 0;
    int channel = 0;
};

struct ViewLayers {
    std::string name;  // empty in a file without views
    int part = 0;      // the part that holds the view's colour
    int colour[3] = {0, 0, 0};
    int alpha = -1;  // -1: opaque
    // Other views: camera distances over their part's data window (the
    // first view's are the frame's own).
    std::vector<double> distance;
    // Channels of colour layers rendered with this view's fragments (R, G, B
    // and their own alpha), in parts with the window of the view's part.
    std::vector<ChannelAt> layerChannels;
};

struct FrameLayers {
    std::vector<ViewLayers> views;       // the first is the frame's own colour
    std::vector<std::string> blurred;    // views and colour layers, by name
    std::vector<std::string> keptSharp;  // channels, `part/channel` in a multi-part file
    bool keptSharpBesidesDepth = false;  // more than the views' depth channels
};

// Whether a layer's name says it holds data rather than light (normals,
// positions, depth, motion, texture coordinates, IDs, cryptomattes).
bool isDataLayer(const std::string& layer);

// Sorts the channels of a flat frame; other views find their depth as the
// first view does (`depthChannel`, else Z, else depth.Z, named for the view),
// in the view's part or another part of the view. A view without a depth of
// its own is kept sharp.
FrameLayers describeLayers(const Frame& frame, const std::string& depthChannel,
                           DepthConvention convention);

// A part's name (its `name` attribute, else "part N").
std::string partName(const OIIO::ImageSpec& imageSpec, int part);

// The description and pixels of a part of the frame.
const OIIO::ImageSpec& partSpec(const Frame& frame, int part);
std::vector<float>& partPixels(Frame& frame, int part);

}  // namespace dof
