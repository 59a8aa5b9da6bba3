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
#include <iterator>
#include <map>
#include <mutex>
#include <regex>
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
    std::vector<doftest::CommandResult> before;
    std::string file(const std::string& name) const { return dir + "/" + name; }
    FlatImage read(const std::string& name, OIIO::ImageSpec* header = nullptr) const {
        return doftest::readFlat(file(name), header);
    }
};

// One case of cases/*.txt (cases/README.md).
struct Case {
    std::string where, why;
    std::vector<std::string> inputs, args, twin, made, out, check;
    std::vector<std::vector<std::string>> before;
    int status = 0;
    std::string err;
};

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> list;
    std::string word;
    bool quoted = false, any = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted, any = true;
        } else if (c == ' ' && !quoted) {
            if (any) list.push_back(word);
            word.clear(), any = false;
        } else if (c == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            word += '\n', ++i, any = true;
        } else {
            word += c, any = true;
        }
    }
    if (any) list.push_back(word);
    return list;
}

std::string unescape(std::string text) {
    for (std::size_t at; (at = text.find("\\n")) != std::string::npos;) text.replace(at, 2, "\n");
    return text;
}

std::vector<Case> readCases() {
    std::vector<std::string> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(DOF_TEST_SOURCE_DIR "/tests/cli/cases"))
        if (entry.path().extension() == ".txt") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    std::vector<Case> cases;
    for (const std::string& file : files) {
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
                {"twin", &Case::twin},
                {"made", &Case::made},
                {"check", &Case::check}};
            if (lists.count(key))
                c.*lists.at(key) = words(value);
            else if (key == "before")
                c.before.push_back(words(value));
            else if (key == "case")
                c.why = value;
            else if (key == "status")
                c.status = std::stoi(value);
            else if (key == "err")
                c.err += (c.err.empty() ? "" : "\ndof3d: ") + value;
            else if (key == "stdout")
                c.out.push_back(unescape(value));
            else
                ADD_FAILURE() << file << ":" << number << ": unknown key " << key;
        }
    }
    // Cases on the sample images run where the images sit beside the checkout.
    if (!std::filesystem::exists(DOF_TEST_SOURCE_DIR "/../shared/data/openexr-images")) {
        const auto onSamples = [](const Case& c) {
            return std::any_of(c.args.begin(), c.args.end(), [](const std::string& a) {
                return a.find("{s}") != std::string::npos;
            });
        };
        cases.erase(std::remove_if(cases.begin(), cases.end(), onSamples), cases.end());
        std::printf("sample images not beside the checkout: their cases are left out\n");
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

// --- checks -------------------------------------------------------------

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// out.exr holds scene.exr's pixels, every channel, bit for bit, and its
// metadata.
void givesTheSceneBack(const Outcome& o) {
    const FlatImage in = scene();
    OIIO::ImageSpec header;
    const FlatImage got = o.read("out.exr", &header);
    ASSERT_EQ(got.channels, in.channels);
    int differing = 0;
    for (std::size_t i = 0; i < in.pixels.size(); ++i)
        differing += !sameBits(got.pixels[i], in.pixels[i]);
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(header.get_string_attribute("ImageDescription"), "keep me");  // EXR's comments
    EXPECT_EQ(header.get_string_attribute("studio:shot"), "sq010");
    EXPECT_EQ(header.get_string_attribute("Software"), "scene writer 1.0");
    EXPECT_EQ(header.format, OIIO::TypeDesc::FLOAT);
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
        OIIO::ImageSpec header;
        const FlatImage coc = o.read("coc.png", &header);
        ASSERT_GE(coc.width, int(expected.size()));  // the blur may widen the window
        EXPECT_EQ(header.nchannels, 1);
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
        OIIO::ImageSpec header;
        const FlatImage a = o.read(in), b = o.read(out, &header);
        ASSERT_EQ(b.width, a.width);
        EXPECT_EQ(header.format, type);
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
    OIIO::ImageSpec header;
    const FlatImage got = o.read("out.exr", &header);
    const auto samples = deepAtFocus();
    ASSERT_EQ(got.channels, (std::vector<std::string>{"R", "G", "B", "A", "Z"}));
    EXPECT_EQ(header.channelformat(0), OIIO::TypeDesc::HALF);
    EXPECT_EQ(header.channelformat(4), OIIO::TypeDesc::FLOAT);
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

// The checks a case can name, with their arguments.
using Check = std::function<void(const Outcome&, const std::vector<std::string>&)>;
const std::map<std::string, Check>& checks() {
    const auto numbers = [](const std::vector<std::string>& args, std::size_t from) {
        std::vector<long> list;
        for (std::size_t i = from; i < args.size(); ++i) list.push_back(std::stol(args[i]));
        return list;
    };
    static const std::map<std::string, Check> named = {
        {"scene-back", [](const Outcome& o, const auto&) { givesTheSceneBack(o); }},
        {"blur-grows", [](const Outcome& o, const auto&) { blurGrowsWithDistance(o); }},
        {"flattened", [](const Outcome& o, const auto&) { flattensTheSamples(o); }},
        {"layers", [](const Outcome& o, const auto&) { layersBlurByTheirOwnDepth(o); }},
        {"flat", [](const Outcome& o, const auto&) { staysFlat(o); }},
        {"box-ramp", [](const Outcome& o, const auto&) { boxRamp(o); }},
        {"gaussian-edge", [](const Outcome& o, const auto&) { gaussianEdge(o); }},
        {"coc", [=](const Outcome& o, const auto& a) { cocRow(numbers(a, 0))(o); }},
        // in, out, bits, sharp columns, first far column, far changes
        {"keeps-format",
         [=](const Outcome& o, const auto& a) {
             const std::vector<long> n = numbers(a, 2);
             keepsFormat(a[0], a[1], n[0] == 8 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16,
                         n[0] == 8 ? 255.0 : 65535.0, int(n[1]), int(n[2]), int(n[3]))(o);
         }},
        // FILE, then KEY=VALUE: a header field (x, y, width, height, nchannels,
        // full_width, deep, channels, format) or a text attribute; KEY^FILE2: the same
        // attribute as FILE2's, which must have it.
        {"header",
         [](const Outcome& o, const auto& a) {
             const auto field = [](const OIIO::ImageSpec& s, const std::string& key) {
                 const std::map<std::string, long> numbers = {{"x", s.x},
                                                              {"y", s.y},
                                                              {"width", s.width},
                                                              {"height", s.height},
                                                              {"full_width", s.full_width},
                                                              {"nchannels", s.nchannels},
                                                              {"deep", s.deep}};
                 std::string names;
                 for (const std::string& n : s.channelnames)
                     names += (names.empty() ? "" : ",") + n;
                 if (numbers.count(key)) return std::to_string(numbers.at(key));
                 return key == "channels" ? names
                        : key == "format" ? std::string(s.format.c_str())
                                          : std::string(s.get_string_attribute(key));
             };
             OIIO::ImageSpec header, other;
             o.read(a[0], &header);
             for (std::size_t i = 1; i < a.size(); ++i) {
                 const std::size_t at = a[i].find_first_of("=^");
                 const std::string key = a[i].substr(0, at), value = a[i].substr(at + 1);
                 if (a[i][at] == '^') {
                     doftest::readFlat(inFolder(value, o.dir), &other);
                     ASSERT_NE(field(other, key), "") << key;
                 }
                 EXPECT_EQ(field(header, key), a[i][at] == '^' ? field(other, key) : value) << key;
             }
         }},
        // The four pictures; side by side holds the colour of the other three.
        {"demo",
         [](const Outcome& o, const auto&) {
             EXPECT_EQ(sortedNames(o.file("p")),
                       (std::vector<std::string>{"box.png", "side_by_side.png", "source.png",
                                                 "splat.png"}));
             OIIO::ImageSpec header;
             const FlatImage side = o.read("p/side_by_side.png", &header);
             EXPECT_EQ(header.format, OIIO::TypeDesc::UINT16);
             ASSERT_EQ(side.width, 3 * 64);
             const char* thirds[] = {"p/source.png", "p/box.png", "p/splat.png"};
             for (int t = 0; t < 3; ++t) {
                 const FlatImage part = o.read(thirds[t]);
                 ASSERT_EQ(part.width, 64);
                 for (int i = 0; i < 64 * 36; ++i)
                     for (int c = 0; c < 3; ++c)
                         ASSERT_EQ(side.at(t * 64 + i % 64, i / 64, c), part.at(i % 64, i / 64, c))
                             << t;
             }
         }},
    };
    return named;
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
            generators().at(std::regex_replace(input, std::regex("\\.[0-9]+\\."), ".1."))(
                outcomes[i].dir + "/" + input);
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
            for (const auto& step : cases[i].before)
                outcomes[i].before.push_back(doftest::runCommand(command(step, outcomes[i].dir), {},
                                                                 std::chrono::seconds(120)));
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
        SCOPED_TRACE(c.where + ": " + c.why);
        for (const auto& step : o.before) EXPECT_EQ(step.exitCode, 0) << step.err;
        EXPECT_EQ(o.run.exitCode, c.status) << o.run.err;
        std::string expected = c.err.empty() ? "" : "dof3d: " + inFolder(c.err, o.dir);
        if (!expected.empty() && expected.back() == '*')
            expected.pop_back();
        else if (!expected.empty())
            expected += "\n";
        EXPECT_EQ(expected.empty() ? o.run.err : o.run.err.substr(0, expected.size()), expected);
        // Every message of ours is one line; the usage errors of the option
        // parser say a line of their own too.
        EXPECT_LE(std::count(o.run.err.begin(), o.run.err.end(), '\n'),
                  std::max<long>(1, std::count(expected.begin(), expected.end(), '\n')))
            << o.run.err;
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
        for (const std::string& part : c.out)
            EXPECT_NE(o.run.out.find(part), std::string::npos) << part << "\n" << o.run.out;
        if (!c.check.empty()) {
            const auto named = checks().find(c.check[0]);
            if (named == checks().end())
                ADD_FAILURE() << "no check " << c.check[0];
            else
                named->second(o, std::vector<std::string>(c.check.begin() + 1, c.check.end()));
        }
    }
}

TEST(Cases, EveryCase) {
    unsetenv("OCIO");  // OpenImageIO's own colour spaces, not a configuration's
    const std::vector<Case> cases = readCases();
    EXPECT_GT(cases.size(), 80u);
    runCases(cases);
}

}  // namespace
