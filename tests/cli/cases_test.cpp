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
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

#include "image_files.h"
#include "support/run_command.h"
#include "support/same_bytes.h"

namespace {

using doftest::FlatImage;
using doftest::TestSample;

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// 64 x 64 half RGBA with float-free depths 4 to 8 in squares of 8: the blur
// shows everywhere.
FlatImage squares(float pixelAspect = 1.0f) {
    FlatImage image = doftest::makeFlat(64, 64, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::HALF);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const float values[5] = {x / 63.0f, y / 63.0f, float((x ^ y) & 7) / 7.0f, 1.0f,
                                     4.0f + float((x / 8 + y / 8) % 5)};
            for (int c = 0; c < 5; ++c) image.at(x, y, c) = values[c];
        }
    image.pixelAspect = pixelAspect;
    return image;
}

// 24 x 16 float, R G B A Z and two more channels with metadata: an in-focus
// opaque block (Z 10), a far one (Z 25), empty pixels, a half-transparent near
// block (Z 6), light under zero alpha, a colour above 1, a sentinel and a NaN
// depth.
FlatImage scene() {
    FlatImage s =
        doftest::makeFlat(24, 16, {"R", "G", "B", "A", "Z", "id", "N.x"}, OIIO::TypeDesc::FLOAT);
    s.stringAttributes = {
        {"Software", "scene writer 1.0"}, {"comments", "keep me"}, {"studio:shot", "sq010"}};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            float v[7] = {0, 0, 0, 0, 0, float(x * 100 + y), -0.5f + 0.01f * float(x)};
            if (x < 8) {
                const float p[5] = {(x + y) % 2 ? 0.8f : 0.2f, 0.5f, 0.25f * float(y % 4), 1, 10};
                std::copy(p, p + 5, v);
            } else if (x < 16) {
                const float p[5] = {0.1f, (x % 3) * 0.4f, 0.9f, 1, 25};
                std::copy(p, p + 5, v);
            } else if (y >= 8) {
                const float p[5] = {0.25f, 0.125f * float(x % 4), 0.0625f, 0.5f, 6};
                std::copy(p, p + 5, v);
            }
            for (int c = 0; c < 7; ++c) s.at(x, y, c) = v[c];
        }
    s.at(20, 3, 0) = 0.3f;
    s.at(10, 5, 0) = 3.0f;
    s.at(12, 12, 4) = 1e10f;
    s.at(13, 12, 4) = std::nanf("");
    s.at(3, 3, 4) = 10.5f;
    return s;
}

// 40 x 80 opaque: bands of 16 rows at distances 10 (focus), 11, 12.5, 15 and
// 7.5, each bright on the left half and dark on the right.
FlatImage edgeBands() {
    const float distances[] = {10, 11, 12.5f, 15, 7.5f};
    FlatImage s = doftest::makeFlat(40, 80, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::FLOAT);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 40; ++x) {
            s.at(x, y, 0) = s.at(x, y, 1) = s.at(x, y, 2) = x < 20 ? 0.9f : 0.1f;
            s.at(x, y, 3) = 1;
            s.at(x, y, 4) = distances[y / 16];
        }
    return s;
}

// One opaque row: depths as given, colour 1.
FlatImage depthRow(std::vector<float> z) {
    FlatImage s =
        doftest::makeFlat(int(z.size()), 1, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::FLOAT);
    for (int x = 0; x < s.width; ++x) {
        s.at(x, 0, 0) = s.at(x, 0, 3) = 1;
        s.at(x, 0, 4) = z[std::size_t(x)];
    }
    return s;
}

FlatImage bytesImage(int w, int h, int channels, const std::function<int(int, int, int)>& v) {
    const char* names[] = {"R", "G", "B", "A"};
    FlatImage image = doftest::makeFlat(
        w, h, std::vector<std::string>(names, names + (channels == 1 ? 1 : channels)),
        OIIO::TypeDesc::UINT8);
    if (channels == 1) image.channels = {"Y"};
    image.unassociatedAlpha = true;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c) image.at(x, y, c) = float(v(x, y, c)) / 255.0f;
    return image;
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
    std::vector<std::vector<TestSample>> samples(41 * 41);
    for (int p = 0; p < 41 * 41; ++p) {
        const bool centre = p == 20 * 41 + 20;
        samples[std::size_t(p)] = {{0.25f, centre ? 0.5f : 0.25f, 0.25f, 0.5f, 10.0f},
                                   {centre ? 1.0f : 0.0f, 0.0f, 0.0f, 1.0f, 40.0f}};
    }
    return samples;
}

