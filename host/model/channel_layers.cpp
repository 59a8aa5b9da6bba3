#include "model/channel_layers.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>

#include "model/frame.h"

namespace dof {

namespace {

struct ChannelName {
    std::string view, layer, base;
};

std::vector<std::string> split(const std::string& name) {
    std::vector<std::string> parts(1);
    for (char c : name) {
        if (c == '.')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

std::string join(const std::vector<std::string>& parts, std::size_t count) {
    std::string joined;
    for (std::size_t i = 0; i < count; ++i) joined += (i ? "." : "") + parts[i];
    return joined;
}

// The view a part's unprefixed channels belong to: the part's own `view`
// (a part of a multi-part file, whatever `multiView` its header also
// carries), else the first of its `multiView`.
std::string defaultView(const FramePart& part) {
    if (!part.view.empty() || part.views.empty()) return part.view;
    return part.views.front();
}

// The view, layer and last name of a channel in a part listing `views`
// (empty outside multi-view parts) whose unprefixed channels belong to
// `partView`.
ChannelName parse(const std::string& name, const std::vector<std::string>& views,
                  const std::string& partView) {
    const std::vector<std::string> parts = split(name);
    const std::size_t n = parts.size();
    ChannelName parsed{partView, join(parts, n - 1), parts.back()};
    if (n >= 2 && std::find(views.begin(), views.end(), parts[n - 2]) != views.end()) {
        parsed.view = parts[n - 2];
        parsed.layer = join(parts, n - 2);
    }
    return parsed;
}

std::string lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The channels of one layer of one view in one part, by last name.
struct LayerChannels {
    int part = 0;
    std::string view, layer;
    std::map<std::string, int> byName;
    int find(const char* upper, const char* lowerCase) const {
        for (const char* name : {upper, lowerCase}) {
            const auto it = byName.find(name);
            if (it != byName.end()) return it->second;
        }
        return -1;
    }
    bool hasColour() const {
        return find("R", "r") >= 0 && find("G", "g") >= 0 && find("B", "b") >= 0;
    }
};

// The layer and last name of a depth channel: the one asked for, else Z,
// else depth.Z.
std::vector<std::pair<std::string, std::string>> depthLayerNames(const std::string& asked) {
    if (asked.empty()) return {{"", "Z"}, {"depth", "Z"}};
    const std::vector<std::string> parts = split(asked);
    return {{join(parts, parts.size() - 1), parts.back()}};
}

// A view's depth: the asked name (else Z, else depth.Z) as a layer and a last
// name, in the view's layers of its own part first.
const LayerChannels* depthOf(const std::vector<LayerChannels>& layers, const ViewLayers& view,
                             const std::string& asked, int* channel) {
    const std::vector<std::pair<std::string, std::string>> names = depthLayerNames(asked);
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& name : names)
            for (const LayerChannels& l : layers) {
                if ((l.part == view.part) != (pass == 0) || l.view != view.name ||
                    l.layer != name.first)
                    continue;
                const auto it = l.byName.find(name.second);
                if (it == l.byName.end()) continue;
                *channel = it->second;
                return &l;
            }
    return nullptr;
}

// Parts whose windows match pixel for pixel, and so grow alike.
bool sameWindows(const FramePart& a, const FramePart& b) {
    return a.dataWindow == b.dataWindow && a.displayWindow == b.displayWindow;
}

// The frame's channels by part, view and channel layer.
std::vector<LayerChannels> layersOf(const Frame& frame) {
    const int partCount = int(frame.parts.size());
    std::vector<LayerChannels> layers;
    for (int part = 0; part < partCount; ++part) {
        const FramePart& own = frame.parts[std::size_t(part)];
        for (int c = 0; c < own.channelCount(); ++c) {
            const ChannelName name = parse(own.channels[std::size_t(c)], own.views, defaultView(own));
            auto it = std::find_if(layers.begin(), layers.end(), [&](const LayerChannels& l) {
                return l.part == part && l.view == name.view && l.layer == name.layer;
            });
            if (it == layers.end())
                it = layers.insert(layers.end(), LayerChannels{part, name.view, name.layer, {}});
            it->byName[name.base] = c;
        }
    }
    return layers;
}

// The views, each with its colour and depth: the frame's own colour is the
// first view; other views' colour is a layer of their own with R, G and B.
// Marks the layers that are a view's colour in `used`.
void addViews(const Frame& frame, const std::vector<LayerChannels>& layers,
              const std::string& depthChannel, DepthConvention convention,
              std::vector<bool>* usedLayers, ChannelLayers* out) {
    std::vector<bool>& used = *usedLayers;
    ChannelLayers& result = *out;
    ViewLayers first;
    const FramePart& image = frame.parts.front();
    first.name = defaultView(image);
    for (int c = 0; c < 3; ++c) first.colour[c] = frame.colourChannel[c];
    first.alpha = frame.alphaChannel;
    result.views.push_back(first);
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const LayerChannels& l = layers[i];
        if (!l.layer.empty() || !l.hasColour()) continue;
        if (l.part == 0 && l.view == first.name) {
            used[i] = true;
            continue;
        }
        const bool known = std::any_of(result.views.begin(), result.views.end(),
                                       [&](const ViewLayers& v) { return v.name == l.view; });
        if (known) continue;
        ViewLayers view;
        view.name = l.view;
        view.part = l.part;
        view.colour[0] = l.find("R", "r");
        view.colour[1] = l.find("G", "g");
        view.colour[2] = l.find("B", "b");
        view.alpha = l.find("A", "a");
        int channel = -1;
        const LayerChannels* depth = depthOf(layers, view, depthChannel, &channel);
        if (depth == nullptr) continue;  // no depth of its own: kept sharp
        const FramePart& from = frame.parts[std::size_t(depth->part)];
        std::vector<double> stored(from.dataWindow.pixels());
        for (std::size_t p = 0; p < stored.size(); ++p) stored[p] = from.value(p, channel);
        view.distance = onWindow(stored, 1, from.dataWindow,
                                 frame.parts[std::size_t(view.part)].dataWindow, double(NAN));
        for (double& d : view.distance) d = cameraDistance(d, convention);
        used[i] = true;
        result.views.push_back(std::move(view));
    }
}

// Colour layers go with the view they belong to, where their part has the
// window of the view's colour.
void addColourLayers(const Frame& frame, const std::vector<LayerChannels>& layers,
                     const std::vector<bool>& used,
                     std::vector<std::vector<bool>>* blurredChannels, ChannelLayers* out) {
    std::vector<std::vector<bool>>& blurredChannel = *blurredChannels;
    ChannelLayers& result = *out;
    const std::string& firstName = result.views.front().name;
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const LayerChannels& l = layers[i];
        // A part of its own with R, G and B is a colour layer named by the part.
        const std::string layer = l.layer.empty() && l.part != 0
                                      ? partName(frame.parts[std::size_t(l.part)], l.part)
                                      : l.layer;
        if (used[i] || layer.empty() || !l.hasColour() || isDataLayer(layer)) continue;
        for (ViewLayers& view : result.views) {
            if (view.name != l.view ||
                !sameWindows(frame.parts[std::size_t(l.part)], frame.parts[std::size_t(view.part)]))
                continue;
            for (int c : {l.find("R", "r"), l.find("G", "g"), l.find("B", "b"), l.find("A", "a")})
                if (c >= 0) {
                    view.layerChannels.push_back({l.part, c});
                    blurredChannel[std::size_t(l.part)][std::size_t(c)] = true;
                }
            result.blurred.push_back(
                l.view.empty() || l.view == firstName ? layer : layer + " (" + l.view + ")");
            break;
        }
    }
}

// A channel's name in the list of those kept sharp.
std::string keptSharpName(const Frame& frame, int part, int channel) {
    const FramePart& own = frame.parts[std::size_t(part)];
    const std::string& name = own.channels[std::size_t(channel)];
    return frame.parts.size() == 1 ? name : partName(own, part) + "/" + name;
}

// Every channel `kept` marks, by part, and whether any is not a depth.
void addKeptSharp(const Frame& frame, const std::string& depthChannel,
                  const std::vector<std::vector<bool>>& kept, ChannelLayers* out) {
    const int partCount = int(frame.parts.size());
    ChannelLayers& result = *out;
    result.keptSharp.clear();
    result.keptSharpBesidesDepth = false;
    const std::vector<std::pair<std::string, std::string>> depthNames =
        depthLayerNames(depthChannel);
    for (int part = 0; part < partCount; ++part) {
        const FramePart& own = frame.parts[std::size_t(part)];
        for (int c = 0; c < own.channelCount(); ++c) {
            if (!kept[std::size_t(part)][std::size_t(c)]) continue;
            const std::string& channel = own.channels[std::size_t(c)];
            result.keptSharp.push_back(keptSharpName(frame, part, c));
            const ChannelName name = parse(channel, own.views, defaultView(own));
            if (std::find(depthNames.begin(), depthNames.end(),
                          std::make_pair(name.layer, name.base)) == depthNames.end())
                result.keptSharpBesidesDepth = true;
        }
    }
}

}  // namespace

