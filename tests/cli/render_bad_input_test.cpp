// dof3d render on damaged and hostile input: a header that claims billions of
// pixels, a file whose reader fills missing data with zeros, a focus no power
// of two brings into range, an option nobody knows. Each must end in one
// line, a non-zero status and no file beside the inputs.
#include <OpenImageIO/half.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>

#include "image_files.h"
#include "support/run_command.h"

namespace {

using doftest::ScratchFolder;

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The CRC-32 a PNG chunk ends with, bit by bit.
std::uint32_t pngCrc(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (crc & 1u ? 0xEDB88320u : 0u);
    }
    return crc ^ 0xFFFFFFFFu;
}

void putBigEndian(std::string* bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) (*bytes)[at + std::size_t(i)] = char(value >> (24 - 8 * i));
}

// A valid 4x4 PNG whose header then claims 100000 x 100000 pixels, with the
// header's checksum made right again so that the reader believes it.
std::string hugePng(const ScratchFolder& dir) {
    const std::string small = dir.file("small.png");
    EXPECT_TRUE(
        doftest::writeFlat(small, doftest::makeFlat(4, 4, {"R", "G", "B"}, OIIO::TypeDesc::UINT8)));
    std::string bytes = readBytes(small);
    std::remove(small.c_str());
    // 8 signature bytes, the chunk length, "IHDR", width, height, 5 more
    // header bytes, then the checksum of "IHDR" and its 13 bytes.
    EXPECT_EQ(bytes.substr(12, 4), "IHDR");
    putBigEndian(&bytes, 16, 100000);
    putBigEndian(&bytes, 20, 100000);
    putBigEndian(&bytes, 29, pngCrc(bytes.substr(12, 17)));
    return bytes;
}

// An uncompressed 16-bit TIFF cut short inside its pixel data.
std::string truncatedTiff(const ScratchFolder& dir) {
    const std::string whole = dir.file("whole.tif");
    doftest::FlatImage image =
        doftest::makeFlat(64, 48, {"R", "G", "B", "A"}, OIIO::TypeDesc::UINT16);
    for (std::size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = float((i * 7919u) % 65536u) / 65535.0f;
    image.stringAttributes = {{"compression", "none"}};
    EXPECT_TRUE(doftest::writeFlat(whole, image));
    const std::string bytes = readBytes(whole);
    std::remove(whole.c_str());
    return bytes.substr(0, bytes.size() * 3 / 5);
}

struct BadInputCase {
    const char* why;
    std::vector<std::string> args;  // after "render"
    std::string expected;           // the start of the line after "dof3d: "
    int exitCode;
};

TEST(RenderBadInput, OneLineNonZeroAndNothingWritten) {
    ScratchFolder dir;
    writeBytes(dir.file("huge.png"), hugePng(dir));
    writeBytes(dir.file("cut.tif"), truncatedTiff(dir));
    ASSERT_TRUE(doftest::writeFlat(dir.file("z.exr"),
                                   doftest::makeFlat(64, 48, {"Z"}, OIIO::TypeDesc::FLOAT)));
    doftest::FlatImage scene =
        doftest::makeFlat(4, 4, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::FLOAT);
    std::fill(scene.pixels.begin(), scene.pixels.end(), 1.0f);
    ASSERT_TRUE(doftest::writeFlat(dir.file("scene.exr"), scene));
    const std::string out = dir.file("out.exr");
    const std::string huge = dir.file("huge.png"), cut = dir.file("cut.tif");
    const std::string scenePath = dir.file("scene.exr");

    const BadInputCase cases[] = {
        {"a header claiming 10^10 pixels is refused before anything is allocated",
         {huge, "-o", out, "--focus", "0.5", "--depth", dir.file("z.exr")},
         huge + ": the image is 100000x100000 pixels, more than a frame can hold (536870912 "
                "pixels)",
         1},
        {"the same header as a separate depth image",
         {scenePath, "-o", out, "--focus", "1", "--depth", huge},
         huge + ": depth image is 100000x100000, but " + scenePath + " is 4x4",
         1},
        {"a TIFF cut inside its strips: the reader says success but left a message",
         {cut, "-o", out, "--focus", "1", "--depth", dir.file("z.exr")},
         cut + ": corrupt or truncated: TIFFReadEncodedStrip failed",
         1},
        {"the cut TIFF as the depth image",
         {dir.file("z.exr"), "-o", out, "--focus", "1", "--depth", cut, "--depth-channel", "R"},
         cut + ": corrupt or truncated: TIFFReadEncodedStrip failed",
         1},
        {"the smallest subnormal focus: doubling the factor would reach infinity",
         {scenePath, "-o", out, "--focus=5e-324"},
         "--focus 4.9406564584124654e-324 is too close to the camera to scale into the effect's "
         "depth range",
         2},
        {"a subnormal camera-space z",
         {scenePath, "-o", out, "--focus=-5e-324", "--depth-convention", "negative"},
         "--focus -4.9406564584124654e-324 is too close to the camera to scale into the "
         "effect's depth range",
         2},
        {"an unknown option",
         {scenePath, "-o", out, "--focus", "1", "--bogus"},
         "The following argument was not expected: --bogus (see --help)",
         2},
        {"a second input",
         {scenePath, scenePath, "-o", out, "--focus", "1"},
         "The following argument was not expected: " + scenePath + " (see --help)",
         2},
    };
    for (const BadInputCase& c : cases) {
        std::vector<std::string> args = {doftest::dof3dPath(), "render"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"-q", "--effects", DOF_TEST_EFFECTS_DIR});
        const doftest::CommandResult run = doftest::runCommand(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.why << ": " << run.err;
        EXPECT_EQ(run.err.rfind("dof3d: " + c.expected, 0), 0u) << c.why << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.why << ": " << run.err;
        EXPECT_FALSE(doftest::fileExists(out)) << c.why;
    }
    // No output and no temporary file was left beside the inputs.
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"cut.tif", "huge.png", "scene.exr", "z.exr"}));
}

// A subcommand missing altogether is a bad option like any other.
TEST(RenderBadInput, MissingSubcommandIsOneLineStatusTwo) {
    const doftest::CommandResult run = doftest::runCommand({doftest::dof3dPath()});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "dof3d: A subcommand is required (see --help)\n");
}

// Under --json a bad option is also answered on standard output, as JSON.
TEST(RenderBadInput, BadOptionsUnderJsonPrintJson) {
    const struct {
        std::vector<std::string> args;
        const char* json;
    } cases[] = {
        {{"render", "in.exr", "-o", "out.exr", "--bogus", "--json"},
         "{\"command\":\"render\",\"error\":\"The following argument was not expected: "
         "--bogus\"}\n"},
        {{"render", "in.exr", "-o", "out.exr", "--radius", "70", "--focus", "3", "--json"},
         "{\"command\":\"render\",\"error\":\"--radius 70: out of range (0 to 64 pixels)\"}\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {doftest::dof3dPath()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const doftest::CommandResult run = doftest::runCommand(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, c.json);
    }
    const doftest::CommandResult version = doftest::runCommand({doftest::dof3dPath(), "--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "dof3d 0.1.0\n");
}

}  // namespace