// The inputs a case can ask for, by file name. Each writes `path`, in a
// folder that holds the inputs named before it.
const std::map<std::string, std::function<void(const std::string& path)>>& generators() {
    static const std::map<std::string, std::function<void(const std::string&)>> made = {
        {"in.exr", [](const std::string& p) { doftest::writeFlat(p, squares()); }},
        {"in.1.exr", [](const std::string& p) { doftest::writeFlat(p, squares()); }},
        {"z.exr", [](const std::string& p) { doftest::writeFlat(p, squares()); }},
        {"z48.exr",
         [](const std::string& p) {
             doftest::writeFlat(p, doftest::makeFlat(64, 48, {"Z"}, OIIO::TypeDesc::FLOAT));
         }},
        {"aspect.exr", [](const std::string& p) { doftest::writeFlat(p, squares(1e-6f)); }},
        {"tiled.exr",
         [](const std::string& p) {
             FlatImage image = squares();
             image.tileSize = 16;
             for (int c = 0; c < 4; ++c) image.at(20, 20, c) = 0.0f;
             doftest::writeFlat(p, image);
         }},
        {"nan.exr",  // tiled.exr with NaN, infinite and -infinite values at (20, 20)
         [](const std::string& p) {
             FlatImage image = squares();
             image.tileSize = 16;
             const float bad[4] = {NAN, INFINITY, -INFINITY, NAN};
             for (int c = 0; c < 4; ++c) image.at(20, 20, c) = bad[c];
             doftest::writeFlat(p, image);
         }},
        {"scene.exr", [](const std::string& p) { doftest::writeFlat(p, scene()); }},
        {"bands.exr", [](const std::string& p) { doftest::writeFlat(p, edgeBands()); }},
        {"coc.exr",
         [](const std::string& p) {
             doftest::writeFlat(p, depthRow({10, 15, 20, 12.5f, 0}));
         }},
        {"lens.exr",  // a 36 mm sensor across 3600 pixels, untagged
         [](const std::string& p) {
             FlatImage s = depthRow({5.05f, 10.1f, 2.525f, 1.01f});
             s.fullWidth = 3600, s.fullHeight = 2000;
             doftest::writeFlat(p, s);
         }},
        {"tagged.exr",  // the same with f/2.5, 50 mm and the sensor in its header
         [](const std::string& p) {
             FlatImage s = depthRow({5.05f, 10.1f, 2.525f, 1.01f});
             s.fullWidth = 3600, s.fullHeight = 2000;
             const float sensor[2] = {36, 20};
             s.attributes = {
                 OIIO::ParamValue("aperture", 2.5f), OIIO::ParamValue("pinholeFocalLength", 50.0f),
                 OIIO::ParamValue("sensorOverallDimensions",
                                  OIIO::TypeDesc(OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::VEC2), 1,
                                  sensor)};
             doftest::writeFlat(p, s);
         }},
        {"window.exr",  // a 4 x 4 data window at (20, 3) of a 40 x 30 frame
         [](const std::string& p) {
             FlatImage s = doftest::makeFlat(4, 4, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::HALF);
             s.x = 20, s.y = 3, s.fullWidth = 40, s.fullHeight = 30;
             for (int i = 0; i < 16; ++i) s.at(i % 4, i / 4, 0) = s.at(i % 4, i / 4, 3) = 1;
             for (int i = 0; i < 16; ++i) s.at(i % 4, i / 4, 4) = 50;
             doftest::writeFlat(p, s);
         }},
        {"nodepth.exr",
         [](const std::string& p) {
             doftest::writeFlat(
                 p, doftest::makeFlat(4, 4, {"R", "G", "B", "A"}, OIIO::TypeDesc::HALF));
         }},
        {"small.exr",
         [](const std::string& p) {
             doftest::writeFlat(p, doftest::makeFlat(3, 3, {"Z"}, OIIO::TypeDesc::FLOAT));
         }},
        {"junk.exr", [](const std::string& p) { writeBytes(p, "not an image at all"); }},
        {"cut.exr",  // two thirds of a scene of random values
         [](const std::string& p) {
             FlatImage big = scene();
             for (std::size_t i = 0; i < big.pixels.size(); ++i)
                 big.pixels[i] = float((i * 2654435761u) % 1000u) / 1000.0f;
             doftest::writeFlat(p, big);
             const std::string bytes = readBytes(p);
             writeBytes(p, bytes.substr(0, bytes.size() * 2 / 3));
         }},
        {"cut.tif",  // an uncompressed 16-bit TIFF cut inside its strips
         [](const std::string& p) {
             FlatImage image =
                 doftest::makeFlat(64, 48, {"R", "G", "B", "A"}, OIIO::TypeDesc::UINT16);
             for (std::size_t i = 0; i < image.pixels.size(); ++i)
                 image.pixels[i] = float((i * 7919u) % 65536u) / 65535.0f;
             image.stringAttributes = {{"compression", "none"}};
             doftest::writeFlat(p, image);
             const std::string bytes = readBytes(p);
             writeBytes(p, bytes.substr(0, bytes.size() * 3 / 5));
         }},
        {"huge.png",  // a 4 x 4 PNG whose header claims 100000 x 100000, checksum right
         [](const std::string& p) {
             doftest::writeFlat(p, doftest::makeFlat(4, 4, {"R", "G", "B"}, OIIO::TypeDesc::UINT8));
             std::string bytes = readBytes(p);
             for (int at : {16, 20})
                 for (int i = 0; i < 4; ++i)
                     bytes[std::size_t(at + i)] = char(100000 >> (24 - 8 * i));
             const std::uint32_t crc = pngCrc(bytes.substr(12, 17));
             for (int i = 0; i < 4; ++i) bytes[std::size_t(29 + i)] = char(crc >> (24 - 8 * i));
             writeBytes(p, bytes);
         }},
        {"bad.png",  // damaged compressed pixels: libpng says so itself
         [](const std::string& p) {
             doftest::writeFlat(p, bytesImage(64, 64, 3, [](int x, int y, int c) {
                                    return (x * 3 + y * 192 + c) % 251;
                                }));
             std::string bytes = readBytes(p);
             bytes[bytes.find("IDAT") + 20] ^= char(0xFF);
             writeBytes(p, bytes);
         }},
        {"in.png",  // 8 bits, straight alpha, half transparent on the far top row
         [](const std::string& p) {
             doftest::writeFlat(p, bytesImage(32, 16, 4, [](int x, int y, int c) {
                                    const int v[4] = {(x * 37 + y * 11) % 256, (x * 5) % 256,
                                                      (y * 13) % 256,
                                                      x >= 16 && y == 0 ? 128 : 255};
                                    return v[c];
                                }));
         }},
        {"z.png",  // 0.2 (in focus) on the left half, 1.0 on the right
         [](const std::string& p) {
             doftest::writeFlat(
                 p, bytesImage(32, 16, 1, [](int x, int, int) { return x < 16 ? 51 : 255; }));
         }},
        {"in.tif",
         [](const std::string& p) {
             FlatImage tif = doftest::makeFlat(24, 8, {"R", "G", "B"}, OIIO::TypeDesc::UINT16);
             for (int y = 0; y < 8; ++y)
                 for (int x = 0; x < 24; ++x) {
                     tif.at(x, y, 0) = float((x * 2741 + y * 977) % 65536) / 65535.0f;
                     tif.at(x, y, 1) = float((x * 31) % 65536) / 65535.0f;
                     tif.at(x, y, 2) = 0.5f;
                 }
             doftest::writeFlat(p, tif);
         }},
        {"ztif.exr",  // 100 on the left half of in.tif, 400 on the right
         [](const std::string& p) {
             FlatImage z = doftest::makeFlat(24, 8, {"Z"}, OIIO::TypeDesc::FLOAT);
             for (int i = 0; i < 24 * 8; ++i)
                 z.at(i % 24, i / 24, 0) = i % 24 < 12 ? 100.0f : 400.0f;
             doftest::writeFlat(p, z);
         }},
        {"deep.exr", [](const std::string& p) { doftest::writeDeep(p, 16, 8, deepAtFocus()); }},
        {"layers.exr", [](const std::string& p) { doftest::writeDeep(p, 41, 41, deepLayers()); }},
        {"flat.png",  // alpha 3 shows any premultiplying on the way
         [](const std::string& p) {
             const int rgba[4] = {13, 77, 201, 3};
             doftest::writeFlat(p, bytesImage(96, 40, 4, [&](int, int, int c) { return rgba[c]; }));
         }},
        {"edge.png",  // one channel, black up to x = 47, white from 48
         [](const std::string& p) {
             doftest::writeFlat(
                 p, bytesImage(96, 40, 1, [](int x, int, int) { return x < 48 ? 0 : 255; }));
         }},
        {"edge3.png",
         [](const std::string& p) {
             doftest::writeFlat(
                 p, bytesImage(96, 40, 3, [](int x, int, int) { return x < 48 ? 0 : 255; }));
         }},
        {"link.exr",
         [](const std::string& p) {
             link((p.substr(0, p.size() - 8) + "in.exr").c_str(), p.c_str());
         }},
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
    doftest::CommandResult run, twin;
    std::string file(const std::string& name) const { return dir + "/" + name; }
    FlatImage read(const std::string& name, OIIO::ImageSpec* spec = nullptr) const {
        return doftest::readFlat(file(name), spec);
    }
};

struct Case {
    const char* why;
    std::vector<std::string> inputs;  // generator names, made in this order
    std::vector<std::string> args;    // "{d}" is the case's folder
    int status;
    std::string err;                // the first line after "dof3d: "; "" none; a final '*' any rest
    std::vector<std::string> made;  // what the folder holds besides the inputs
    std::function<void(const Outcome&)> check = {};
    std::vector<std::string> twin = {};  // a second run whose out2.* must equal out.*
};

std::string inFolder(std::string text, const std::string& folder) {
    for (std::size_t at; (at = text.find("{d}")) != std::string::npos;) text.replace(at, 3, folder);
    return text;
}

std::vector<std::string> command(const std::vector<std::string>& args, const std::string& dir) {
    std::vector<std::string> all = {doftest::dof3dPath()};
    for (const std::string& a : args) all.push_back(inFolder(a, dir));
    const bool takesEffects = !args.empty() && args[0] != "blur" && args[0] != "--version";
    if (takesEffects && std::find(args.begin(), args.end(), "--effects") == args.end())
        all.insert(all.end(), {"--effects", DOF_TEST_EFFECTS_DIR});
    return all;
}

std::vector<std::string> sortedNames(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The cases run two at a time: each start of the program costs most of a
// second, little of it on the processor the other one uses.
void runCases(const std::vector<Case>& cases) {
    doftest::ScratchFolder root;
    std::vector<Outcome> outcomes(cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        outcomes[i].dir = root.file(std::to_string(i));
        std::filesystem::create_directory(outcomes[i].dir);
        for (const std::string& input : cases[i].inputs)
            generators().at(input)(outcomes[i].dir + "/" + input);
    }
    std::mutex lock;
    std::size_t next = 0;
    const auto worker = [&] {
        for (;;) {
            std::size_t i;
            {
                std::lock_guard<std::mutex> hold(lock);
                if (next == cases.size()) return;
                i = next++;
            }
            outcomes[i].run = doftest::runCommand(command(cases[i].args, outcomes[i].dir), {},
                                                  std::chrono::seconds(120));
            if (!cases[i].twin.empty())
                outcomes[i].twin = doftest::runCommand(command(cases[i].twin, outcomes[i].dir), {},
                                                       std::chrono::seconds(120));
        }
    };
    std::thread other(worker);
    worker();
    other.join();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const Outcome& o = outcomes[i];
        SCOPED_TRACE(c.why);
        EXPECT_EQ(o.run.exitCode, c.status) << o.run.err;
        std::string expected = c.err.empty() ? "" : "dof3d: " + inFolder(c.err, o.dir);
        std::string got = o.run.err;
        if (!expected.empty() && expected.back() == '*') {
            expected.pop_back();
            got = got.substr(0, std::min(got.find('\n'), expected.size()));
        } else if (!expected.empty()) {
            expected += "\n";
            got = got.substr(0, got.find('\n') + 1);
        }
        EXPECT_EQ(got, expected) << o.run.err;
        // Every message of ours is one line; the usage errors of the option
        // parser say a line of their own too.
        EXPECT_LE(std::count(o.run.err.begin(), o.run.err.end(), '\n'), 1) << o.run.err;
        std::vector<std::string> names = c.inputs;
        names.insert(names.end(), c.made.begin(), c.made.end());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(sortedNames(o.dir), names);
        if (!c.twin.empty()) {
            EXPECT_EQ(o.twin.exitCode, 0) << o.twin.err;
            const std::string ext = c.made[0].substr(c.made[0].find('.'));
            EXPECT_TRUE(
                testsupport::sameBytes(o.read("out2" + ext).pixels, o.read("out" + ext).pixels));
        }
        if (c.check) c.check(o);
    }
}

// --- checks -------------------------------------------------------------

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// out.exr holds scene.exr's pixels, every channel, bit for bit, and its
// metadata.
void givesTheSceneBack(const Outcome& o) {
    const FlatImage in = scene();
    OIIO::ImageSpec spec;
    const FlatImage got = o.read("out.exr", &spec);
    ASSERT_EQ(got.channels, in.channels);
    int differing = 0;
    for (std::size_t i = 0; i < in.pixels.size(); ++i)
        differing += !sameBits(got.pixels[i], in.pixels[i]);
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(spec.get_string_attribute("ImageDescription"), "keep me");  // EXR's comments
    EXPECT_EQ(spec.get_string_attribute("studio:shot"), "sq010");
    EXPECT_EQ(spec.get_string_attribute("Software"), "scene writer 1.0");
    EXPECT_EQ(spec.format, OIIO::TypeDesc::FLOAT);
}

// Columns of a row whose value lies strictly between the two sides.
int edgeWidth(const FlatImage& image, int row) {
    int width = 0;
    for (int x = 0; x < image.width; ++x) {
        const float v = image.at(x, row, 0);
        width += v > 0.1f + 1e-4f && v < 0.9f - 1e-4f;
    }
    return width;
}

// bands.exr at radius 6: the focus band keeps every value (its rows out of the
// next band's reach) and the edge widens with the distance from the focus.
void blurGrowsWithDistance(const Outcome& o) {
    const FlatImage in = edgeBands(), got = o.read("out.exr");
    ASSERT_EQ(got.width, 40);
    for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 40; ++x)
            for (int c = 0; c < 4; ++c) ASSERT_EQ(got.at(x, y, c), in.at(x, y, c)) << x << "," << y;
    EXPECT_EQ(edgeWidth(got, 8), 0);
    EXPECT_LT(0, edgeWidth(got, 24));
    EXPECT_LT(edgeWidth(got, 24), edgeWidth(got, 40));
    EXPECT_LT(edgeWidth(got, 40), edgeWidth(got, 56));
    EXPECT_LT(0, edgeWidth(got, 72));
}

