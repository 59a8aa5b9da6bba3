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

#include "model/depth_conventions.h"

namespace dof {

struct Frame;
struct FramePart;

// A channel of the frame, in one of its parts (0 is its own image).
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
    // and their own alpha), in parts with the windows of the view's part.
    std::vector<ChannelAt> layerChannels;
};

struct ChannelLayers {
    std::vector<ViewLayers> views;       // the first is the frame's own colour
    std::vector<std::string> blurred;    // views and colour layers, by name
    std::vector<std::string> keptSharp;  // channels, `part/channel` in a multi-part file
    bool keptSharpBesidesDepth = false;  // more than the views' depth channels
};

// Whether a layer's name says it holds data rather than light (normals,
// positions, depth, motion, texture coordinates, IDs, cryptomattes).
bool isDataLayer(const std::string& layer);

// Sorts the channels of a frame's parts, its own colour and alpha the first
// view's; other views find their depth as the first view does
// (`depthChannel`, else Z, else depth.Z, named for the view), in the view's
// part or another part of the view, read in `convention`. A view without a
// depth of its own is kept sharp.
ChannelLayers describeChannelLayers(const Frame& frame, const std::string& depthChannel,
                                    DepthConvention convention);

// The view a channel `name` of `part` belongs to: the view its name holds
// before its last name, else the part's own (empty outside multi-view files).
std::string channelView(const FramePart& part, const std::string& name);

// Leaves in `layers`' kept-sharp channels only those `written` marks (by
// part and channel), the ones an output holds.
void keepWrittenOnly(const Frame& frame, const std::string& depthChannel,
                     const std::vector<std::vector<bool>>& written, ChannelLayers* layers);

// A part's name (its own, else "part N" for part `index`).
std::string partName(const FramePart& part, int index);

}  // namespace dof
