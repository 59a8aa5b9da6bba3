// Reading frames: colour, alpha association, depth from a channel, another
// part or another file, deep samples, and one-line errors naming the file.
#include "cli/frame_loader.h"

#include <OpenImageIO/half.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "image_files.h"

namespace {

using doftest::FlatImage;
using doftest::ScratchFolder;

FlatImage rgbaz(int width, int height) {
    FlatImage image =
        doftest::makeFlat(width, height, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::FLOAT);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            image.at(x, y, 0) = 0.125f * float(x);
            image.at(x, y, 1) = 0.25f;
            image.at(x, y, 2) = 0.5f;
            image.at(x, y, 3) = 1.0f;
            image.at(x, y, 4) = 2.0f + float(x + 10 * y);
        }
    return image;
}

TEST(FrameLoader, FlatExrWithZ) {
    ScratchFolder dir;
    FlatImage image = rgbaz(3, 2);
    image.pixelAspect = 2.0f;
    image.at(1, 1, 4) = 0.0f;
    ASSERT_TRUE(doftest::writeFlat(dir.file("in.exr"), image));
    dof3d::Frame frame;
    std::string error;
    ASSERT_TRUE(dof3d::loadFrame(dir.file("in.exr"), dof3d::LoadOptions(), &frame, &error))
        << error;
    EXPECT_FALSE(frame.deep);
    EXPECT_TRUE(frame.associated);
    EXPECT_EQ(frame.pixelAspect, 2.0);
    EXPECT_EQ(frame.alphaChannel, 3);
    EXPECT_EQ(frame.value(2, frame.colourChannel[0]), 0.25f);
    ASSERT_EQ(frame.distance.size(), 6u);
    EXPECT_EQ(frame.distance[0], 2.0);
    EXPECT_EQ(frame.distance[5], 14.0);
    EXPECT_EQ(frame.distance[4], 0.0);  // stored 0: the no-hit rule decides later
    EXPECT_EQ(frame.fileFormat, "openexr");
}

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
    const OIIO::ImageSpec specs[3] = {colour, other, depth};
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out->open(path, 3, specs));
    const float rgba[16] = {};
    const float leftZ[4] = {99, 99, 99, 99};
    const float rightZ[4] = {5, 6, 7, 8};
    ASSERT_TRUE(out->write_image(OIIO::TypeFloat, rgba));
    ASSERT_TRUE(out->open(path, specs[1], OIIO::ImageOutput::AppendSubimage));
    ASSERT_TRUE(out->write_image(OIIO::TypeFloat, leftZ));
    ASSERT_TRUE(out->open(path, specs[2], OIIO::ImageOutput::AppendSubimage));
    ASSERT_TRUE(out->write_image(OIIO::TypeFloat, rightZ));
    ASSERT_TRUE(out->close());

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

TEST(FrameLoader, StraightAlphaPngKeepsItsValues) {
    ScratchFolder dir;
    FlatImage image = doftest::makeFlat(1, 1, {"R", "G", "B", "A"}, OIIO::TypeDesc::UINT8);
    image.unassociatedAlpha = true;
    image.pixels = {200 / 255.0f, 100 / 255.0f, 50 / 255.0f, 128 / 255.0f};
    ASSERT_TRUE(doftest::writeFlat(dir.file("in.png"), image));
    FlatImage depth = doftest::makeFlat(1, 1, {"Y"}, OIIO::TypeDesc::UINT8);
    depth.pixels = {51 / 255.0f};
    ASSERT_TRUE(doftest::writeFlat(dir.file("z.png"), depth));
    dof3d::LoadOptions options;
    options.depthFile = dir.file("z.png");
    dof3d::Frame frame;
    std::string error;
    ASSERT_TRUE(dof3d::loadFrame(dir.file("in.png"), options, &frame, &error)) << error;
    EXPECT_FALSE(frame.associated);
    // Codes as stored, not premultiplied on the way in.
    EXPECT_EQ(std::lround(frame.value(0, 0) * 255.0f), 200);
    EXPECT_EQ(std::lround(frame.value(0, 3) * 255.0f), 128);
    // Integer depth pictures read as fractions of full scale.
    EXPECT_NEAR(frame.distance[0], 0.2, 1e-7);
}