// The radius map as bytes, row 0.
std::function<void(const Outcome&)> cocRow(std::vector<long> expected) {
    return [expected](const Outcome& o) {
        OIIO::ImageSpec spec;
        const FlatImage coc = o.read("coc.png", &spec);
        ASSERT_GE(coc.width, int(expected.size()));  // the blur may widen the window
        EXPECT_EQ(spec.nchannels, 1);
        for (int x = 0; x < int(expected.size()); ++x)
            EXPECT_EQ(std::lround(coc.at(x, 0, 0) * 255), expected[std::size_t(x)]) << x;
    };
}

// Integer files keep their type and channels; the in-focus columns below
// `sharp` keep their codes and at least `changed` far components change.
std::function<void(const Outcome&)> keepsFormat(std::string in, std::string out,
                                                OIIO::TypeDesc type, double scale, int sharp,
                                                int far, int changed) {
    return [=](const Outcome& o) {
        OIIO::ImageSpec spec;
        const FlatImage a = o.read(in), b = o.read(out, &spec);
        ASSERT_EQ(b.width, a.width);
        EXPECT_EQ(spec.format, type);
        EXPECT_EQ(b.channels.size(), a.channels.size());
        int changedFar = 0;
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x)
                for (int c = 0; c < int(a.channels.size()); ++c) {
                    const long before = std::lround(a.at(x, y, c) * scale),
                               after = std::lround(b.at(x, y, c) * scale);
                    if (x < sharp) {
                        EXPECT_EQ(after, before) << x << "," << y << " channel " << c;
                    }
                    changedFar += x >= far && after != before;
                }
        EXPECT_GT(changedFar, changed);
    };
}