bool isDataLayer(const std::string& layer) {
    const std::vector<std::string> parts = split(lower(layer));
    const std::string& name = parts.back();
    static const char* const kData[] = {
        "n",         "p",        "z",      "pref",         "pw",
        "pworld",    "pz",       "depth",  "zdepth",       "normal",
        "normals",   "nw",       "nn",     "position",     "uv",
        "st",        "mv",       "motion", "motionvector", "motionvectors",
        "vel",       "velocity", "vector", "forward",      "backward",
        "disparity", "id"};
    for (const char* data : kData)
        if (name == data) return true;
    const auto endsWith = [&](const std::string& tail) {
        return name.size() >= tail.size() &&
               name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    return name.rfind("crypto", 0) == 0 || endsWith("id") || endsWith("ids");
}

std::string partName(const FramePart& part, int index) {
    return part.name.empty() ? "part " + std::to_string(index) : part.name;
}

ChannelLayers describeChannelLayers(const Frame& frame, const std::string& depthChannel,
                                    DepthConvention convention) {
    ChannelLayers result;
    const std::vector<LayerChannels> layers = layersOf(frame);
    std::vector<bool> used(layers.size(), false);
    addViews(frame, layers, depthChannel, convention, &used, &result);
    std::vector<std::vector<bool>> blurredChannel;
    for (const FramePart& part : frame.parts)
        blurredChannel.emplace_back(std::size_t(part.channelCount()), false);
    for (ViewLayers& view : result.views) {
        std::vector<bool>& own = blurredChannel[std::size_t(view.part)];
        for (int c : view.colour) own[std::size_t(c)] = true;
        if (view.alpha >= 0) own[std::size_t(view.alpha)] = true;
        result.blurred.push_back(view.name.empty() ? "colour" : view.name);
    }
    addColourLayers(frame, layers, used, &blurredChannel, &result);
    for (std::vector<bool>& part : blurredChannel) part.flip();
    addKeptSharp(frame, depthChannel, blurredChannel, &result);
    return result;
}

std::string channelView(const FramePart& part, const std::string& name) {
    return parse(name, part.views, defaultView(part)).view;
}

void keepWrittenOnly(const Frame& frame, const std::string& depthChannel,
                     const std::vector<std::vector<bool>>& written, ChannelLayers* layers) {
    std::vector<std::vector<bool>> kept;
    for (std::size_t part = 0; part < frame.parts.size(); ++part) {
        kept.emplace_back(std::size_t(frame.parts[part].channelCount()), false);
        for (int c = 0; c < frame.parts[part].channelCount(); ++c) {
            const std::string name = keptSharpName(frame, int(part), c);
            kept[part][std::size_t(c)] =
                written[part][std::size_t(c)] &&
                std::find(layers->keptSharp.begin(), layers->keptSharp.end(), name) !=
                    layers->keptSharp.end();
        }
    }
    addKeptSharp(frame, depthChannel, kept, layers);
}

}  // namespace dof