TEST(FrameLoader, DeepSamplesBecomeFragmentsAndAFlatImage) {
    ScratchFolder dir;
    // Pixel 0: back sample given first; pixel 1: empty; pixel 2: one sample
    // that hit nothing (Z infinite).
    ASSERT_TRUE(
        doftest::writeDeep(dir.file("deep.exr"), 3, 1,
                           {{{0.25f, 0.5f, 0.75f, 1.0f, 8.0f}, {0.25f, 0.0f, 0.0f, 0.5f, 4.0f}},
                            {},
                            {{0.5f, 0.5f, 0.5f, 1.0f, INFINITY}}}));
    dof3d::Frame frame;
    std::string error;
    ASSERT_TRUE(dof3d::loadFrame(dir.file("deep.exr"), dof3d::LoadOptions(), &frame, &error))
        << error;
    EXPECT_TRUE(frame.deep);
    ASSERT_EQ(frame.imageSpec.nchannels, 5);
    EXPECT_EQ(frame.imageSpec.channelformat(0), OIIO::TypeDesc::HALF);
    EXPECT_EQ(frame.imageSpec.channelformat(4), OIIO::TypeDesc::FLOAT);
    // Flattened: 0.25 + 0.5 x (0.25, 0.5, 0.75); alpha 1; depth of the nearest.
    EXPECT_EQ(frame.value(0, 0), 0.375f);
    EXPECT_EQ(frame.value(0, 1), 0.25f);
    EXPECT_EQ(frame.value(0, 2), 0.375f);
    EXPECT_EQ(frame.value(0, 3), 1.0f);
    EXPECT_EQ(frame.value(0, 4), 4.0f);
    ASSERT_EQ(frame.fragments[0].fragments.size(), 2u);
    EXPECT_EQ(frame.fragments[0].fragments[0].distance, 4.0);
    EXPECT_EQ(frame.fragments[0].fragments[0].weight, 0.5);
    EXPECT_EQ(frame.fragments[0].fragments[1].distance, 8.0);
    EXPECT_EQ(frame.value(1, 3), 0.0f);
    EXPECT_EQ(frame.value(1, 4), INFINITY);  // no sample: far in the distance convention
    EXPECT_TRUE(frame.fragments[1].fragments.empty());
    EXPECT_TRUE(std::isinf(frame.fragments[2].fragments[0].distance));
    EXPECT_TRUE(std::isnan(frame.pixelDistance(1)));
    EXPECT_EQ(frame.pixelDistance(0), 4.0);  // both weigh 0.5: the first
}

TEST(FrameLoader, GrowsTheDataWindowInsideTheDisplayWindow) {
    dof3d::Frame frame;
    frame.imageSpec = OIIO::ImageSpec(2, 1, 1, OIIO::TypeDesc::FLOAT);
    frame.imageSpec.x = 3;
    frame.imageSpec.y = 1;
    frame.imageSpec.full_x = 0;
    frame.imageSpec.full_y = 0;
    frame.imageSpec.full_width = 6;
    frame.imageSpec.full_height = 3;
    frame.pixels = {7.0f, 8.0f};
    frame.distance = {1.0, 2.0};
    dof3d::growDataWindow(&frame, 2, 5, dof3d::DepthConvention::Distance);
    EXPECT_EQ(frame.imageSpec.x, 1);
    EXPECT_EQ(frame.imageSpec.y, 0);
    EXPECT_EQ(frame.imageSpec.width, 5);  // 1 to 5: two more left, one more right (the edge)
    EXPECT_EQ(frame.imageSpec.height, 3);
    const std::vector<float> expected = {0, 0, 0, 0, 0, 0, 0, 7, 8, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(frame.pixels, expected);
    ASSERT_EQ(frame.distance.size(), 15u);
    EXPECT_EQ(frame.distance[7], 1.0);
    EXPECT_EQ(frame.distance[8], 2.0);
    EXPECT_TRUE(std::isnan(frame.distance[0]));

    // A data window beyond the display window is not cut.
    dof3d::Frame wide;
    wide.imageSpec = OIIO::ImageSpec(4, 1, 1, OIIO::TypeDesc::FLOAT);
    wide.imageSpec.x = -1;
    wide.imageSpec.full_width = 2;
    wide.imageSpec.full_height = 1;
    wide.pixels.assign(4, 1.0f);
    wide.distance.assign(4, 1.0);
    dof3d::growDataWindow(&wide, 3, 3, dof3d::DepthConvention::Distance);
    EXPECT_EQ(wide.imageSpec.x, -1);
    EXPECT_EQ(wide.imageSpec.width, 4);
}

}  // namespace