// Deep samples at the focus flatten by over-compositing front to back.
void flattensTheSamples(const Outcome& o) {
    OIIO::ImageSpec spec;
    const FlatImage got = o.read("out.exr", &spec);
    const auto samples = deepAtFocus();
    ASSERT_EQ(got.channels, (std::vector<std::string>{"R", "G", "B", "A", "Z"}));
    EXPECT_EQ(spec.channelformat(0), OIIO::TypeDesc::HALF);
    EXPECT_EQ(spec.channelformat(4), OIIO::TypeDesc::FLOAT);
    for (int p = 0; p < 16 * 8; ++p) {
        double out[4] = {0, 0, 0, 0}, through = 1.0;
        for (const TestSample& s : samples[std::size_t(p)]) {
            const double stored[4] = {doftest::asHalf(s.r), doftest::asHalf(s.g),
                                      doftest::asHalf(s.b), doftest::asHalf(s.a)};
            for (int c = 0; c < 4; ++c) out[c] += stored[c] * through;
            through *= 1.0 - stored[3];
        }
        // Colour to the byte that carries a fragment's share, alpha as well
        // (and to half precision) where the pixel is partly covered.
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(got.at(p % 16, p / 16, c), out[c], 1 / 255.0) << p;
        if (out[3] == 1.0) {
            EXPECT_EQ(got.at(p % 16, p / 16, 3), 1.0f) << p;
        }
        EXPECT_NEAR(got.at(p % 16, p / 16, 3), out[3], 0.5 / 255 + 1e-3) << p;
        if (!samples[std::size_t(p)].empty()) {
            EXPECT_EQ(got.at(p % 16, p / 16, 4), 10.0f) << p;
        }
    }
}

// layers.exr at radius 3: row 8 sees the neighbourhood of row 20 without its
// centre. The far red layer (fraction 1: a hat of 2 x 3 taps, the last nearly
// 0) reaches 6 columns, not 7; the focused green one stays in its pixel.
void layersBlurByTheirOwnDepth(const Outcome& o) {
    const FlatImage got = o.read("out.exr");
    ASSERT_EQ(got.width, 41);
    EXPECT_GT(got.at(25, 20, 0), got.at(25, 8, 0));
    EXPECT_EQ(got.at(27, 20, 0), got.at(27, 8, 0));
    EXPECT_GT(got.at(20, 25, 0), got.at(20, 8, 0));
    EXPECT_GT(got.at(20, 20, 1), got.at(20, 8, 1));
    EXPECT_EQ(got.at(21, 20, 1), got.at(21, 8, 1));
    EXPECT_EQ(got.at(20, 19, 1), got.at(20, 8, 1));
}

// Every byte of out.png is the constant of flat.png.
void staysFlat(const Outcome& o) {
    const FlatImage got = o.read("out.png");
    ASSERT_EQ(got.width, 96);
    ASSERT_EQ(got.channels.size(), 4u);
    const long rgba[4] = {13, 77, 201, 3};
    int differing = 0;
    for (std::size_t i = 0; i < got.pixels.size(); ++i)
        differing += std::lround(got.pixels[i] * 255) != rgba[i % 4];
    EXPECT_EQ(differing, 0);
}

// The box of radius 3 over the edge: 7-sample means 255 k / 7 truncate to 36,
// 72, 109, 145, 182 and 218 for k = 1 to 6 white samples, in every row.
void boxRamp(const Outcome& o) {
    const FlatImage got = o.read("out.png");
    ASSERT_EQ(got.channels.size(), 1u);
    const long ramp[8] = {0, 36, 72, 109, 145, 182, 218, 255};  // x = 44 to 51
    for (int y = 0; y < got.height; ++y)
        for (int x = 0; x < got.width; ++x)
            ASSERT_EQ(std::lround(got.at(x, y, 0) * 255), x < 44   ? 0
                                                          : x > 51 ? 255
                                                                   : ramp[x - 44])
                << x << "," << y;
}

