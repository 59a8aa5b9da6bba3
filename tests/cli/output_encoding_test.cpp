// Every output file type from every kind of input: data types, colour linear
// or encoded for display, alpha premultiplied, straight or composited over
// black, checked against the sRGB formulas written out here. The renders are
// unblurred (radius 0), so the output is the input re-encoded.
#include <OpenImageIO/half.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "image_files.h"
#include "support/run_command.h"

namespace {

using doftest::FlatImage;
using OIIO::TypeDesc;

double toDisplay(double v) {
    return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
}
double toLinear(double e) { return e <= 0.04045 ? e / 12.92 : std::pow((e + 0.055) / 1.055, 2.4); }

// Six 16 x 16 blocks (whole JPEG blocks), as stored: colour and alpha.
struct Block {
    double c[3], a;
};
const Block kLinear[6] = {                                          // premultiplied, exact in half
    {{0.1875, 0.5, 1.0}, 1}, {{0.001953125, 0.0390625, 0.75}, 1},   // below sRGB's toe
    {{2.0, 0.25, 0.0}, 1},   {{0.3125, 0.078125, 0.15625}, 0.625},  // straight .5 .125 .25
    {{0.0, 0.0, 0.0}, 0},    {{0.875, 0.625, 0.01171875}, 1}};
const Block kDisplay[6] = {  // straight 8-bit codes over 255
    {{110, 188, 255}, 255}, {{5, 56, 224}, 255}, {{255, 137, 0}, 255},
    {{188, 99, 137}, 160},  {{0, 0, 0}, 0},      {{240, 210, 30}, 255}};

struct Input {
    const char* name;
    std::vector<std::string> channels;
    std::vector<TypeDesc> formats;
    bool display;  // 8/16-bit codes, straight alpha
};

FlatImage inputImage(const Input& in) {
    FlatImage image = doftest::makeFlat(96, 16, in.channels, in.formats[0]);
    image.formats = in.formats;
    image.unassociatedAlpha = in.display;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 96; ++x) {
            const Block& b = in.display ? kDisplay[x / 16] : kLinear[x / 16];
            const double scale = in.display ? 255.0 : 1.0;
            for (std::size_t c = 0; c < in.channels.size(); ++c)
                image.at(x, y, int(c)) = in.channels[c] == "Z" ? 10.0f
                                         : c < 3               ? float(b.c[c] / scale)
                                                               : float(b.a / scale);
        }
    return image;
}

struct OutputCase {
    const char* input;
    const char* file;
    std::vector<std::string> args;
    TypeDesc type;  // of every channel but a float Z beside half colour
    int channels;
    char alpha;  // P premultiplied, S straight, B composited over black, - none
};

// The value a channel of block `b` should hold, before the data type's rounding.
double expected(const Input& in, const OutputCase& out, const Block& block, int c) {
    const double scale = in.display ? 255.0 : 1.0, a = block.a / scale;
    if (c == 3 || c == 4) return c == 3 && out.alpha != '-' ? a : 10.0;
    double v = block.c[c] / scale;
    const bool displayOut = !out.type.is_floating_point();
    if (out.alpha == 'B') {  // colour over black, in the input's encoding
        v = in.display ? v * a : v;
        return displayOut && !in.display ? toDisplay(v) : v;
    }
    if (!in.display && a > 0) v /= a;  // straight, for the conversion
    if (displayOut != in.display) v = displayOut ? toDisplay(v) : toLinear(v);
    return out.alpha == 'P' && a > 0 ? v * a : v;
}

