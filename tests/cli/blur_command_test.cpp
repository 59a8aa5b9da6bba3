// dof3d blur, run as a user runs it: the built binary on a generated
// 1920x1080 image in a fresh folder.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/run_command.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Image8 {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<unsigned char> bytes;

    unsigned char at(int x, int y, int c) const {
        return bytes[(std::size_t(y) * width + x) * channels + c];
    }
};

// Writes the bytes as they are: no alpha association on the way.
void writePng(const fs::path& path, const Image8& image) {
    OIIO::ImageSpec imageSpec(image.width, image.height, image.channels, OIIO::TypeDesc::UINT8);
    imageSpec.attribute("oiio:UnassociatedAlpha", 1);
    auto out = OIIO::ImageOutput::create(path.string());
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->open(path.string(), imageSpec)) << out->geterror();
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, image.bytes.data())) << out->geterror();
    ASSERT_TRUE(out->close());
}

Image8 readPng(const fs::path& path) {
    Image8 image;
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path.string(), &config);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path << ": " << OIIO::geterror();
        return image;
    }
    image.width = in->spec().width;
    image.height = in->spec().height;
    image.channels = in->spec().nchannels;
    image.bytes.resize(std::size_t(image.width) * image.height * image.channels);
    EXPECT_TRUE(in->read_image(0, 0, 0, image.channels, OIIO::TypeDesc::UINT8, image.bytes.data()));
    return image;
}

Image8 generated(int channels, const std::function<unsigned char(int x, int y, int c)>& value,
                 int width = kWidth, int height = kHeight) {
    Image8 image;
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.bytes.resize(std::size_t(width) * height * channels);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                image.bytes[(std::size_t(y) * width + x) * channels + c] = value(x, y, c);
    return image;
}

// A folder of its own for each test, removed afterwards.
class BlurCommand : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/dof3d-blur-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    static doftest::CommandResult run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {doftest::dof3dPath(), "blur"});
        return doftest::runCommand(arguments);
    }

    // Names in the folder, to show that a failed run leaves nothing behind.
    std::vector<std::string> folderNames() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir;
};

// Every way through the command keeps a constant image constant, with its
// alpha and its colour as stored (alpha 3 would show any premultiplying by the
// image reader or writer).
TEST_F(BlurCommand, ConstantImageStaysConstant) {
    const unsigned char rgba[4] = {13, 77, 201, 3};
    writePng(dir / "flat.png", generated(4, [&](int, int, int c) { return rgba[c]; }));
    const std::vector<std::vector<std::string>> modes = {
        {"--kernel", "gaussian", "--sigma", "2", "--cutoff", "0.01"},
        {"--kernel", "gaussian", "--sigma", "1.5", "--alpha-weighted"},
        {"--kernel", "gaussian", "--sigma", "3", "--lut"},
        {"--kernel", "box", "--radius", "4"},
        {"--kernel", "box", "--radius", "4", "--alpha-weighted"},
        {"--kernel", "gaussian", "--sigma", "2", "--dilate"},
        {"--kernel", "box", "--radius", "3", "--dilate"},
    };
    for (const auto& mode : modes) {
        std::string label;
        for (const std::string& a : mode) label += a + " ";
        SCOPED_TRACE(label);
        std::vector<std::string> args = {(dir / "flat.png").string(), "-o",
                                         (dir / "out.png").string()};
        args.insert(args.end(), mode.begin(), mode.end());
        const auto result = run(args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.err, "");
        const Image8 out = readPng(dir / "out.png");
        ASSERT_EQ(out.width, kWidth);
        ASSERT_EQ(out.height, kHeight);
        ASSERT_EQ(out.channels, 4);
        std::size_t differing = 0;
        for (std::size_t b = 0; b < out.bytes.size(); ++b) differing += out.bytes[b] != rgba[b % 4];
        EXPECT_EQ(differing, 0u);
    }
}

