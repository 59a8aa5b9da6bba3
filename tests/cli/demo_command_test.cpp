// dof3d demo, run as a user runs it: the built binary, a fresh output folder.
#include <OpenImageIO/imagebuf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/run_command.h"

namespace {

namespace fs = std::filesystem;

// A folder of its own for each test, removed afterwards.
class DemoCommand : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/dof3d-demo-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    // The effect built beside the tests, unless the arguments name a folder.
    static doftest::CommandResult run(std::vector<std::string> arguments) {
        if (std::find(arguments.begin(), arguments.end(), "--effects") == arguments.end())
            arguments.insert(arguments.begin(), {"--effects", DOF_TEST_EFFECTS_DIR});
        arguments.insert(arguments.begin(), {doftest::dof3dPath(), "demo"});
        return doftest::runCommand(arguments);
    }

    fs::path dir;
};

// The pixels of a PNG as bytes, with the size and channels. The colour is
// read as stored: straight, not multiplied by alpha.
struct Picture {
    int width = 0, height = 0, channels = 0;
    std::vector<std::uint8_t> bytes;
    const std::uint8_t* at(int x, int y) const {
        return bytes.data() + (std::size_t(y) * width + x) * channels;
    }
};

Picture readPicture(const fs::path& path) {
    Picture picture;
    OIIO::ImageSpec hints;
    hints.attribute("oiio:UnassociatedAlpha", 1);
    OIIO::ImageBuf buf(path.string(), 0, 0, nullptr, &hints);
    if (!buf.read(0, 0, true, OIIO::TypeDesc::UINT8)) return picture;
    picture.width = buf.spec().width;
    picture.height = buf.spec().height;
    picture.channels = buf.spec().nchannels;
    picture.bytes.resize(std::size_t(picture.width) * picture.height * picture.channels);
    buf.get_pixels(buf.roi(), OIIO::TypeDesc::UINT8, picture.bytes.data());
    return picture;
}

std::vector<std::uint8_t> rgba(const Picture& p, int x, int y) {
    return std::vector<std::uint8_t>(p.at(x, y), p.at(x, y) + 4);
}

std::vector<std::string> filesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

int lines(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// 320 x 180, radius 180 / 45 = 4. The card (z = -6, the focal depth) spans
// x = 160 +- 180 * 0.6125 / 6 = 141.6 to 178.4 and y = 90 - 16.5 = 73.5 to
// 90 + 30 = 120, so pixel (160, 95) lies 18 pixels or more inside it: farther
// than the reach of any splat (the hat reaches twice the radius, 8 pixels),
// and in box averaging its own window is the pixel alone.
TEST_F(DemoCommand, WritesSourceBothResultsAndSideBySide) {
    const fs::path out = dir / "pictures";
    const auto outcome = run({"-o", out.string(), "--width", "320", "--height", "180"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(filesIn(out),
              (std::vector<std::string>{"box.png", "side_by_side.png", "source.png", "splat.png"}));
    for (const char* name : {"source.png", "box.png", "splat.png", "side_by_side.png"})
        EXPECT_NE(outcome.out.find((out / name).string()), std::string::npos) << name;
    EXPECT_NE(outcome.out.find("pass 4"), std::string::npos) << "timings printed";

    const Picture source = readPicture(out / "source.png");
    const Picture box = readPicture(out / "box.png");
    const Picture splat = readPicture(out / "splat.png");
    const Picture side = readPicture(out / "side_by_side.png");
    for (const Picture* p : {&source, &box, &splat}) {
        EXPECT_EQ(p->width, 320);
        EXPECT_EQ(p->height, 180);
        EXPECT_EQ(p->channels, 4);
    }
    ASSERT_EQ(side.width, 3 * 320);
    ASSERT_EQ(side.height, 180);
    ASSERT_EQ(side.channels, 3);

    // Side by side: the colour of source, box and splat, in that order.
    const Picture* thirds[] = {&source, &box, &splat};
    for (int third = 0; third < 3; ++third)
        for (int y = 0; y < 180; y += 7)
            for (int x = 0; x < 320; x += 5)
                ASSERT_EQ(
                    std::vector<std::uint8_t>(side.at(third * 320 + x, y),
                                              side.at(third * 320 + x, y) + 3),
                    std::vector<std::uint8_t>(thirds[third]->at(x, y), thirds[third]->at(x, y) + 3))
                    << "third " << third << " at " << x << "," << y;

    // In focus: both methods give the source back.
    EXPECT_EQ(rgba(box, 160, 95), rgba(source, 160, 95));
    EXPECT_EQ(rgba(splat, 160, 95), rgba(source, 160, 95));
    // Blurred: lamp 2 (x = 0, y = 2.5, z = -18, a pixel across at 180 / 18)
    // sits at (160, 65) in the sky; both methods spread it over the sky three
    // pixels below, within a box half-size of 4 and a splat's reach of 8.
    EXPECT_NE(rgba(box, 160, 68), rgba(source, 160, 68));
    EXPECT_NE(rgba(splat, 160, 68), rgba(source, 160, 68));
    // The sky's even gradient averages to itself and the card and the band of
    // ground from z = -6 to -7 stay sharp, but the spheres, the lamps and the
    // rest of the ground change: at least a fifth of the frame.
    for (const Picture* result : {&box, &splat}) {
        int changed = 0;
        for (int y = 0; y < 180; ++y)
            for (int x = 0; x < 320; ++x)
                if (rgba(*result, x, y) != rgba(source, x, y)) ++changed;
        EXPECT_GT(changed, 320 * 180 / 5);
    }
}

TEST_F(DemoCommand, DeeperFormatsWriteSixteenBitFiles) {
    const auto outcome =
        run({"-o", dir.string(), "--width", "64", "--height", "36", "--format", "12"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    OIIO::ImageBuf source((dir / "source.png").string());
    ASSERT_TRUE(source.read());
    EXPECT_EQ(source.spec().format, OIIO::TypeDesc::UINT16);
    EXPECT_EQ(source.spec().width, 64);
}

// Nothing is written unless both renders succeed. Our own errors are one
// line naming what is wrong; argument errors lead with the option.
TEST_F(DemoCommand, FailuresWriteNothing) {
    const fs::path out = dir / "pictures";
    struct Case {
        std::vector<std::string> arguments;
        const char* needle;  // in the first line
        bool oneLine;
    } cases[] = {
        {{"--effects", (dir / "no-such-folder").string()}, "no-such-folder", true},
        {{"--format", "9"}, "--format", false},
        {{"--radius", "65"}, "--radius", false},
        {{"--width", "0"}, "--width", false},
        {{"--focus", "-0.5"}, "--focus", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments[0] + " " + c.arguments[1]);
        std::vector<std::string> arguments = {"-o", out.string()};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const auto outcome = run(arguments);
        EXPECT_NE(outcome.exitCode, 0);
        EXPECT_NE(firstLine(outcome.err).find(c.needle), std::string::npos) << outcome.err;
        if (c.oneLine) {
            EXPECT_EQ(lines(outcome.err), 1) << outcome.err;
        }
        EXPECT_EQ(outcome.out, "");
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(DemoCommand, UnusableFolderIsNamed) {
    const fs::path blocker = dir / "file";
    std::ofstream(blocker) << "not a folder";
    const fs::path out = blocker / "pictures";
    const auto outcome = run({"-o", out.string(), "--width", "32", "--height", "18"});
    EXPECT_NE(outcome.exitCode, 0);
    EXPECT_EQ(lines(outcome.err), 1) << outcome.err;
    EXPECT_NE(outcome.err.find(out.string()), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.out, "");
}

}  // namespace