TEST(OutputEncoding, EveryFileTypeFromEveryInput) {
    const TypeDesc h = TypeDesc::HALF, f = TypeDesc::FLOAT, u8 = TypeDesc::UINT8,
                   u16 = TypeDesc::UINT16;
    const Input inputs[] = {
        {"half.exr", {"R", "G", "B", "A", "Z"}, {h, h, h, h, f}, false},  // a renderer's default
        {"float.exr", {"R", "G", "B", "A", "Z"}, {f}, false},
        {"in.png", {"R", "G", "B", "A"}, {u8}, true},
        {"in.tif", {"R", "G", "B"}, {u16}, true},
    };
    const OutputCase cases[] = {
        {"half.exr", "o.png", {}, u16, 4, 'S'},  // PNG's widest, straight
        {"half.exr", "o.png", {"-d", "uint8"}, u8, 4, 'S'},
        {"half.exr", "o.jpg", {}, u8, 3, 'B'},
        {"half.exr", "o.tif", {}, f, 5, 'P'},  // one type for all: the widest
        {"half.exr", "o.tif", {"-d", "uint16"}, u16, 5, 'P'},
        {"half.exr", "o.tif", {"--rgba-only", "-d", "uint8"}, u8, 4, 'P'},
        {"half.exr", "o.exr", {}, h, 5, 'P'},
        {"half.exr", "o.exr", {"--rgba-only", "-d", "float"}, f, 4, 'P'},
        {"float.exr", "o.png", {"-d", "uint8"}, u8, 4, 'S'},
        {"float.exr", "o.tif", {}, f, 5, 'P'},
        {"float.exr", "o.exr", {"-d", "half"}, h, 5, 'P'},
        {"in.png", "o.png", {}, u8, 4, 'S'},
        {"in.png", "o.png", {"-d", "uint16"}, u16, 4, 'S'},
        {"in.png", "o.jpg", {}, u8, 3, 'B'},
        {"in.png", "o.tif", {}, u8, 4, 'P'},
        {"in.png", "o.exr", {}, h, 4, 'P'},
        {"in.png", "o.tif", {"-d", "float"}, f, 4, 'P'},
        {"in.tif", "o.png", {"-d", "uint8"}, u8, 3, '-'},
        {"in.tif", "o.exr", {}, h, 3, '-'},
        {"in.tif", "o.jpg", {}, u8, 3, '-'},
    };
    doftest::ScratchFolder dir;
    FlatImage depth = doftest::makeFlat(96, 16, {"Z"}, f);
    std::fill(depth.pixels.begin(), depth.pixels.end(), 10.0f);
    ASSERT_TRUE(doftest::writeFlat(dir.file("z.exr"), depth));
    for (const Input& in : inputs)
        ASSERT_TRUE(doftest::writeFlat(dir.file(in.name), inputImage(in)));
    int n = 0;
    for (const OutputCase& out : cases) {
        const Input& in = *std::find_if(std::begin(inputs), std::end(inputs), [&](const Input& i) {
            return std::string(i.name) == out.input;
        });
        const std::string why = std::string(out.input) + " to " + out.file + " " +
                                (out.args.empty() ? "" : out.args[0] + " " + out.args.back());
        const std::string path = dir.file(std::to_string(n++) + out.file);
        std::vector<std::string> args = {doftest::dof3dPath(),
                                         "render",
                                         dir.file(in.name),
                                         "-o",
                                         path,
                                         "--focus",
                                         "10",
                                         "--radius",
                                         "0",
                                         "--effects",
                                         DOF_TEST_EFFECTS_DIR};
        if (in.channels.size() < 5) args.insert(args.end(), {"--depth", dir.file("z.exr")});
        args.insert(args.end(), out.args.begin(), out.args.end());
        const auto run = doftest::runCommand(args);
        ASSERT_EQ(run.exitCode, 0) << why << ": " << run.err;
        OIIO::ImageSpec header;
        const FlatImage got = doftest::readFlat(path, &header);
        ASSERT_EQ(header.nchannels, out.channels) << why;
        EXPECT_EQ(header.channelformat(0), out.type) << why;
        EXPECT_EQ(header
                      .get_string_attribute(std::string(out.file) == "o.jpg" ? "Exif:ImageHistory"
                                                                             : "dof3d:settings")
                      .empty(),
                  std::string(out.file) == "o.tif")
            << why << ": the settings record";
        const bool converted = (!out.type.is_floating_point()) != in.display;
        const double codes = out.type == u8 ? 255.0 : 65535.0;
        int mismatches = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 96; ++x)
                for (int c = 0; c < out.channels; ++c) {
                    // JPEG's halved chroma smooths across the blocks' edges.
                    if (std::string(out.file) == "o.jpg" && (x % 16 < 2 || x % 16 > 13)) continue;
                    const Block& b = in.display ? kDisplay[x / 16] : kLinear[x / 16];
                    const double e = expected(in, out, b, c), g = got.at(x, y, c);
                    bool ok;
                    if (!header.channelformat(c).is_floating_point()) {
                        // Codes: exact when only the data type changes, one off
                        // for the float sRGB curve, three for JPEG's blocks.
                        const double tolerance =
                            std::string(out.file) == "o.jpg" ? 3 : (converted && c < 3 ? 1 : 0);
                        ok = std::fabs(std::round(std::clamp(e, 0.0, 1.0) * codes) -
                                       std::round(g * codes)) <= tolerance;
                    } else if (header.channelformat(c) == h) {
                        ok = converted && c < 3 ? std::fabs(g - e) <= std::fabs(e) * 0x1p-10
                                                : float(half(float(e))) == float(g);
                    } else {
                        ok = converted && c < 3 ? std::fabs(g - e) <= std::fabs(e) * 1e-4
                                                : float(e) == float(g);
                    }
                    if (!ok && ++mismatches <= 3)
                        ADD_FAILURE() << why << ": pixel " << x << "," << y << " channel " << c
                                      << " expected " << e << " got " << g;
                }
        EXPECT_EQ(mismatches, 0) << why;
    }
}

}  // namespace
