// dof3d render on stereo files, colour layers (AOVs) and multi-part files:
// every view blurred by its own depth, layers with their view's fragments,
// data kept sharp and named, every part carried over.
#include <OpenImageIO/half.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image_files.h"
#include "support/run_command.h"

namespace {

using doftest::FlatImage;
using doftest::ScratchFolder;

doftest::CommandResult render(std::vector<std::string> args) {
    std::vector<std::string> all = {doftest::dof3dPath(), "render"};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"--effects", DOF_TEST_EFFECTS_DIR});
    return doftest::runCommand(all);
}

// The values of `names` (channels of `image`), pixel by pixel.
std::vector<float> channels(const FlatImage& image, const std::vector<std::string>& names) {
    std::vector<float> values;
    for (int p = 0; p < image.width * image.height; ++p)
        for (const std::string& name : names) {
            const auto c = std::find(image.channels.begin(), image.channels.end(), name);
            values.push_back(
                image.at(p % image.width, p / image.width, int(c - image.channels.begin())));
        }
    return values;
}

// 16 x 12, opaque, a colour pattern; `depth(x, y)` gives Z.
FlatImage patterned(std::vector<std::string> names) {
    FlatImage image = doftest::makeFlat(16, 12, std::move(names), OIIO::TypeDesc::FLOAT);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x)
            for (int c = 0; c < 3; ++c)
                image.at(x, y, c) = float((x * 7 + y * 3 + c * 5) % 11) / 10.0f;
    return image;
}

TEST(ViewsAovsParts, EachViewIsBlurredByItsOwnDepth) {
    ScratchFolder dir;
    // Both views see the same colour; the right one at the focus, the left
    // one four times as far.
    FlatImage stereo =
        patterned({"R", "G", "B", "A", "Z", "left.R", "left.G", "left.B", "left.A", "left.Z"});
    FlatImage leftAlone = patterned({"R", "G", "B", "A", "Z"});
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            for (int c = 0; c < 3; ++c) stereo.at(x, y, 5 + c) = stereo.at(x, y, c);
            stereo.at(x, y, 3) = stereo.at(x, y, 8) = leftAlone.at(x, y, 3) = 1.0f;
            stereo.at(x, y, 4) = 10.0f;
            stereo.at(x, y, 9) = leftAlone.at(x, y, 4) = 40.0f;
        }
    const char* views[] = {"right", "left"};
    stereo.attributes.emplace_back("multiView", OIIO::TypeDesc(OIIO::TypeDesc::STRING, 2), 1,
                                   views);
    ASSERT_TRUE(doftest::writeFlat(dir.file("stereo.exr"), stereo));
    ASSERT_TRUE(doftest::writeFlat(dir.file("left.exr"), leftAlone));
    for (const char* name : {"stereo", "left"}) {
        const auto run = render({dir.file(std::string(name) + ".exr"), "-o",
                                 dir.file(std::string(name) + "-out.exr"), "--focus", "10"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    const FlatImage got = doftest::readFlat(dir.file("stereo-out.exr"));
    ASSERT_EQ(got.channels, stereo.channels);
    // In focus: as stored. Out of focus: as the same view rendered on its own.
    EXPECT_EQ(channels(got, {"R", "G", "B", "A"}), channels(stereo, {"R", "G", "B", "A"}));
    const FlatImage alone = doftest::readFlat(dir.file("left-out.exr"));
    EXPECT_EQ(channels(got, {"left.R", "left.G", "left.B", "left.A"}),
              channels(alone, {"R", "G", "B", "A"}));
    EXPECT_NE(channels(got, {"left.R"}), channels(stereo, {"left.R"}));
}

TEST(ViewsAovsParts, ColourLayersSumAsTheColourDoesAndDataStaysAsStored) {
    ScratchFolder dir;
    const std::vector<std::string> names = {
        "R",         "G",          "B",          "A",          "Z",   "diffuse.R", "diffuse.G",
        "diffuse.B", "specular.R", "specular.G", "specular.B", "N.R", "N.G",       "N.B"};
    FlatImage in = patterned(names);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            in.at(x, y, 3) = x < 4 ? 0.0f : (x < 8 ? 0.5f : 1.0f);  // empty, half, opaque
            in.at(x, y, 4) = float(2 + (x + y) % 5);
            for (int c = 0; c < 3; ++c) {
                const float colour = in.at(x, y, c) * in.at(x, y, 3);
                in.at(x, y, 5 + c) = 0.25f * colour;           // diffuse
                in.at(x, y, 8 + c) = colour - 0.25f * colour;  // specular
                in.at(x, y, c) = in.at(x, y, 5 + c) + in.at(x, y, 8 + c);
                in.at(x, y, 11 + c) = float(x - y + c);  // normals, in colour's names
            }
        }
    // Light under zero alpha held by one layer only.
    in.at(2, 3, 5) = 0.0f, in.at(2, 3, 8) = in.at(2, 3, 0) = 2.0f;
    ASSERT_TRUE(doftest::writeFlat(dir.file("in.exr"), in));
    const std::vector<std::vector<std::string>> methods = {
        {}, {"--layers", "1"}, {"--method", "box"}};
    for (const auto& method : methods) {
        std::vector<std::string> args = {
            dir.file("in.exr"), "-o",         dir.file("out.exr"), "--focus", "4", "--radius", "8",
            "--json",           "--overwrite"};
        args.insert(args.end(), method.begin(), method.end());
        const auto run = render(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "dof3d: " + dir.file("in.exr") + ": kept sharp: Z, N.R, N.G, N.B\n");
        EXPECT_NE(run.out.find("\"blurred\":[\"colour\",\"diffuse\",\"specular\"],"
                               "\"keptSharp\":[\"Z\",\"N.R\",\"N.G\",\"N.B\"]"),
                  std::string::npos)
            << run.out;
        const FlatImage got = doftest::readFlat(dir.file("out.exr"));
        ASSERT_EQ(got.channels.size(), names.size());
        EXPECT_EQ(channels(got, {"Z", "N.R", "N.G", "N.B"}),
                  channels(in, {"Z", "N.R", "N.G", "N.B"}));
        EXPECT_NE(channels(got, {"diffuse.R"}), channels(in, {"diffuse.R"}));
        const std::vector<float> colour = channels(got, {"R", "G", "B"});
        const std::vector<float> diffuse = channels(got, {"diffuse.R", "diffuse.G", "diffuse.B"});
        const std::vector<float> specular =
            channels(got, {"specular.R", "specular.G", "specular.B"});
        for (std::size_t i = 0; i < colour.size(); ++i)
            ASSERT_NEAR(colour[i], diffuse[i] + specular[i], 1e-5) << "value " << i;
    }
}

// Writes `parts` as one multi-part OpenEXR.
bool writeParts(const std::string& path, const std::vector<OIIO::ImageSpec>& specs,
                const std::vector<std::vector<float>>& pixels) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, int(specs.size()), specs.data())) return false;
    for (std::size_t i = 0; i < specs.size(); ++i)
        if ((i > 0 && !out->open(path, specs[i], OIIO::ImageOutput::AppendSubimage)) ||
            !out->write_image(OIIO::TypeFloat, pixels[i].data()))
            return false;
    return out->close();
}