// An opaque grey edge, black up to x = 959 and white from 960, through the
// box of radius 3: the 7-sample means 255 k / 7 truncate to 36, 72, 109, 145,
// 182 and 218 for k = 1 to 6 white samples; the column pass keeps them, every
// column being constant. The single channel stays single.
TEST_F(BlurCommand, BoxSmoothsAnEdgeExactly) {
    writePng(dir / "edge.png", generated(1, [](int x, int, int) { return x < 960 ? 0 : 255; }));
    const auto result = run({(dir / "edge.png").string(), "-o", (dir / "soft.png").string(),
                             "--kernel", "box", "--radius", "3"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const Image8 out = readPng(dir / "soft.png");
    ASSERT_EQ(out.width, kWidth);
    ASSERT_EQ(out.height, kHeight);
    ASSERT_EQ(out.channels, 1);
    const unsigned char ramp[8] = {0, 36, 72, 109, 145, 182, 218, 255};  // x = 956 to 963
    for (int y : {0, 1, 540, kHeight - 1}) {
        for (int x = 0; x < kWidth; ++x) {
            const unsigned char expected = x < 956 ? 0 : x > 963 ? 255 : ramp[x - 956];
            ASSERT_EQ(out.at(x, y, 0), expected) << "x " << x << " y " << y;
        }
    }
}

// The Gaussian spreads the same edge over a few pixels either side: values
// rise along the row, stay black and white away from it, and the two sides
// mirror each other (255 - left = right).
TEST_F(BlurCommand, GaussianSmoothsAnEdge) {
    writePng(dir / "edge.png",
             generated(3, [](int x, int, int) { return (unsigned char)(x < 960 ? 0 : 255); }));
    const auto result = run({(dir / "edge.png").string(), "-o", (dir / "soft.png").string(),
                             "--sigma", "2", "--cutoff", "0.01"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const Image8 out = readPng(dir / "soft.png");
    ASSERT_EQ(out.channels, 3);
    const int y = 700;
    EXPECT_EQ(out.at(900, y, 0), 0);
    EXPECT_EQ(out.at(1000, y, 0), 255);
    EXPECT_GT(out.at(959, y, 0), 0);
    EXPECT_LT(out.at(960, y, 0), 255);
    for (int x = 940; x < 980; ++x) {
        EXPECT_LE(out.at(x, y, 0), out.at(x + 1, y, 0)) << "x " << x;
        EXPECT_EQ(out.at(x, y, 1), out.at(x, y, 0));
    }
    for (int d = 0; d < 8; ++d)
        EXPECT_NEAR(255 - out.at(959 - d, y, 0), out.at(960 + d, y, 0), 1) << "d " << d;
}

TEST_F(BlurCommand, MissingInputIsOneLineErrorAndNoOutput) {
    const fs::path missing = dir / "missing.png";
    const auto result = run({missing.string(), "-o", (dir / "out.png").string()});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_EQ(result.err.rfind("dof3d: " + missing.string() + ": cannot read image", 0), 0u)
        << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
    EXPECT_TRUE(folderNames().empty());
}

// Refused before anything is read or written.
TEST_F(BlurCommand, ConflictingOptionsWriteNothing) {
    writePng(dir / "in.png",
             generated(
                 3, [](int x, int y, int) { return (unsigned char)(x ^ y); }, 64, 32));
    const std::vector<std::vector<std::string>> refused = {
        {"--kernel", "box", "--lut"},
        {"--alpha-weighted", "--lut"},
        {"--dilate", "--alpha-weighted"},
        {"--sigma", "0"},
        {"--cutoff", "1"},
        {"--kernel", "box", "--radius", "-1"},
        {"--kernel", "disc"},
    };
    for (const auto& options : refused) {
        std::vector<std::string> args = {(dir / "in.png").string(), "-o",
                                         (dir / "out.png").string()};
        args.insert(args.end(), options.begin(), options.end());
        const auto result = run(args);
        EXPECT_NE(result.exitCode, 0) << options[0];
        EXPECT_NE(result.err, "") << options[0];
        EXPECT_EQ(folderNames(), std::vector<std::string>{"in.png"}) << options[0];
    }
}

// A writer that cannot be chosen, or a folder that is not there: an error
// naming the output, and no file, temporary or final.
TEST_F(BlurCommand, UnwritableOutputLeavesNoFile) {
    writePng(dir / "in.png", generated(
                                 1, [](int x, int, int) { return (unsigned char)x; }, 64, 32));
    for (const fs::path& target : {dir / "out.unknownformat", dir / "absent" / "out.png"}) {
        const auto result = run({(dir / "in.png").string(), "-o", target.string()});
        EXPECT_NE(result.exitCode, 0);
        EXPECT_EQ(result.err.rfind("dof3d: " + target.string() + ": ", 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(folderNames(), std::vector<std::string>{"in.png"});
    }
}

}  // namespace
