// dof3d as users run it, one row per case: the inputs the case needs (made by
// a few generators into a folder of its own), the arguments, the exit status,
// the first line of standard error, the files the folder holds afterwards and,
// for renders, a check of the pixels against facts that do not come from the
// program: zero radius gives the input back, a flat image stays flat, a second
// way of rendering the same frame gives the same bytes, values worked by hand.
#include <OpenImageIO/half.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "image_files.h"
#include "support/run_command.h"
#include "support/same_bytes.h"
#include "util/task_pool.h"

namespace {

using dof::test::FlatImage;
using dof::test::TestSample;

using Writer = std::function<void(const std::string& path)>;

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Writes the image, then lets `change` edit the file's bytes, when given.
Writer flat(const FlatImage& image, const std::function<void(std::string&)>& change = {}) {
    return [=](const std::string& p) {
        dof::test::writeFlat(p, image);
        if (!change) return;
        std::ifstream in(p, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        change(bytes);
        writeBytes(p, bytes);
    };
}

// Writes the image and keeps the first `fraction` of its bytes.
Writer cut(const FlatImage& image, double fraction) {
    return flat(image, [=](std::string& b) { b.resize(std::size_t(double(b.size()) * fraction)); });
}

const std::vector<std::string> kRGBAZ = {"R", "G", "B", "A", "Z"};

// w x h of `type`, v(x, y, channel) in every channel.
FlatImage filled(int w, int h, std::vector<std::string> names, OIIO::TypeDesc type,
                 const std::function<float(int, int, int)>& v) {
    FlatImage image = dof::test::makeFlat(w, h, std::move(names), type);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < int(image.channels.size()); ++c) image.at(x, y, c) = v(x, y, c);
    return image;
}

// 64 x 64 half RGBA with float-free depths 4 to 8 in squares of 8: the blur
// shows everywhere. Tiled in 16s, with (20, 20) holding `at2020`, when given.
FlatImage squares(float pixelAspect = 1.0f, std::vector<float> at2020 = {}) {
    FlatImage image = filled(64, 64, kRGBAZ, OIIO::TypeDesc::HALF, [](int x, int y, int c) {
        const float values[5] = {x / 63.0f, y / 63.0f, float((x ^ y) & 7) / 7.0f, 1.0f,
                                 4.0f + float((x / 8 + y / 8) % 5)};
        return values[c];
    });
    image.pixelAspect = pixelAspect;
    for (std::size_t c = 0; c < at2020.size(); ++c) image.at(20, 20, int(c)) = at2020[c];
    image.tileSize = at2020.empty() ? 0 : 16;
    return image;
}

// 24 x 16 float, R G B A Z and two more channels with metadata: an in-focus
// opaque block (Z 10), a far one (Z 25), empty pixels, a half-transparent near
// block (Z 6), light under zero alpha, a colour above 1, a sentinel and a NaN
// depth. `noise`: every value random instead.
FlatImage scene(bool noise = false) {
    FlatImage s =
        filled(24, 16, {"R", "G", "B", "A", "Z", "id", "N.x"}, OIIO::TypeDesc::FLOAT,
               [](int x, int y, int c) {
                   const float id = float(x * 100 + y), n = -0.5f + 0.01f * float(x);
                   const float v[4][7] = {
                       {(x + y) % 2 ? 0.8f : 0.2f, 0.5f, 0.25f * float(y % 4), 1, 10, id, n},
                       {0.1f, (x % 3) * 0.4f, 0.9f, 1, 25, id, n},
                       {0.25f, 0.125f * float(x % 4), 0.0625f, 0.5f, 6, id, n},
                       {0, 0, 0, 0, 0, id, n}};
                   return v[x < 8 ? 0 : x < 16 ? 1 : y >= 8 ? 2 : 3][c];
               });
    s.stringAttributes = {
        {"Software", "scene writer 1.0"}, {"comments", "keep me"}, {"studio:shot", "sq010"}};
    s.at(20, 3, 0) = 0.3f;
    s.at(10, 5, 0) = 3.0f;
    s.at(12, 12, 4) = 1e10f;
    s.at(13, 12, 4) = std::nanf("");
    s.at(3, 3, 4) = 10.5f;
    if (noise)
        for (std::size_t i = 0; i < s.pixels.size(); ++i)
            s.pixels[i] = float((i * 2654435761u) % 1000u) / 1000.0f;
    return s;
}

// 40 x 80 opaque: bands of 16 rows at distances 10 (focus), 11, 12.5, 15 and
// 7.5, each bright on the left half and dark on the right.
FlatImage edgeBands() {
    return filled(40, 80, kRGBAZ, OIIO::TypeDesc::FLOAT, [](int x, int y, int c) {
        const float distances[] = {10, 11, 12.5f, 15, 7.5f};
        return c == 4 ? distances[y / 16] : c == 3 ? 1.0f : x < 20 ? 0.9f : 0.1f;
    });
}

// One opaque row: depths as given, colour 1; with `sensorPixels`, a 36 mm
// sensor across that many, untagged or (`tagged`) with f/2.5, 50 mm and the
// sensor in its header (the f-number `aperture`).
FlatImage depthRow(std::vector<float> z, int sensorPixels = 0, bool tagged = false,
                   float aperture = 2.5f) {
    FlatImage s = filled(int(z.size()), 1, kRGBAZ, OIIO::TypeDesc::FLOAT, [&](int x, int, int c) {
        return c == 4 ? z[std::size_t(x)] : c == 0 || c == 3 ? 1.0f : 0.0f;
    });
    s.fullWidth = sensorPixels, s.fullHeight = sensorPixels ? 2000 : 0;
    const float sensor[2] = {36, 20};
    if (tagged)
        s.attributes = {
            OIIO::ParamValue("aperture", aperture), OIIO::ParamValue("pinholeFocalLength", 50.0f),
            OIIO::ParamValue("sensorOverallDimensions",
                             OIIO::TypeDesc(OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::VEC2), 1,
                             sensor),
            OIIO::ParamValue("focus", 5.05f)};
    return s;
}

// A lens in the header with its f-number and focal length but no sensor.
FlatImage withoutSensor(FlatImage s) {
    s.attributes.erase(std::remove_if(s.attributes.begin(), s.attributes.end(),
                                      [](const OIIO::ParamValue& p) {
                                          return p.name() == "sensorOverallDimensions";
                                      }),
                       s.attributes.end());
    return s;
}

// Frame N of a shot, 32 x 2: on row 0 a subject 3 pixels wide coming nearer
// and moving right (columns N + 3 to N + 5, depth 40 - N) before a wall at
// 100; on row 1 depths 4 + 36 x / 23 up to x = 23, then the wall, so that a
// pull from 4 to 40 over frames 1 to 24 finds its focus at column N - 1.
Writer shotFrame() {
    return [](const std::string& path) {
        std::smatch number;
        std::regex_search(path, number, std::regex("\\.([0-9]+)\\.exr$"));
        const int n = std::stoi(number[1]);
        dof::test::writeFlat(path, filled(32, 2, kRGBAZ, OIIO::TypeDesc::FLOAT,
                                          [&](int x, int y, int c) {
            const bool subject = y == 0 && x >= n + 3 && x <= n + 5;
            const float depth = y == 1 && x < 24 ? 4.0f + 36.0f * float(x) / 23.0f
                                : subject        ? float(40 - n)
                                                 : 100.0f;
            return c == 4 ? depth : c == 3 || c == (subject ? 0 : 1) ? 1.0f : 0.0f;
        }));
    };
}

Writer text(const std::string& contents) {
    return [=](const std::string& path) { writeBytes(path, contents); };
}

// 8-bit codes v(x, y, channel) in the channels named, straight alpha.
FlatImage bytesImage(int w, int h, std::vector<std::string> names,
                     const std::function<int(int, int, int)>& v) {
    FlatImage image = filled(w, h, std::move(names), OIIO::TypeDesc::UINT8,
                             [&](int x, int y, int c) { return float(v(x, y, c)) / 255.0f; });
    image.unassociatedAlpha = true;
    return image;
}

// 96 x 40 codes, black up to x = 47 and white from 48; `boxed`: as the box
// of radius 3 leaves it, its 7-sample means 255 k / 7 truncated to 36, 72,
// 109, 145, 182 and 218 for k = 1 to 6 white samples, in every row.
FlatImage edge(std::vector<std::string> names, bool boxed = false) {
    const int ramp[8] = {0, 36, 72, 109, 145, 182, 218, 255};  // x = 44 to 51
    return bytesImage(96, 40, std::move(names), [=](int x, int, int) {
        return !boxed ? (x < 48 ? 0 : 255) : x < 44 ? 0 : x > 51 ? 255 : ramp[x - 44];
    });
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

// Deep pixels at the focus (10): empty, one to three samples, or two
// half-transparent ones.
std::vector<std::vector<TestSample>> deepAtFocus() {
    std::vector<std::vector<TestSample>> samples(16 * 8);
    unsigned seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return float((seed >> 8) & 0xFFFF) / 65535.0f;
    };
    for (int p = 0; p < 16 * 8; ++p) {
        const int kind = p % 5, count = kind == 0 ? 0 : (kind == 4 ? 2 : kind);
        for (int k = 0; k < count; ++k) {
            const float a = (k == count - 1 && kind != 4) ? 1.0f : 0.2f + 0.5f * next();
            samples[std::size_t(p)].push_back({a * next(), a * next(), a * next(), a, 10.0f});
        }
    }
    return samples;
}

// Every pixel: a half-transparent grey sample at the focus over an opaque
// black one at 40; at the centre (20, 20) the front one is greener and the far
// one red.
std::vector<std::vector<TestSample>> deepLayers() {
    std::vector<std::vector<TestSample>> samples(
        41 * 41, {{0.25f, 0.25f, 0.25f, 0.5f, 10.0f}, {0.0f, 0.0f, 0.0f, 1.0f, 40.0f}});
    samples[20 * 41 + 20] = {{0.25f, 0.5f, 0.25f, 0.5f, 10.0f}, {1.0f, 0.0f, 0.0f, 1.0f, 40.0f}};
    return samples;
}

// A colour pattern over 16 x 12.
float pattern(int x, int y, int c) { return float((x * 7 + y * 3 + c * 5) % 11) / 10.0f; }

// 16 x 12 float, the pattern in the first three channels.
FlatImage patterned(std::vector<std::string> names) {
    return filled(16, 12, std::move(names), OIIO::TypeDesc::FLOAT,
                  [](int x, int y, int c) { return c < 3 ? pattern(x, y, c) : 0.0f; });
}

// Both views of a stereo file see the same opaque colour, the right one at
// the focus (10), the left one four times as far; `alone`: the left view on
// its own.
FlatImage stereo(bool alone) {
    FlatImage s = filled(16, 12,
                         alone ? kRGBAZ
                               : std::vector<std::string>{"R", "G", "B", "A", "Z", "left.R",
                                                          "left.G", "left.B", "left.A", "left.Z"},
                         OIIO::TypeDesc::FLOAT, [=](int x, int y, int c) {
                             return c % 5 < 3        ? pattern(x, y, c % 5)
                                    : c % 5 == 3     ? 1.0f
                                    : alone || c > 5 ? 40.0f
                                                     : 10.0f;
                         });
    const char* views[] = {"right", "left"};
    if (!alone)
        s.attributes.emplace_back("multiView", OIIO::TypeDesc(OIIO::TypeDesc::STRING, 2), 1, views);
    return s;
}

// stereo(false) and an object id, kept sharp.
FlatImage stereoWithId() {
    const FlatImage views = stereo(false);
    std::vector<std::string> names = views.channels;
    names.push_back("id");
    FlatImage s = filled(16, 12, names, OIIO::TypeDesc::FLOAT, [&](int x, int y, int c) {
        return c < 10 ? views.at(x, y, c) : float(x % 3);
    });
    s.attributes = views.attributes;
    return s;
}

// Colour as the sum of two colour layers, normals in colour's names; alpha
// empty, half and whole by columns; light under zero alpha in one layer only.
FlatImage aovs() {
    const std::vector<std::string> names = {
        "R",         "G",          "B",          "A",          "Z",   "diffuse.R", "diffuse.G",
        "diffuse.B", "specular.R", "specular.G", "specular.B", "N.R", "N.G",       "N.B"};
    FlatImage in = filled(16, 12, names, OIIO::TypeDesc::FLOAT, [](int x, int y, int c) {
        const int k = c < 5 ? c % 3 : (c - 5) % 3;  // the channel's place in its layer
        const float alpha = x < 4 ? 0.0f : (x < 8 ? 0.5f : 1.0f), colour = pattern(x, y, k) * alpha;
        // A share that changes from pixel to pixel: each layer alone would
        // be cut differently at a depth step from the colour they sum to.
        const float diffuse = colour * (0.1f + 0.2f * float((3 * x + y) % 4));
        const float specular = colour - diffuse;
        const float values[] = {
            diffuse + specular, alpha, float(2 + (x + y) % 5), diffuse, specular, float(x - y + k)};
        return values[c < 3 ? 0 : c < 5 ? c - 2 : 3 + (c - 5) / 3];
    });
    in.at(2, 3, 5) = 0.0f, in.at(2, 3, 8) = in.at(2, 3, 0) = 2.0f;
    return in;
}

// Three parts: colour with depth, the same colour as a part of its own, and
// data on a window of its own.
void writeThreeParts(const std::string& path) {
    const FlatImage beauty = filled(16, 12, kRGBAZ, OIIO::TypeDesc::FLOAT, [](int x, int y, int c) {
        return c < 3 ? pattern(x, y, c) : c == 3 ? 1.0f : float(1 + (y * 16 + x) % 7);
    });
    std::vector<OIIO::ImageSpec> specs = {OIIO::ImageSpec(16, 12, 5, OIIO::TypeDesc::HALF),
                                          OIIO::ImageSpec(16, 12, 3, OIIO::TypeDesc::HALF),
                                          OIIO::ImageSpec(3, 2, 1, OIIO::TypeDesc::FLOAT)};
    specs[0].channelnames = beauty.channels;
    specs[2].x = 5, specs[2].y = 4, specs[2].channelnames = {"mask"};
    specs[2].full_x = specs[2].full_y = 0, specs[2].full_width = 16, specs[2].full_height = 12;
    const char* names[] = {"rgba", "diffuse", "notes"};
    for (int i = 0; i < 3; ++i) specs[std::size_t(i)].attribute("name", names[i]);
    dof::test::writeParts(
        path, specs, {beauty.pixels, patterned({"R", "G", "B"}).pixels, {0.5f, 1, 2, 3, 4, 5}});
}

// Colour of the right view on a 2 x 2 window at (10, 10) of 20 x 20, the
// left view's depth (99) on the same window, then the right view's depth (5,
// 6, 7, 8) on the window one pixel to the right.
void writeViewParts(const std::string& path) {
    OIIO::ImageSpec colour(2, 2, 4, OIIO::TypeDesc::FLOAT), left(2, 2, 1, OIIO::TypeDesc::FLOAT);
    left.channelnames = {"Z"};
    for (OIIO::ImageSpec* s : {&colour, &left}) {
        s->x = s->y = 10;
        s->full_width = s->full_height = 20;
        s->attribute("view", s == &left ? "left" : "right");
    }
    OIIO::ImageSpec right = left;
    right.x = 11;
    right.attribute("view", "right");
    const std::vector<float> opaque = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    dof::test::writeParts(path, {colour, left, right}, {opaque, {99, 99, 99, 99}, {5, 6, 7, 8}});
}

// The views of stereo(false) as parts rgba_VIEW and depth_VIEW, each with
// its `view`; left first or right first, `multiView` in every header or none.
void writeStereoParts(const std::string& path, bool rightFirst, bool multiView) {
    std::vector<OIIO::ImageSpec> specs;
    std::vector<std::vector<float>> pixels;
    for (const char* view : rightFirst ? std::vector<const char*>{"right", "left"}
                                       : std::vector<const char*>{"left", "right"}) {
        const FlatImage colour = filled(16, 12, {"R", "G", "B", "A"}, OIIO::TypeDesc::FLOAT,
                                        [](int x, int y, int c) { return c < 3 ? pattern(x, y, c) : 1.0f; });
        const float z = std::string(view) == "right" ? 10.0f : 40.0f;
        for (const bool depth : {false, true}) {
            OIIO::ImageSpec header(16, 12, depth ? 1 : 4, OIIO::TypeDesc::FLOAT);
            header.channelnames = depth ? std::vector<std::string>{"Z"} : colour.channels;
            header.attribute("name", std::string(depth ? "depth_" : "rgba_") + view);
            header.attribute("view", view);
            const char* views[] = {"left", "right"};
            if (multiView)
                header.attribute("multiView", OIIO::TypeDesc(OIIO::TypeDesc::STRING, 2), views);
            specs.push_back(header);
            pixels.push_back(depth ? std::vector<float>(16 * 12, z) : colour.pixels);
        }
    }
    dof::test::writeParts(path, specs, pixels);
}

// Six 16 x 16 blocks (whole JPEG blocks) across 96 x 16, as stored: colour
// and alpha.
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

// The blocks in each kind of input the output encodings start from.
struct BlockInput {
    std::vector<std::string> channels;
    std::vector<OIIO::TypeDesc> formats;
    bool display;  // 8/16-bit codes, straight alpha
};
const std::map<std::string, BlockInput>& blockInputs() {
    const OIIO::TypeDesc h = OIIO::TypeDesc::HALF, f = OIIO::TypeDesc::FLOAT;
    static const std::map<std::string, BlockInput> inputs = {
        {"half.exr", {{"R", "G", "B", "A", "Z"}, {h, h, h, h, f}, false}},  // a renderer's default
        {"float.exr", {{"R", "G", "B", "A", "Z"}, {f}, false}},
        {"blocks.png", {{"R", "G", "B", "A"}, {OIIO::TypeDesc::UINT8}, true}},
        {"blocks.tif", {{"R", "G", "B"}, {OIIO::TypeDesc::UINT16}, true}},
    };
    return inputs;
}

FlatImage blockImage(const BlockInput& in) {
    FlatImage image = filled(96, 16, in.channels, in.formats[0], [&](int x, int, int c) {
        const Block& b = in.display ? kDisplay[x / 16] : kLinear[x / 16];
        const double scale = in.display ? 255.0 : 1.0;
        return in.channels[std::size_t(c)] == "Z" ? 10.0f
               : c < 3                            ? float(b.c[c] / scale)
                                                  : float(b.a / scale);
    });
    image.formats = in.formats;
    image.unassociatedAlpha = in.display;
    return image;
}

// The inputs a case can ask for, by file name. Each writes `path`, in a
// folder that holds the inputs named before it.
const std::map<std::string, Writer>& generators() {
    const OIIO::TypeDesc f = OIIO::TypeDesc::FLOAT;
    static const std::map<std::string, Writer> made = {
        {"in.exr", flat(squares())},
        {"z.exr", flat(squares())},
        {"z48.exr", flat(dof::test::makeFlat(64, 48, {"Z"}, f))},
        {"aspect.exr", flat(squares(1e-6f))},
        {"tiled.exr", flat(squares(1, {0, 0, 0, 0}))},
        // tiled.exr with NaN, infinite and -infinite values at (20, 20)
        {"nan.exr", flat(squares(1, {NAN, INFINITY, -INFINITY, NAN}))},
        {"scene.exr", flat(scene())},
        {"bands.exr", flat(edgeBands())},
        {"coc.exr", flat(depthRow({10, 15, 20, 12.5f, 0}))},
        // coc.exr's depths under other colours and alpha
        {"recoloured.exr", flat(filled(5, 1, kRGBAZ, f, [](int x, int, int c) {
             const float z[] = {10, 15, 20, 12.5f, 0};
             return c == 4 ? z[x] : 0.25f * float(c + x);
         }))},
        {"lens.exr", flat(depthRow({5.05f, 10.1f, 2.525f, 1.01f}, 3600))},
        {"tagged.exr", flat(depthRow({5.05f, 10.1f, 2.525f, 1.01f}, 3600, true))},
        {"tagged_f0.exr", flat(depthRow({5.05f, 10.1f, 2.525f, 1.01f}, 3600, true, 0.0f))},
        {"tagged_nosensor.exr", flat(withoutSensor(depthRow({5.05f, 10.1f, 2.525f, 1.01f}, 3600,
                                                            true)))},
        {"shot.exr", shotFrame()},
        {"pull.txt", text("# frame distance, from a camera export\n1 4\n\n24\t40  # far\n")},
        {"track.txt", text("1, 5, 0\n24, 28, 0\n")},
        {"badkeys.txt", text("1 4\n# comment\n7 near\n")},
        {"window.exr",  // a 4 x 4 data window at (20, 3) of a 40 x 30 frame, opaque at 50
         flat([] {
             FlatImage s = filled(4, 4, kRGBAZ, OIIO::TypeDesc::HALF, [](int, int, int c) {
                 return c == 4 ? 50.0f : c == 0 || c == 3 ? 1.0f : 0.0f;
             });
             s.x = 20, s.y = 3, s.fullWidth = 40, s.fullHeight = 30;
             return s;
         }())},
        {"names.exr",  // no Z: depth.Z 4 and 0.5, cam.z -6 and 3
         flat(filled(2, 1, {"R", "G", "B", "A", "depth.Z", "cam.z"}, f,
                     [](int x, int, int c) {
                         const float values[] = {4.0f, -6.0f, 0.5f, 3.0f};
                         return c < 4 ? 0.0f : values[x * 2 + c - 4];
                     }))},
        {"nodepth.exr",
         flat(dof::test::makeFlat(4, 4, {"R", "G", "B", "A"}, OIIO::TypeDesc::HALF))},
        {"junk.exr", [](const std::string& p) { writeBytes(p, "not an image at all"); }},
        {"cut.exr", cut(scene(true), 2.0 / 3)},  // two thirds of a scene of random values
        {"cut.tif",  // an uncompressed 16-bit TIFF cut inside its strips
         cut(
             [] {
                 FlatImage image = filled(64, 48, {"R", "G", "B", "A"}, OIIO::TypeDesc::UINT16,
                                          [](int x, int y, int c) {
                                              const std::size_t i((y * 64 + x) * 4 + c);
                                              return float((i * 7919u) % 65536u) / 65535.0f;
                                          });
                 image.stringAttributes = {{"compression", "none"}};
                 return image;
             }(),
             0.6)},
        {"huge.png",  // a 4 x 4 PNG whose header claims 100000 x 100000, checksum right
         flat(dof::test::makeFlat(4, 4, {"R", "G", "B"}, OIIO::TypeDesc::UINT8),
              [](std::string& bytes) {
                  for (int at : {16, 20})
                      for (int i = 0; i < 4; ++i)
                          bytes[std::size_t(at + i)] = char(100000 >> (24 - 8 * i));
                  const std::uint32_t crc = pngCrc(bytes.substr(12, 17));
                  for (int i = 0; i < 4; ++i)
                      bytes[std::size_t(29 + i)] = char(crc >> (24 - 8 * i));
              })},
        {"bad.png",  // damaged compressed pixels: libpng says so itself
         flat(bytesImage(64, 64, {"R", "G", "B"},
                         [](int x, int y, int c) { return (x * 3 + y * 192 + c) % 251; }),
              [](std::string& bytes) { bytes[bytes.find("IDAT") + 20] ^= char(0xFF); })},
        {"deep.exr", [](const std::string& p) { dof::test::writeDeep(p, 16, 8, deepAtFocus()); }},
        {"layers.exr", [](const std::string& p) { dof::test::writeDeep(p, 41, 41, deepLayers()); }},
        {"flat.png",  // alpha 3 shows any premultiplying on the way
         flat(bytesImage(96, 40, {"R", "G", "B", "A"},
                         [](int, int, int c) { return c == 3 ? 3 : 13 + 64 * c; }))},
        {"edge.png", flat(edge({"Y"}))},
        {"edge3.png", flat(edge({"R", "G", "B"}))},
        {"ramp.png", flat(edge({"Y"}, true))},
        {"black.png", flat(filled(8, 8, {"Y"}, OIIO::TypeDesc::UINT8, [](int, int, int) { return 0; }))},
        {"empty.png", [](const std::string& p) { writeBytes(p, ""); }},
        {"half.exr", flat(blockImage(blockInputs().at("half.exr")))},
        {"float.exr", flat(blockImage(blockInputs().at("float.exr")))},
        {"blocks.png", flat(blockImage(blockInputs().at("blocks.png")))},
        {"blocks.tif", flat(blockImage(blockInputs().at("blocks.tif")))},
        {"z96.exr",  // for the blocks: 10 (the focus) on the left half, 40 on the right
         flat(filled(96, 16, {"Z"}, f, [](int x, int, int) { return x < 48 ? 10.0f : 40.0f; }))},
        {"stereo.exr", flat(stereo(false))},
        {"left.exr", flat(stereo(true))},
        {"stereo-id.exr", flat(stereoWithId())},
        {"aovs.exr", flat(aovs())},
        {"parts.exr", writeThreeParts},
        {"views.exr", writeViewParts},
        {"stereo-parts.exr", [](const std::string& p) { writeStereoParts(p, false, true); }},
        {"stereo-parts-right-first.exr",
         [](const std::string& p) { writeStereoParts(p, true, true); }},
        {"stereo-parts-no-multiview.exr",
         [](const std::string& p) { writeStereoParts(p, false, false); }},
        {"stereo-parts-right-first-no-multiview.exr",
         [](const std::string& p) { writeStereoParts(p, true, false); }},
        {"link.exr",
         [](const std::string&
                p) { link((p.substr(0, p.size() - 8) + "in.exr").c_str(), p.c_str()); }},
        {"alias",
         [](const std::string& p) { symlink(p.substr(0, p.size() - 6).c_str(), p.c_str()); }},
        {"fifo.exr", [](const std::string& p) { mkfifo(p.c_str(), 0600); }},
        {"file", [](const std::string& p) { writeBytes(p, "not a folder"); }},
    };
    return made;
}

// What a case finds in its folder afterwards, to check pixels with.
struct Outcome {
    std::string dir;
    dof::test::CommandResult run;
    std::vector<dof::test::CommandResult> before;
    std::string file(const std::string& name) const { return dir + "/" + name; }
    // NAME[@PART]: a part of a multi-part file.
    FlatImage read(const std::string& name, OIIO::ImageSpec* header = nullptr) const {
        const std::size_t at = name.find('@');
        return dof::test::readFlat(file(name.substr(0, at)), header,
                                   at == std::string::npos ? 0 : std::stoi(name.substr(at + 1)));
    }
};

// One case of cases/*.txt (cases/README.md); `name` names its test.
struct Case {
    std::string where, why, name, unknownKeys;
    std::vector<std::string> inputs, args, made, out, env;
    std::vector<std::vector<std::string>> before, checks;
    std::string err, status = "0";
};

std::string unescape(std::string text) {
    for (std::size_t at; (at = text.find("\\n")) != std::string::npos;) text.replace(at, 2, "\n");
    return text;
}

// Words apart by blanks, "..." keeping blanks.
std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> list;
    for (std::string word; in >> std::quoted(word);) list.push_back(unescape(word));
    return list;
}

