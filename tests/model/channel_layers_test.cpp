// Which channels of a frame are views, colour layers (AOVs) or data kept
// sharp, by their names.
#include "model/channel_layers.h"

#include <gtest/gtest.h>

#include "model/frame.h"

namespace {

TEST(ChannelLayers, DataLayersByName) {
    const struct {
        const char* layer;
        bool data;
    } cases[] = {{"N", true},          {"P", true},          {"Pworld", true},
                 {"depth", true},      {"motionVector", true}, {"uv", true},
                 {"objectId", true},   {"matteIDs", true},   {"CryptoObject00", true},
                 {"diffuse", false},   {"specular", false},  {"beauty.left", false},
                 {"light.key", false}, {"idle", false},      {"lighting.N", true}};
    for (const auto& c : cases) EXPECT_EQ(dof::isDataLayer(c.layer), c.data) << c.layer;
}

// A frame of one 1x1 part with these channels, colour and alpha the first four.
dof::Frame frameOf(const std::vector<std::string>& channels,
                   const std::vector<std::string>& views = {}) {
    dof::Frame frame;
    dof::FramePart part;
    part.views = views;
    part.dataWindow = part.displayWindow = dof::Rect{0, 0, 1, 1};
    part.channels = channels;
    part.values.assign(channels.size(), 1.0f);
    frame.parts.push_back(part);
    frame.colourChannel[0] = 0, frame.colourChannel[1] = 1, frame.colourChannel[2] = 2;
    frame.alphaChannel = 3;
    return frame;
}

TEST(ChannelLayers, ColourLayersBlurAndDataStaysSharp) {
    const dof::Frame frame = frameOf({"R", "G", "B", "A", "Z", "diffuse.R", "diffuse.G",
                                      "diffuse.B", "P.R", "P.G", "P.B", "mask"});
    const dof::ChannelLayers l = dof::describeChannelLayers(frame, "", dof::DepthConvention::Distance);
    ASSERT_EQ(l.views.size(), 1u);
    EXPECT_EQ(l.blurred, (std::vector<std::string>{"colour", "diffuse"}));
    ASSERT_EQ(l.views[0].layerChannels.size(), 3u);
    EXPECT_EQ(l.views[0].layerChannels[2].channel, 7);
    EXPECT_EQ(l.keptSharp, (std::vector<std::string>{"Z", "P.R", "P.G", "P.B", "mask"}));
    EXPECT_TRUE(l.keptSharpBesidesDepth);
}

TEST(ChannelLayers, SecondViewWithItsOwnDepth) {
    const dof::Frame frame = frameOf({"R", "G", "B", "A", "Z", "right.R", "right.G", "right.B",
                                      "right.A", "right.Z"},
                                     {"left", "right"});
    const dof::ChannelLayers l = dof::describeChannelLayers(frame, "", dof::DepthConvention::Distance);
    ASSERT_EQ(l.views.size(), 2u);
    EXPECT_EQ(l.views[1].name, "right");
    EXPECT_EQ(l.views[1].colour[0], 5);
    EXPECT_EQ(l.views[1].alpha, 8);
    EXPECT_EQ(l.views[1].distance, std::vector<double>{1.0});
    EXPECT_EQ(l.blurred, (std::vector<std::string>{"left", "right"}));
    EXPECT_EQ(l.keptSharp, (std::vector<std::string>{"Z", "right.Z"}));
    EXPECT_FALSE(l.keptSharpBesidesDepth);
}

}  // namespace