// The Gaussian spreads the edge a few pixels, rising and mirrored.
void gaussianEdge(const Outcome& o) {
    const FlatImage got = o.read("out.png");
    ASSERT_EQ(got.channels.size(), 3u);
    const auto at = [&](int x) { return std::lround(got.at(x, 20, 0) * 255); };
    EXPECT_EQ(at(30), 0);
    EXPECT_EQ(at(70), 255);
    EXPECT_GT(at(47), 0);
    EXPECT_LT(at(48), 255);
    for (int x = 36; x < 60; ++x) EXPECT_LE(at(x), at(x + 1)) << x;
    for (int d = 0; d < 8; ++d) EXPECT_NEAR(255 - at(47 - d), at(48 + d), 1) << d;
}

std::function<void(const Outcome&)> printed(std::vector<std::string> parts) {
    return [parts](const Outcome& o) {
        for (const std::string& part : parts)
            EXPECT_NE(o.run.out.find(inFolder(part, o.dir)), std::string::npos) << part << "\n"
                                                                                << o.run.out;
    };
}

const std::vector<std::string> kInfo = {
    "category:  3D Post\n",
    "menu:      3D Depth of Field...\n",
    "  Focal Depth          depth   range -65535..-1 default -1\n",
    "  Sharp Until Depth    depth   range -65535..-1 default 0\n",
    "  Maximum Radius       number  range 0..64 default 0\n",
    "  Method               choice  choices \"Box Average;Splatting\" default 1\n",
    "reads g-buffer channels (0x3761): depth, colour with exponent, coverage, depth layers, "
    "colour, transparency, layer weight, layer range\n"};

const std::string kSame = ": -o names the same file as the input {d}/in.exr";
const std::string kWide = "a blur of 8e+06 x 8";
const std::string kNoDepth =
    ": no depth channel (looked for Z and depth.Z; name one with --depth-channel, or give "
    "--depth FILE)";