std::vector<Case> readCases() {
    std::vector<Case> cases;
    for (const std::string& name : dof::test::namesIn(DOF_TEST_SOURCE_DIR "/tests/tool/cases")) {
        const std::string file = DOF_TEST_SOURCE_DIR "/tests/tool/cases/" + name;
        if (std::filesystem::path(name).extension() != ".txt") continue;
        std::ifstream in(file);
        std::string line;
        bool open = false;
        for (int number = 1; std::getline(in, line); ++number) {
            if (line.empty() || line[0] == '#') {
                open = open && !line.empty();
                continue;
            }
            const std::size_t colon = line.find(':');
            const std::string key = line.substr(0, colon);
            const std::string value = colon + 1 < line.size() ? line.substr(colon + 2) : "";
            if (!open)
                cases.emplace_back(), cases.back().where = file + ":" + std::to_string(number);
            open = true;
            Case& c = cases.back();
            const std::map<std::string, std::vector<std::string> Case::*> lists = {
                {"inputs", &Case::inputs},
                {"run", &Case::args},
                {"made", &Case::made},
                {"env", &Case::env}};
            const std::map<std::string, std::string Case::*> texts = {{"case", &Case::why},
                                                                      {"status", &Case::status}};
            if (lists.count(key))
                c.*lists.at(key) = words(value);
            else if (texts.count(key))
                c.*texts.at(key) = value;
            else if (key == "before" || key == "check")
                (key == "before" ? c.before : c.checks).push_back(words(value));
            else if (key == "err")
                c.err += (c.err.empty() ? "" : "\ndof3d: ") + value;
            else if (key == "stdout")
                c.out.push_back(unescape(value));
            else
                c.unknownKeys += key + " ";
        }
    }
    // The file's name and the case's title in the letters and digits a test
    // name may hold, numbered when two come out alike.
    std::set<std::string> taken;
    for (Case& c : cases) {
        const std::string file = c.where.substr(0, c.where.rfind(':'));
        const std::string title = std::filesystem::path(file).stem().string() + " " + c.why + " ";
        const std::string base = std::regex_replace(title, std::regex("[^A-Za-z0-9]+"), "_");
        c.name = base.substr(0, base.size() - 1);
        for (int n = 2; !taken.insert(c.name).second; ++n) c.name = base + std::to_string(n);
    }
    return cases;
}

