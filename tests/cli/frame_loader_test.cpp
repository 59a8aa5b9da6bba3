// Reading frames: depth from a channel by name in each convention, and from
// another part of the same view.
#include "cli/frame_loader.h"

#include <gtest/gtest.h>

#include <cmath>

#include "image_files.h"

namespace {

using doftest::FlatImage;
using doftest::ScratchFolder;

TEST(FrameLoader, DepthChannelNamesAndConventions) {
    ScratchFolder dir;
    FlatImage image =
        doftest::makeFlat(2, 1, {"R", "G", "B", "A", "depth.Z", "cam.z"}, OIIO::TypeDesc::FLOAT);
    image.at(0, 0, 4) = 4.0f;
    image.at(1, 0, 4) = 0.5f;
    image.at(0, 0, 5) = -6.0f;
    image.at(1, 0, 5) = 3.0f;
    ASSERT_TRUE(doftest::writeFlat(dir.file("in.exr"), image));
    struct Case {
        const char* channel;
        dof3d::DepthConvention convention;
        double d0, d1;
    } const cases[] = {
        {"", dof3d::DepthConvention::Distance, 4.0, 0.5},
        {"", dof3d::DepthConvention::Inverse, 0.25, 2.0},
        {"cam.z", dof3d::DepthConvention::Negative, 6.0, -3.0},
    };
    for (const auto& c : cases) {
        dof3d::LoadOptions options;
        options.depthChannel = c.channel;
        options.convention = c.convention;
        dof3d::Frame frame;
        std::string error;
        ASSERT_TRUE(dof3d::loadFrame(dir.file("in.exr"), options, &frame, &error)) << error;
        EXPECT_EQ(frame.distance[0], c.d0) << c.channel;
        EXPECT_EQ(frame.distance[1], c.d1) << c.channel;
    }
}

TEST(FrameLoader, DepthFromAnotherPartOfTheSameView) {
    ScratchFolder dir;
    const std::string path = dir.file("parts.exr");
    // First the colour at data window (10,10) 2x2, then Z of another view,
    // then Z of the same view with its window one pixel to the right.
    OIIO::ImageSpec colour(2, 2, 4, OIIO::TypeDesc::FLOAT);
    colour.x = colour.y = 10;
    colour.full_width = colour.full_height = 20;
    colour.attribute("view", "right");
    OIIO::ImageSpec other(2, 2, 1, OIIO::TypeDesc::FLOAT);
    other.channelnames = {"Z"};
    other.x = other.y = 10;
    other.full_width = other.full_height = 20;
    other.attribute("view", "left");
    OIIO::ImageSpec depth = other;
    depth.x = 11;
    depth.attribute("view", "right");
    ASSERT_TRUE(doftest::writeParts(path, {colour, other, depth},
                                    {std::vector<float>(16), {99, 99, 99, 99}, {5, 6, 7, 8}}));

    dof3d::Frame frame;
    std::string error;
    ASSERT_TRUE(dof3d::loadFrame(path, dof3d::LoadOptions(), &frame, &error)) << error;
    ASSERT_EQ(frame.distance.size(), 4u);
    // Colour pixel (10,10) has no depth pixel; (11,10) is depth pixel (0,0).
    EXPECT_TRUE(std::isnan(frame.distance[0]));
    EXPECT_EQ(frame.distance[1], 5.0);
    EXPECT_TRUE(std::isnan(frame.distance[2]));
    EXPECT_EQ(frame.distance[3], 7.0);
}

}  // namespace