TEST(Cases, EveryCase) {
    unsetenv("OCIO");
    const std::vector<std::string> E = {};
    const std::vector<std::string> O = {"out.exr"};
    const std::vector<std::string> R = {"render"};
    const std::vector<Case> cases = {
        // --- renders, against facts -------------------------------------
        {"zero radius gives every channel back, metadata too",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}/out.exr", "--focus", "10", "--radius", "0"},
         0,
         "",
         O,
         givesTheSceneBack},
        {"in 8 bits too: pixels the blur leaves keep what a byte cannot hold",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}/out.exr", "--focus", "10", "--radius", "0",
          "--format", "8", "--method", "box"},
         0,
         "",
         O,
         givesTheSceneBack},
        {"and in 16 bits",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}/out.exr", "--focus", "10", "--radius", "0",
          "--format", "16"},
         0,
         "",
         O,
         givesTheSceneBack},
        {"splat: in focus stays, blur grows with distance",
         {"bands.exr"},
         {"render", "{d}/bands.exr", "-o", "{d}/out.exr", "--focus", "10", "--radius", "6",
          "--method", "splat"},
         0,
         "",
         O,
         blurGrowsWithDistance},
        {"box: the same",
         {"bands.exr"},
         {"render", "{d}/bands.exr", "-o", "{d}/out.exr", "--focus", "10", "--radius", "6",
          "--method", "box"},
         0,
         "",
         O,
         blurGrowsWithDistance},
        {"one thread or two: the same bytes",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}/out.exr", "--focus", "10", "--radius", "3",
          "--threads", "1", "--layers", "1"},
         0,
         "",
         {"out.exr", "out2.exr"},
         {},
         {"render", "{d}/scene.exr", "-o", "{d}/out2.exr", "--focus", "10", "--radius", "3",
          "--threads", "2", "--layers", "1"}},
        {"a NaN colour renders as the 0 it is taken for (box)",
         {"tiled.exr", "nan.exr"},
         {"render", "{d}/nan.exr", "-o", "{d}/out.exr", "--focus", "6", "--method", "box",
          "--json"},
         0,
         "warning: {d}/nan.exr: 4 colour or alpha values were NaN or infinite, rendered as 0",
         {"out.exr", "out2.exr"},
         printed({"\"nonFiniteValues\":4,"}),
         {"render", "{d}/tiled.exr", "-o", "{d}/out2.exr", "--focus", "6", "--method", "box"}},
        {"the same for splatting",
         {"tiled.exr", "nan.exr"},
         {"render", "{d}/nan.exr", "-o", "{d}/out.exr", "--focus", "6", "--method", "splat"},
         0,
         "warning: {d}/nan.exr: 4 colour or alpha values were NaN or infinite, rendered as 0",
         {"out.exr", "out2.exr"},
         {},
         {"render", "{d}/tiled.exr", "-o", "{d}/out2.exr", "--focus", "6", "--method", "splat"}},
        {"8-bit PNG with a separate depth keeps its format",
         {"in.png", "z.png"},
         {"render", "{d}/in.png", "--depth", "{d}/z.png", "-o", "{d}/out.png", "--focus", "0.2",
          "--radius", "3"},
         0,
         "",
         {"out.png"},
         keepsFormat("in.png", "out.png", OIIO::TypeDesc::UINT8, 255, 10, 16, 100)},
        {"16-bit TIFF keeps its format",
         {"in.tif", "ztif.exr"},
         {"render", "{d}/in.tif", "--depth", "{d}/ztif.exr", "-o", "{d}/out.tif", "--focus", "100",
          "--radius", "2", "--method", "box"},
         0,
         "",
         {"out.tif"},
         keepsFormat("in.tif", "out.tif", OIIO::TypeDesc::UINT16, 65535, 10, 14, 50)},
        {"deep samples at the focus give back the flattened image",
         {"deep.exr"},
         {"render", "{d}/deep.exr", "-o", "{d}/out.exr", "--focus", "10", "--radius", "5",
          "--method", "splat"},
         0,
         "",
         O,
         flattensTheSamples},
        {"deep layers blur by their own depth",
         {"layers.exr"},
         {"render", "{d}/layers.exr", "-o", "{d}/out.exr", "--focus", "10", "--radius", "3"},
         0,
         "",
         O,
         layersBlurByTheirOwnDepth},
        // 255 |1 - d / F| rounded, at most 255; no hit is far.
        {"--coc-map is the effect's radius map",
         {"coc.exr"},
         {"render", "{d}/coc.exr", "-o", "{d}/out.exr", "--focus", "10", "--radius", "4",
          "--coc-map", "{d}/coc.png"},
         0,
         "",
         {"coc.png", "out.exr"},
         cocRow({0, 128, 255, 64, 255})},
        // F = 15: |1 - 10/15| = 1/3 gives 85.
        {"--focus-at takes the depth under a pixel",
         {"coc.exr"},
         {"render", "{d}/coc.exr", "-o", "{d}/out.exr", "--focus-at", "1,0", "--radius", "4",
          "--coc-map", "{d}/coc.png", "--json"},
         0,
         "{d}/coc.exr: --focus-at 1,0: focus distance 15",
         {"coc.png", "out.exr"},
         [](const Outcome& o) {
             cocRow({85, 0, 85, 43, 255})(o);
             printed({"\"focusDistance\":15.0,", "\"passes\":["})(o);
         }},
        // f/2.5, 50 mm, 36 mm over 3600 pixels, focus 5.05: radius
        // 10 |d - 5.05| / d, so 0, 5, 10 and 40 pixels: 255 r / 40.
        {"a lens from the options blurs as the thin lens",
         {"lens.exr"},
         {"render", "{d}/lens.exr", "-o", "{d}/out.exr", "--focus", "5.05", "--fstop", "2.5",
          "--focal-length", "50", "--sensor-width", "36", "--coc-map", "{d}/coc.png"},
         0,
         "",
         {"coc.png", "out.exr"},
         cocRow({0, 32, 64, 255})},
        {"and a lens from the file's header",
         {"tagged.exr"},
         {"render", "{d}/tagged.exr", "-o", "{d}/out.exr", "--focus", "5.05", "--coc-map",
          "{d}/coc.png"},
         0,
         "{d}/tagged.exr: lens from the file: f/2.5, 50 mm, sensor 36 mm wide: radius up to 40 px",
         {"coc.png", "out.exr"},
         cocRow({0, 32, 64, 255})},
        // The hat reaches floor(2 x 2.5) = 5 pixels: x 15 to 28, y 0 (the
        // display window's top) to 11.
        {"the data window grows by the reach inside the display window",
         {"window.exr"},
         {"render", "{d}/window.exr", "-o", "{d}/out.exr", "--focus", "10", "--radius", "2.5"},
         0,
         "",
         O,
         [](const Outcome& o) {
             OIIO::ImageSpec spec;
             const FlatImage got = o.read("out.exr", &spec);
             EXPECT_EQ(std::vector<int>({spec.x, spec.y, spec.width, spec.height, spec.full_width}),
                       std::vector<int>({15, 0, 14, 12, 40}));
             EXPECT_GT(got.at(2, 5, 3), 0.0f);
         }},
        // --- blur ---------------------------------------------------------
        {"Gaussian with a cutoff keeps a flat image flat",
         {"flat.png"},
         {"blur", "{d}/flat.png", "-o", "{d}/out.png", "--kernel", "gaussian", "--sigma", "2",
          "--cutoff", "0.01"},
         0,
         "",
         {"out.png"},
         staysFlat},
        {"alpha-weighted Gaussian",
         {"flat.png"},
         {"blur", "{d}/flat.png", "-o", "{d}/out.png", "--sigma", "1.5", "--alpha-weighted"},
         0,
         "",
         {"out.png"},
         staysFlat},
        {"look-up-table Gaussian",
         {"flat.png"},
         {"blur", "{d}/flat.png", "-o", "{d}/out.png", "--sigma", "3", "--lut"},
         0,
         "",
         {"out.png"},
         staysFlat},
        {"box",
         {"flat.png"},
         {"blur", "{d}/flat.png", "-o", "{d}/out.png", "--kernel", "box", "--radius", "4"},
         0,
         "",
         {"out.png"},
         staysFlat},
        {"alpha-weighted box",
         {"flat.png"},
         {"blur", "{d}/flat.png", "-o", "{d}/out.png", "--kernel", "box", "--radius", "4",
          "--alpha-weighted"},
         0,
         "",
         {"out.png"},
         staysFlat},
        {"Gaussian maximum",
         {"flat.png"},
         {"blur", "{d}/flat.png", "-o", "{d}/out.png", "--sigma", "2", "--dilate"},
         0,
         "",
         {"out.png"},
         staysFlat},
        {"box maximum",
         {"flat.png"},
         {"blur", "{d}/flat.png", "-o", "{d}/out.png", "--kernel", "box", "--radius", "3",
          "--dilate"},
         0,
         "",
         {"out.png"},
         staysFlat},
        {"box smooths an edge exactly, one channel kept",
         {"edge.png"},
         {"blur", "{d}/edge.png", "-o", "{d}/out.png", "--kernel", "box", "--radius", "3"},
         0,
         "",
         {"out.png"},
         boxRamp},
        {"Gaussian smooths an edge",
         {"edge3.png"},
         {"blur", "{d}/edge3.png", "-o", "{d}/out.png", "--sigma", "2", "--cutoff", "0.01"},
         0,
         "",
         {"out.png"},
         gaussianEdge},
        // --- info, demo, version ------------------------------------------
        {"info describes the effect", E, {"info"}, 0, "", E, printed(kInfo)},
        {"--version", E, {"--version"}, 0, "", E, printed({"dof3d 0.1.0\n"})},
        {"demo at 12 bits writes 16-bit files",
         E,
         {"demo", "-o", "{d}/p", "--width", "64", "--height", "36", "--format", "12"},
         0,
         "",
         {"p"},
         [](const Outcome& o) {
             EXPECT_EQ(sortedNames(o.file("p")),
                       (std::vector<std::string>{"box.png", "side_by_side.png", "source.png",
                                                 "splat.png"}));
             OIIO::ImageSpec spec;
             o.read("p/source.png", &spec);
             EXPECT_EQ(spec.format, OIIO::TypeDesc::UINT16);
             EXPECT_EQ(spec.width, 64);
         }},
        // --- refusals: one line, nothing written --------------------------
        {"no subcommand", E, {}, 2, "A subcommand is required (see --help)", E},
        {"info without the effect",
         E,
         {"info", "--effects", "/nonexistent/effects"},
         1,
         "/nonexistent/effects/DepthOfField.so: cannot load effect: *",
         E},
        {"demo without the effect",
         E,
         {"demo", "-o", "{d}/p", "--effects", "{d}/none"},
         1,
         "{d}/none*",
         E},
        {"demo: unknown format", E, {"demo", "-o", "{d}/p", "--format", "9"}, 2, "--format*", E},
        {"demo: radius above 64", E, {"demo", "-o", "{d}/p", "--radius", "65"}, 2, "--radius*", E},
        {"demo: no width", E, {"demo", "-o", "{d}/p", "--width", "0"}, 2, "--width*", E},
        {"demo: focus behind", E, {"demo", "-o", "{d}/p", "--focus", "-0.5"}, 2, "--focus*", E},
        {"demo: a file where the folder goes",
         {"file"},
         {"demo", "-o", "{d}/file/p", "--width", "32", "--height", "18"},
         1,
         "demo: {d}/file/p: cannot create the folder*",
         E},
        {"blur: no input",
         E,
         {"blur", "{d}/none.png", "-o", "{d}/out.png"},
         1,
         "{d}/none.png: cannot read image*",
         E},
        {"blur: box has no table",
         {"flat.png"},
         {"blur", "{d}/flat.png", "-o", "{d}/out.png", "--kernel", "box", "--lut"},
         2,
         "--lut*",
         E},
        {"blur: weighted has no table",
         {"flat.png"},
         {"blur", "{d}/flat.png", "-o", "{d}/out.png", "--alpha-weighted", "--lut"},
         2,
         "--lut*",
         E},
        {"blur: no folder for the output",
         {"flat.png"},
         {"blur", "{d}/flat.png", "-o", "{d}/no/out.png"},
         1,
         "{d}/no/out.png*",
         E},
        {"render: missing file",
         E,
         {"render", "{d}/none.exr", "-o", "{d}/out.exr", "--focus", "10"},
         1,
         "{d}/none.exr: no such file",
         E},
        {"render: not an image",
         {"junk.exr"},
         {"render", "{d}/junk.exr", "-o", "{d}/out.exr", "--focus", "10"},
         1,
         "{d}/junk.exr: cannot read: *",
         E},
        {"render: truncated EXR",
         {"cut.exr"},
         {"render", "{d}/cut.exr", "-o", "{d}/out.exr", "--focus", "10"},
         1,
         "{d}/cut.exr: corrupt or truncated: *",
         E},
        {"render: no depth channel",
         {"nodepth.exr"},
         {"render", "{d}/nodepth.exr", "-o", "{d}/out.exr", "--focus", "10"},
         1,
         "{d}/nodepth.exr" + kNoDepth,
         E},
        {"render: depth of another size",
         {"scene.exr", "small.exr"},
         {"render", "{d}/scene.exr", "--depth", "{d}/small.exr", "-o", "{d}/out.exr", "--focus",
          "10"},
         1,
         "{d}/small.exr: depth image is 3x3, but {d}/scene.exr is 24x16",
         E},
        {"render: radius out of range",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}/out.exr", "--focus", "10", "--radius", "65"},
         2,
         "--radius 65: out of range (0 to 64 pixels)",
         E},
        {"render: focus not finite",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}/out.exr", "--focus", "inf"},
         2,
         "--focus inf is not a finite number",
         E},
        {"render: focus zero",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}/out.exr", "--focus", "0"},
         2,
         "--focus 0 is zero, which puts it at the camera",
         E},
        {"render: focus behind the camera",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}/out.exr", "--focus", "-3"},
         2,
         "--focus -3 lies behind the camera in the distance depth convention",
         E},
        {"render: focus on an empty pixel",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}/out.exr", "--focus-at", "20,0"},
         1,
         "{d}/scene.exr: --focus-at 20,0: nothing was hit under that pixel",
         E},
        {"render: no folder for the output",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}/no/such/out.exr", "--focus", "10"},
         1,
         "{d}/no/such/out.exr: cannot write: folder {d}/no/such does not exist",
         E},
        {"render: the output is a folder",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}", "--focus", "10"},
         1,
         "{d}: cannot write: it is a folder",
         E},
        {"render: no writer for the type",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}/out.xyz", "--focus", "10"},
         1,
         "{d}/out.xyz: cannot write: no writer for this file type",
         E},
        {"render: a header claiming 10^10 pixels",
         {"huge.png", "z.exr"},
         {"render", "{d}/huge.png", "-o", "{d}/out.exr", "--focus", "0.5", "--depth", "{d}/z.exr"},
         1,
         "{d}/huge.png: the image is 100000x100000 pixels, more than a frame can hold (536870912 "
         "pixels)",
         E},
        {"render: the same as the depth image",
         {"scene.exr", "huge.png"},
         {"render", "{d}/scene.exr", "-o", "{d}/out.exr", "--focus", "1", "--depth",
          "{d}/huge.png"},
         1,
         "{d}/huge.png: depth image is 100000x100000, but {d}/scene.exr is 24x16*",
         E},
        {"render: a TIFF cut inside its strips",
         {"cut.tif", "z.exr"},
         {"render", "{d}/cut.tif", "-o", "{d}/out.exr", "--focus", "1", "--depth", "{d}/z.exr"},
         1,
         "{d}/cut.tif: corrupt or truncated: TIFFReadEncodedStrip failed*",
         E},
        {"render: the cut TIFF as the depth",
         {"cut.tif", "z48.exr"},
         {"render", "{d}/z48.exr", "-o", "{d}/out.exr", "--focus", "1", "--depth", "{d}/cut.tif",
          "--depth-channel", "R"},
         1,
         "{d}/cut.tif: corrupt or truncated: TIFFReadEncodedStrip failed*",
         E},
        {"render: libpng's own complaint joins our line",
         {"bad.png", "z.exr"},
         {"render", "{d}/bad.png", "--depth", "{d}/z.exr", "-o", "{d}/out.exr", "--focus", "8"},
         1,
         "{d}/bad.png: corrupt or truncated: *",
         E},
        {"render: subnormal focus",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}/out.exr", "--focus=5e-324"},
         2,
         "--focus 4.9406564584124654e-324 is too close to the camera to scale into the effect's "
         "depth range",
         E},
        {"render: subnormal camera-space z",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}/out.exr", "--focus=-5e-324", "--depth-convention",
          "negative"},
         2,
         "--focus -4.9406564584124654e-324 is too close to the camera to scale into the effect's "
         "depth range",
         E},
        {"render: unknown option",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "-o", "{d}/out.exr", "--focus", "1", "--bogus"},
         2,
         "The following argument was not expected: --bogus (see --help)",
         E},
        {"render: a second input",
         {"scene.exr"},
         {"render", "{d}/scene.exr", "{d}/scene.exr", "-o", "{d}/out.exr", "--focus", "1"},
         2,
         "The following argument was not expected: {d}/scene.exr (see --help)",
         E},
        {"render: under --json a bad option is JSON too",
         E,
         {"render", "in.exr", "-o", "out.exr", "--radius", "70", "--focus", "3", "--json"},
         2,
         "--radius 70: out of range (0 to 64 pixels)",
         E,
         printed({"{\"command\":\"render\",\"error\":\"--radius 70: out of range (0 to 64 "
                  "pixels)\"}\n"})},
        {"render: -o is the input",
         {"in.exr"},
         {"render", "{d}/in.exr", "-o", "{d}/in.exr", "--focus", "8"},
         2,
         "{d}/in.exr" + kSame,
         E},
        {"render: -o is the input spelled otherwise",
         {"in.exr"},
         {"render", "{d}/in.exr", "-o", "{d}/./in.exr", "--focus", "8"},
         2,
         "{d}/./in.exr" + kSame,
         E},
        {"render: -o is a hard link to the input",
         {"in.exr", "link.exr"},
         {"render", "{d}/in.exr", "-o", "{d}/link.exr", "--focus", "8"},
         2,
         "{d}/link.exr" + kSame,
         E},
        {"render: -o reaches the input through a linked folder",
         {"in.exr", "alias"},
         {"render", "{d}/in.exr", "-o", "{d}/alias/in.exr", "--focus", "8"},
         2,
         "{d}/alias/in.exr" + kSame,
         E},
        {"render: -o is the depth file",
         {"in.exr", "z.exr"},
         {"render", "{d}/in.exr", "--depth", "{d}/z.exr", "-o", "{d}/z.exr", "--focus", "8"},
         2,
         "{d}/z.exr: -o names the same file as --depth {d}/z.exr",
         E},
        {"render: --coc-map is the input",
         {"in.exr"},
         {"render", "{d}/in.exr", "-o", "{d}/out.exr", "--coc-map", "{d}/in.exr", "--focus", "8"},
         2,
         "{d}/in.exr: --coc-map names the same file as the input {d}/in.exr",
         E},
        {"render: --coc-map is -o",
         {"in.exr"},
         {"render", "{d}/in.exr", "-o", "{d}/out.exr", "--coc-map", "{d}/./out.exr", "--focus",
          "8"},
         2,
         "{d}/./out.exr: --coc-map names the same file as -o {d}/out.exr",
         E},
        {"render: a sequence over itself",
         {"in.1.exr"},
         {"render", "{d}/in.#.exr", "-o", "{d}/in.#.exr", "--frames", "1", "--overwrite", "--focus",
          "8"},
         2,
         "{d}/in.1.exr: -o of frame 1 names the same file as the input of frame 1 {d}/in.1.exr",
         E},
        {"render: a device is never opened",
         E,
         {"render", "/dev/zero", "-o", "{d}/out.exr", "--focus", "8"},
         1,
         "/dev/zero: not a regular file (a device)",
         E},
        {"render: a FIFO is never opened",
         {"fifo.exr"},
         {"render", "{d}/fifo.exr", "-o", "{d}/out.exr", "--focus", "8"},
         1,
         "{d}/fifo.exr: not a regular file (a FIFO)",
         E},
        {"render: a scale that makes the footprint millions wide",
         {"in.exr"},
         {"render", "{d}/in.exr", "-o", "{d}/out.exr", "--focus", "8", "--scale", "1e6"},
         1,
         "{d}/in.exr: " + kWide +
             "e+06 pixels (radius 8, --scale 1e+06,1e+06, pixel aspect 1 from the file) is more "
             "than this "
             "64x64 frame can use (128 x 128)",
         E},
        {"render: the file's pixel aspect does the same",
         {"aspect.exr"},
         {"render", "{d}/aspect.exr", "-o", "{d}/out.exr", "--focus", "8"},
         1,
         "{d}/aspect.exr: " + kWide +
             " pixels (radius 8, --scale 1,1, pixel aspect 1e-06 from the file) is more than this "
             "64x64 frame can use (128 x 128)",
         E},
        {"render: and --pixel-aspect",
         {"in.exr"},
         {"render", "{d}/in.exr", "-o", "{d}/out.exr", "--focus", "8", "--pixel-aspect", "1e-6"},
         1,
         "{d}/in.exr: " + kWide +
             " pixels (radius 8, --scale 1,1, pixel aspect 1e-06) is more than this 64x64 frame "
             "can "
             "use (128 x 128)",
         E},
        {"render: a line break in a file name",
         E,
         {"render", "{d}/a\nb.exr", "-o", "{d}/out.exr", "--focus", "8"},
         1,
         "{d}/a\\nb.exr: no such file",
         E},
        {"render: a blank before a number",
         E,
         {"render", "{d}/in.exr", "-o", "{d}/out.exr", "--focus", " 8"},
         2,
         "--focus  8: not a number",
         E},
        {"render: a blank after a number",
         E,
         {"render", "{d}/in.exr", "-o", "{d}/out.exr", "--focus", "8 "},
         2,
         "--focus 8 : not a number",
         E},
        {"render: an empty value after '='",
         E,
         {"render", "{d}/in.#.exr", "-o", "{d}/o.#.exr", "--frames=", "1", "--focus", "8"},
         2,
         "--frames=: no value after '=' (see --help)",
         E},
    };
    runCases(cases);
}

}  // namespace