// {d} is the case's folder, {s} the sample images beside the checkout.
std::string inFolder(std::string text, const std::string& folder) {
    for (std::size_t at; (at = text.find("{d}")) != std::string::npos;) text.replace(at, 3, folder);
    for (std::size_t at; (at = text.find("{s}")) != std::string::npos;)
        text.replace(at, 3, DOF_TEST_SOURCE_DIR "/../shared/data/openexr-images");
    return text;
}

std::vector<std::string> command(const std::vector<std::string>& args, const std::string& dir) {
    std::vector<std::string> all = {dof::test::dof3dPath()};
    for (const std::string& a : args) all.push_back(inFolder(a, dir));
    const bool takesEffects = !args.empty() && args[0] != "blur" && args[0] != "--version";
    if (takesEffects && std::find(args.begin(), args.end(), "--effects") == args.end())
        all.insert(all.end(), {"--effects", DOF_TEST_EFFECTS_DIR});
    return all;
}

// --- checks -------------------------------------------------------------

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The values FILE[@PART][:CH,CH...][#X0-X1[,Y0-Y1]] names, row by row: every
// channel when none are named, every column and row when no range is.
std::vector<float> valuesOf(const Outcome& o, const std::string& what) {
    const std::size_t colon = what.find(':'), hash = what.find('#');
    const FlatImage image = o.read(what.substr(0, std::min(colon, hash)));
    std::string list = what.substr(colon + 1, hash - colon - 1);
    std::replace(list.begin(), list.end(), ',', ' ');
    const std::vector<std::string> names =
        colon == std::string::npos ? image.channels : words(list);
    int from = 0, to = image.width, top = 0, bottom = image.height;
    if (hash != std::string::npos)
        std::sscanf(what.c_str() + hash + 1, "%d-%d,%d-%d", &from, &to, &top, &bottom);
    if (to > image.width || bottom > image.height) ADD_FAILURE() << what << ": outside the image";
    to = std::min(to, image.width);
    bottom = std::min(bottom, image.height);
    std::vector<int> channels;
    for (const std::string& name : names) {
        channels.push_back(int(std::find(image.channels.begin(), image.channels.end(), name) -
                               image.channels.begin()));
        if (channels.back() == int(image.channels.size())) ADD_FAILURE() << what << ": no " << name;
    }
    std::vector<float> values;
    for (int y = top; y < bottom; ++y)
        for (int x = from; x < to; ++x)
            for (int c : channels)
                if (c < int(image.channels.size())) values.push_back(image.at(x, y, c));
    EXPECT_FALSE(values.empty()) << what;
    return values;
}

// Deep samples at the focus flatten by over-compositing front to back.
void flattensTheSamples(const Outcome& o) {
    OIIO::ImageSpec header;
    const FlatImage got = o.read("out.exr", &header);
    const auto samples = deepAtFocus();
    ASSERT_EQ(got.channels, (std::vector<std::string>{"R", "G", "B", "A", "Z"}));
    EXPECT_EQ(header.channelformat(0), OIIO::TypeDesc::HALF);
    EXPECT_EQ(header.channelformat(4), OIIO::TypeDesc::FLOAT);
    for (int p = 0; p < 16 * 8; ++p) {
        double out[4] = {0, 0, 0, 0}, through = 1.0;
        for (const TestSample& s : samples[std::size_t(p)]) {
            const double stored[4] = {float(half(s.r)), float(half(s.g)), float(half(s.b)),
                                      float(half(s.a))};
            for (int c = 0; c < 4; ++c) out[c] += stored[c] * through;
            through *= 1.0 - stored[3];
        }
        // Colour to the byte that carries a fragment's share, alpha as well
        // (and to half precision) where the pixel is partly covered.
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(got.at(p % 16, p / 16, c), out[c], 1 / 255.0) << p;
        EXPECT_TRUE(out[3] != 1.0 || got.at(p % 16, p / 16, 3) == 1.0f) << p;
        EXPECT_NEAR(got.at(p % 16, p / 16, 3), out[3], 0.5 / 255 + 1e-3) << p;
        EXPECT_TRUE(samples[std::size_t(p)].empty() || got.at(p % 16, p / 16, 4) == 10.0f) << p;
    }
}

// The Gaussian spreads the edge a few pixels (the case's rows check how
// far), rising and mirrored.
void gaussianEdge(const Outcome& o) {
    const FlatImage got = o.read("out.png");
    ASSERT_EQ(got.width, 96);
    const auto at = [&](int x) { return std::lround(got.at(x, 20, 0) * 255); };
    for (int x = 36; x < 60; ++x) EXPECT_LE(at(x), at(x + 1)) << x;
    for (int d = 0; d < 8; ++d) EXPECT_NEAR(255 - at(47 - d), at(48 + d), 1) << d;
}

double toDisplay(double v) {
    return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
}
double toLinear(double e) { return e <= 0.04045 ? e / 12.92 : std::pow((e + 0.055) / 1.055, 2.4); }

// The value channel c of block `b` should hold in a file of `type` with
// alpha `alpha` (P premultiplied, S straight, B composited over black, -
// none), before the type's rounding.
double encoded(const BlockInput& in, OIIO::TypeDesc type, char alpha, const Block& block, int c) {
    const double scale = in.display ? 255.0 : 1.0, a = block.a / scale;
    if (c == 3 || c == 4) return c == 3 && alpha != '-' ? a : 10.0;
    double v = block.c[c] / scale;
    const bool displayOut = !type.is_floating_point();
    if (alpha == 'B')  // colour over black, in the input's encoding
        return in.display ? v * a : (displayOut ? toDisplay(v) : v);
    if (!in.display && a > 0) v /= a;  // straight, for the conversion
    if (displayOut != in.display) v = displayOut ? toDisplay(v) : toLinear(v);
    return alpha == 'P' && a > 0 ? v * a : v;
}

// encoding IN OUT TYPE CHANNELS ALPHA: OUT, rendered unblurred from the
// blocks of IN, holds them in TYPE (every channel but a float Z beside half
// colour) and CHANNELS channels, colour linear or encoded for display as the
// type asks, checked against the sRGB formulas written out above.
void encodesTheBlocks(const Outcome& o, const std::vector<std::string>& a) {
    const BlockInput& in = blockInputs().at(a[1]);
    const OIIO::TypeDesc type(a[3].c_str());
    const bool jpeg = a[2].find(".jpg") != std::string::npos;
    OIIO::ImageSpec header;
    const FlatImage got = o.read(a[2], &header);
    ASSERT_EQ(header.nchannels, std::stoi(a[4]));
    EXPECT_EQ(header.channelformat(0), type);
    // The settings are recorded where the file type has a place for them.
    const std::string extension = a[2].substr(a[2].rfind('.'));
    EXPECT_EQ(header.get_string_attribute(jpeg ? "Exif:ImageHistory" : "dof3d:settings").empty(),
              extension != ".exr" && extension != ".png" && !jpeg);
    const bool converted = (!type.is_floating_point()) != in.display;
    const double codes = type == OIIO::TypeDesc::UINT8 ? 255.0 : 65535.0;
    int mismatches = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 96; ++x)
            for (int c = 0; c < header.nchannels; ++c) {
                // JPEG's halved chroma smooths across the blocks' edges.
                if (jpeg && (x % 16 < 2 || x % 16 > 13)) continue;
                const Block& block = in.display ? kDisplay[x / 16] : kLinear[x / 16];
                const double e = encoded(in, type, a[5][0], block, c);
                const double g = got.at(x, y, c);
                bool ok;
                if (!header.channelformat(c).is_floating_point()) {
                    // Codes: exact when only the data type changes, one off
                    // for the float sRGB curve, three for JPEG's blocks.
                    const double tolerance = jpeg ? 3 : (converted && c < 3 ? 1 : 0);
                    ok = std::fabs(std::round(std::clamp(e, 0.0, 1.0) * codes) -
                                   std::round(g * codes)) <= tolerance;
                } else {  // half or float: to the type's precision, or its very value
                    const bool isHalf = header.channelformat(c) == OIIO::TypeDesc::HALF;
                    ok = converted && c < 3
                             ? std::fabs(g - e) <= std::fabs(e) * (isHalf ? 0x1p-10 : 1e-4)
                             : (isHalf ? float(half(float(e))) : float(e)) == float(g);
                }
                if (!ok && ++mismatches <= 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << " expected "
                                  << e << " got " << g;
            }
    EXPECT_EQ(mismatches, 0);
}

// FILE, then KEY=VALUE: a header field (x, y, width, height, nchannels,
// full_width, deep, channels, format) or a text attribute (texts joined by
// commas, empty when there is none); KEY^FILE2:
// the same attribute as FILE2's, which must have it.
void headerHolds(const Outcome& o, const std::vector<std::string>& a) {
    const auto field = [](const OIIO::ImageSpec& s, const std::string& key) {
        const std::string keys[] = {"x", "y", "width", "height", "deep", "full_width", "nchannels"};
        const long numbers[] = {s.x, s.y, s.width, s.height, s.deep, s.full_width, s.nchannels};
        const auto number = std::find(std::begin(keys), std::end(keys), key);
        if (number != std::end(keys)) return std::to_string(numbers[number - keys]);
        if (key == "channels") return OIIO::Strutil::join(s.channelnames, ",");
        if (key == "format") return std::string(s.format.c_str());
        // Text, or a list of texts (multiView) joined by commas.
        const OIIO::ParamValue* text = s.find_attribute(key);
        std::string joined;
        if (text != nullptr && text->type().basetype == OIIO::TypeDesc::STRING)
            for (int i = 0; i < text->nvalues() * int(text->type().basevalues()); ++i)
                joined += (i ? "," : "") + std::string(text->get_string_indexed(i));
        return joined;
    };
    OIIO::ImageSpec header, other;
    o.read(a[1], &header);
    for (std::size_t i = 2; i < a.size(); ++i) {
        const std::size_t at = a[i].find_first_of("=^");
        const std::string key = a[i].substr(0, at), value = a[i].substr(at + 1);
        if (a[i][at] == '^') {
            dof::test::readFlat(inFolder(value, o.dir), &other);
            ASSERT_NE(field(other, key), "") << key;
        }
        EXPECT_EQ(field(header, key), a[i][at] == '^' ? field(other, key) : value) << key;
    }
}

// The checks a case can name; each is handed the check's words, its name
// first.
using Check = std::function<void(const Outcome&, const std::vector<std::string>&)>;
const std::map<std::string, Check>& checks() {
    // same A B: every value A names has the bits of B's; differ A B N: more
    // than N of them differ; less A B: each is below B's; sum A B C: A's are
    // B's plus C's, to float rounding; bytes A V...: A's, as 8-bit codes, are
    // V; values A V...: A's are V to a millionth.
    const Check compare = [](const Outcome& o, const std::vector<std::string>& a) {
        const bool bytes = a[0] == "bytes" || a[0] == "values";
        const std::vector<float> x = valuesOf(o, a[1]),
                                 y = bytes ? std::vector<float>(a.size() - 2) : valuesOf(o, a[2]),
                                 z = a[0] == "sum" ? valuesOf(o, a[3]) : y;
        ASSERT_TRUE(x.size() == y.size() && z.size() == y.size());
        long differing = 0, wrong = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            differing += !sameBits(x[i], y[i]);
            const bool bad = a[0] == "same"   ? !sameBits(x[i], y[i])
                             : a[0] == "less" ? !(x[i] < y[i])
                             : a[0] == "sum"
                                 ? !(std::fabs(double(x[i]) - double(y[i] + z[i])) <= 1e-5)
                             : a[0] == "values"
                                 ? !(std::fabs(double(x[i]) - std::stod(a[i + 2])) <= 1e-6)
                                 : bytes && std::lround(x[i] * 255) != std::stol(a[i + 2]);
            if (bad && ++wrong <= 3) ADD_FAILURE() << "value " << i << ": " << x[i] << ", " << y[i];
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_TRUE(a[0] != "differ" || differing > std::stol(a[3])) << differing << " differ";
    };
    static const std::map<std::string, Check> named = {
        {"same", compare},
        {"differ", compare},
        {"less", compare},
        {"sum", compare},
        {"bytes", compare},
        {"values", compare},
        {"header", headerHolds},
        {"encoding", encodesTheBlocks},
        // files FOLDER NAME...: what the folder holds
        {"files",
         [](const Outcome& o, const auto& a) {
             EXPECT_EQ(dof::test::namesIn(o.file(a[1])),
                       std::vector<std::string>(a.begin() + 2, a.end()));
         }},
        {"flattened", [](const Outcome& o, const auto&) { flattensTheSamples(o); }},
        {"gaussian-edge", [](const Outcome& o, const auto&) { gaussianEdge(o); }},
    };
    return named;
}

class Cases : public testing::TestWithParam<Case> {};

// A case shows as its file and line in failures and in the list of tests.
void PrintTo(const Case& c, std::ostream* out) { *out << c.where; }

// A case in a folder of its own: its inputs made, its runs, then its checks.
TEST_P(Cases, Run) {
    const Case& c = GetParam();
    SCOPED_TRACE(c.where + ": " + c.why);
    EXPECT_EQ(c.unknownKeys, "") << "unknown keys";
    // Cases on the sample images run where the images sit beside the checkout.
    if (std::any_of(c.args.begin(), c.args.end(),
                    [](const std::string& a) { return a.find("{s}") != std::string::npos; }) &&
        !std::filesystem::exists(DOF_TEST_SOURCE_DIR "/../shared/data/openexr-images"))
        GTEST_SKIP() << "sample images not beside the checkout";
    unsetenv("OCIO");                 // OpenImageIO's own colour spaces, not a configuration's
    unsetenv("SLURM_ARRAY_TASK_ID");  // a suite run as a farm task renders whole lists
    const dof::test::ScratchFolder folder;
    Outcome o;
    o.dir = folder.path();
    for (const std::string& input : c.inputs)
        generators().at(std::regex_replace(input, std::regex("\\.[0-9]+\\."), "."))(o.file(input));
    const auto run = [&](const std::vector<std::string>& args) {
        std::vector<std::string> all;  // NAME=VALUE words, handed over by env
        for (const std::string& word : c.env) all.push_back(inFolder(word, o.dir));
        if (!all.empty()) all.insert(all.begin(), "/usr/bin/env");
        const std::vector<std::string> program = command(args, o.dir);
        all.insert(all.end(), program.begin(), program.end());
        return dof::test::runCommand(all, {}, std::chrono::seconds(120));
    };
    for (const auto& step : c.before) o.before.push_back(run(step));
    o.run = run(c.args);
    for (const auto& step : o.before) EXPECT_EQ(step.exitCode, 0) << step.err;
    EXPECT_EQ(o.run.exitCode, std::stoi(c.status)) << o.run.err;
    // A final * matches any rest of the line, and takes the line's end.
    std::string expected = c.err.empty() ? "" : "dof3d: " + inFolder(c.err, o.dir) + "\n";
    if (expected.size() > 1 && expected[expected.size() - 2] == '*')
        expected.resize(expected.size() - 2);
    EXPECT_EQ(expected.empty() ? o.run.err : o.run.err.substr(0, expected.size()), expected);
    // Every message of ours is one line; the usage errors of the option
    // parser say a line of their own too.
    EXPECT_LE(std::count(o.run.err.begin(), o.run.err.end(), '\n'),
              std::max<long>(1, std::count(expected.begin(), expected.end(), '\n')))
        << o.run.err;
    std::vector<std::string> names = c.inputs;
    names.insert(names.end(), c.made.begin(), c.made.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(dof::test::namesIn(o.dir), names);
    for (const std::string& part : c.out)
        EXPECT_NE(o.run.out.find(part), std::string::npos) << part << "\n" << o.run.out;
    for (const auto& check : c.checks) {
        SCOPED_TRACE("check: " + check[0]);
        EXPECT_EQ(checks().count(check[0]), 1u) << "no check " << check[0];
        if (checks().count(check[0])) checks().at(check[0])(o, check);
    }
}

// One test per case, named by its file and title: --gtest_filter=*title*
// runs one case.
INSTANTIATE_TEST_SUITE_P(, Cases, testing::ValuesIn(readCases()),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