TEST(ViewsAovsParts, EveryPartIsCarriedOver) {
    ScratchFolder dir;
    const FlatImage beauty = patterned({"R", "G", "B", "A", "Z"});
    std::vector<OIIO::ImageSpec> specs(3);
    std::vector<std::vector<float>> pixels(3);
    specs[0] = OIIO::ImageSpec(16, 12, 5, OIIO::TypeDesc::HALF);
    specs[0].channelnames = beauty.channels;
    pixels[0] = beauty.pixels;
    for (std::size_t p = 0; p < 16 * 12; ++p)
        pixels[0][p * 5 + 3] = 1.0f, pixels[0][p * 5 + 4] = float(1 + p % 7);
    // The same colour as a part of its own: blurred with the same fragments.
    specs[1] = OIIO::ImageSpec(16, 12, 3, OIIO::TypeDesc::HALF);
    for (std::size_t p = 0; p < 16 * 12; ++p)
        pixels[1].insert(pixels[1].end(), &pixels[0][p * 5], &pixels[0][p * 5 + 3]);
    // Data on a window of its own.
    specs[2] = OIIO::ImageSpec(3, 2, 1, OIIO::TypeDesc::FLOAT);
    specs[2].x = 5, specs[2].y = 4, specs[2].channelnames = {"mask"};
    specs[2].full_x = specs[2].full_y = 0, specs[2].full_width = 16, specs[2].full_height = 12;
    pixels[2] = {0.5f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f};
    const char* partNames[] = {"rgba", "diffuse", "notes"};
    for (int i = 0; i < 3; ++i) specs[std::size_t(i)].attribute("name", partNames[i]);
    ASSERT_TRUE(writeParts(dir.file("in.exr"), specs, pixels));
    const auto run = render(
        {dir.file("in.exr"), "-o", dir.file("out.exr"), "--focus", "4", "--radius", "3", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("\"blurred\":[\"colour\",\"diffuse\"],\"keptSharp\":[\"rgba/Z\","
                           "\"notes/mask\"]"),
              std::string::npos)
        << run.out;
    auto in = OIIO::ImageInput::open(dir.file("out.exr"));
    ASSERT_TRUE(in);
    std::vector<std::vector<float>> got(3);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(in->seek_subimage(i, 0));
        const OIIO::ImageSpec& part = in->spec();
        EXPECT_EQ(part.get_string_attribute("name"), partNames[i]);
        EXPECT_EQ(part.channelnames, specs[std::size_t(i)].channelnames);
        got[std::size_t(i)].resize(part.image_pixels() * std::size_t(part.nchannels));
        ASSERT_TRUE(
            in->read_image(i, 0, 0, part.nchannels, OIIO::TypeFloat, got[std::size_t(i)].data()));
    }
    EXPECT_FALSE(in->seek_subimage(3, 0));
    EXPECT_EQ(got[2], pixels[2]);
    std::vector<float> colour;
    for (std::size_t p = 0; p < got[1].size() / 3; ++p)
        colour.insert(colour.end(), &got[0][p * 5], &got[0][p * 5 + 3]);
    EXPECT_EQ(got[1], colour);
    EXPECT_NE(got[1], pixels[1]);
}

}  // namespace
