// dof3d render end to end: the built binary on files the tests write.
#include <OpenImageIO/half.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <thread>

#include "image_files.h"
#include "render_expectation.h"
#include "support/run_command.h"

namespace {

using doftest::FlatImage;
using doftest::ScratchFolder;

doftest::CommandResult render(std::vector<std::string> args) {
    std::vector<std::string> all = {doftest::dof3dPath(), "render"};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back("--effects");
    all.push_back(DOF_TEST_EFFECTS_DIR);
    return doftest::runCommand(all);
}

int lines(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// 24 x 16, R G B A Z and two more channels: an in-focus opaque block (Z 10),
// a far opaque block (Z 25), empty pixels (alpha 0, Z 0), a half-transparent
// near block (Z 6), light under zero alpha, a colour above 1, a sentinel
// depth and a NaN depth.
FlatImage testScene() {
    FlatImage s =
        doftest::makeFlat(24, 16, {"R", "G", "B", "A", "Z", "id", "N.x"}, OIIO::TypeDesc::FLOAT);
    s.stringAttributes = {
        {"Software", "scene writer 1.0"}, {"comments", "keep me"}, {"studio:shot", "sq010"}};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            float r = 0, g = 0, b = 0, a = 0, z = 0;
            if (x < 8) {
                r = (x + y) % 2 ? 0.8f : 0.2f, g = 0.5f, b = 0.25f * float(y % 4), a = 1, z = 10;
            } else if (x < 16) {
                r = 0.1f, g = (x % 3) * 0.4f, b = 0.9f, a = 1, z = 25;
            } else if (y >= 8) {
                a = 0.5f, r = 0.25f, g = 0.125f * float(x % 4), b = 0.0625f, z = 6;
            }
            s.at(x, y, 0) = r;
            s.at(x, y, 1) = g;
            s.at(x, y, 2) = b;
            s.at(x, y, 3) = a;
            s.at(x, y, 4) = z;
            s.at(x, y, 5) = float(x * 100 + y);
            s.at(x, y, 6) = -0.5f + 0.01f * float(x);
        }
    s.at(20, 3, 0) = 0.3f;    // light under zero alpha
    s.at(10, 5, 0) = 3.0f;    // above full scale
    s.at(12, 12, 4) = 1e10f;  // renderer's "no hit"
    s.at(13, 12, 4) = std::nanf("");
    s.at(3, 3, 4) = 10.5f;  // slightly off focus
    return s;
}

struct ExactCase {
    const char* why;
    const char* method;
    int mode;
    const char* format;  // --format
    QVBitmapType code;
};

TEST(RenderCommand, FlatExrMatchesTheLiteralReference) {
    ScratchFolder dir;
    const FlatImage scene = testScene();
    ASSERT_TRUE(doftest::writeFlat(dir.file("in.exr"), scene));
    const ExactCase cases[] = {
        {"splat in float", "splat", 2, "auto", kQVBitmapRGBAFloat},
        {"box in float", "box", 1, "auto", kQVBitmapRGBAFloat},
        {"splat in 8 bits", "splat", 2, "8", kQVBitmapRGBA8},
        {"box in 16 bits", "box", 1, "16", kQVBitmapRGBA16},
        {"splat in 10 bits", "splat", 2, "10", kQVBitmapRGBA10},
        {"box in 12 bits", "box", 1, "12", kQVBitmapRGBA12},
    };
    for (const ExactCase& c : cases) {
        const std::string out = dir.file(std::string("out-") + c.method + "-" + c.format + ".exr");
        const auto run = render({dir.file("in.exr"), "-o", out, "--focus", "10", "--radius", "3",
                                 "--method", c.method, "--format", c.format, "--layers", "1"});
        ASSERT_EQ(run.exitCode, 0) << c.why << ": " << run.err;
        // No progress bar off a terminal; the data channels are named.
        EXPECT_EQ(run.err, "dof3d: " + dir.file("in.exr") + ": kept sharp: Z, id, N.x\n") << c.why;
        OIIO::ImageSpec imageSpec;
        const FlatImage got = doftest::readFlat(out, &imageSpec);
        ASSERT_EQ(got.width, 24) << c.why;
        ASSERT_EQ(got.channels, scene.channels) << c.why;
        const std::vector<float> expected =
            doftest::expectedFlatRender(scene, c.mode, c.code, 3.0, 10.0);
        int mismatches = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 24; ++x) {
                for (int ch = 0; ch < 4; ++ch) {
                    const float e =
                        expected[(std::size_t(y) * 24 + std::size_t(x)) * 4 + std::size_t(ch)];
                    if (!sameBits(e, got.at(x, y, ch)) && ++mismatches < 5)
                        ADD_FAILURE() << c.why << ": pixel " << x << "," << y << " channel " << ch
                                      << " expected " << e << " got " << got.at(x, y, ch);
                }
                // Every other channel comes through untouched.
                for (int ch = 4; ch < 7; ++ch)
                    if (!sameBits(scene.at(x, y, ch), got.at(x, y, ch)) && ++mismatches < 5)
                        ADD_FAILURE()
                            << c.why << ": channel " << ch << " changed at " << x << "," << y;
            }
        EXPECT_EQ(mismatches, 0) << c.why;
        EXPECT_EQ(imageSpec.get_string_attribute("ImageDescription"), "keep me")
            << c.why;  // EXR's comments
        EXPECT_EQ(imageSpec.get_string_attribute("studio:shot"), "sq010") << c.why;
        EXPECT_EQ(imageSpec.get_string_attribute("Software"), "scene writer 1.0") << c.why;
        EXPECT_EQ(imageSpec.format, OIIO::TypeDesc::FLOAT) << c.why;
    }
}

// 40 x 80 opaque: bands of 16 rows at distances 10 (focus), 11, 12.5, 15 and
// 7.5 (near), each bright on the left half and dark on the right.
FlatImage edgeBands() {
    const float distances[] = {10, 11, 12.5f, 15, 7.5f};
    FlatImage s = doftest::makeFlat(40, 80, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::FLOAT);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 40; ++x) {
            const float v = x < 20 ? 0.9f : 0.1f;
            s.at(x, y, 0) = s.at(x, y, 1) = s.at(x, y, 2) = v;
            s.at(x, y, 3) = 1;
            s.at(x, y, 4) = distances[y / 16];
        }
    return s;
}

// Columns of a row whose value lies strictly between the two sides.
int edgeWidth(const FlatImage& image, int row) {
    int width = 0;
    for (int x = 0; x < image.width; ++x) {
        const float v = image.at(x, row, 0);
        if (v > 0.1f + 1e-4f && v < 0.9f - 1e-4f) ++width;
    }
    return width;
}

TEST(RenderCommand, InFocusStaysAndBlurGrowsWithDistanceFromFocus) {
    ScratchFolder dir;
    const FlatImage scene = edgeBands();
    ASSERT_TRUE(doftest::writeFlat(dir.file("in.exr"), scene));
    for (const char* method : {"splat", "box"}) {
        const std::string out = dir.file(std::string(method) + ".exr");
        const auto run = render(
            {dir.file("in.exr"), "-o", out, "--focus", "10", "--radius", "6", "--method", method});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const FlatImage got = doftest::readFlat(out);
        // The focus band, away from where the next band's blur reaches (its
        // hat spans 2 x 0.6 taps).
        for (int y = 0; y < 14; ++y)
            for (int x = 0; x < 40; ++x)
                for (int c = 0; c < 4; ++c)
                    ASSERT_EQ(got.at(x, y, c), scene.at(x, y, c)) << method << " " << x << "," << y;
        // The middle row of each band, out of reach of its neighbours' blur.
        const int focus = edgeWidth(got, 8), d11 = edgeWidth(got, 24), d12 = edgeWidth(got, 40),
                  d15 = edgeWidth(got, 56), near = edgeWidth(got, 72);
        EXPECT_EQ(focus, 0) << method;
        EXPECT_LT(focus, d11) << method;
        EXPECT_LT(d11, d12) << method;
        EXPECT_LT(d12, d15) << method;
        EXPECT_LT(focus, near) << method;  // nearer than the focus blurs too
    }
}

TEST(RenderCommand, EightBitPngWithSeparateDepthKeepsItsFormat) {
    ScratchFolder dir;
    FlatImage png = doftest::makeFlat(32, 16, {"R", "G", "B", "A"}, OIIO::TypeDesc::UINT8);
    png.unassociatedAlpha = true;
    FlatImage depth = doftest::makeFlat(32, 16, {"Y"}, OIIO::TypeDesc::UINT8);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            png.at(x, y, 0) = float((x * 37 + y * 11) % 256) / 255.0f;
            png.at(x, y, 1) = float((x * 5) % 256) / 255.0f;
            png.at(x, y, 2) = float((y * 13) % 256) / 255.0f;
            png.at(x, y, 3) = x >= 16 && y == 0 ? 128 / 255.0f : 1.0f;
            depth.at(x, y, 0) = x < 16 ? 51 / 255.0f : 1.0f;  // 0.2 in focus, 1.0 far
        }
    ASSERT_TRUE(doftest::writeFlat(dir.file("in.png"), png));
    ASSERT_TRUE(doftest::writeFlat(dir.file("z.png"), depth));
    const auto run = render({dir.file("in.png"), "--depth", dir.file("z.png"), "-o",
                             dir.file("out.png"), "--focus", "0.2", "--radius", "3"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    OIIO::ImageSpec imageSpec;
    const FlatImage got = doftest::readFlat(dir.file("out.png"), &imageSpec);
    ASSERT_EQ(got.width, 32);
    EXPECT_EQ(imageSpec.format, OIIO::TypeDesc::UINT8);
    EXPECT_EQ(imageSpec.nchannels, 4);
    int changedFar = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            for (int c = 0; c < 4; ++c) {
                const long in = std::lround(png.at(x, y, c) * 255),
                           out = std::lround(got.at(x, y, c) * 255);
                // Far pixels spread up to 2 x 3 columns into the focus half.
                if (x < 10) {
                    EXPECT_EQ(out, in) << x << "," << y << " channel " << c;
                }
                if (x >= 16 && out != in) ++changedFar;
            }
    EXPECT_GT(changedFar, 100);
}

TEST(RenderCommand, SixteenBitTiffKeepsItsFormat) {
    ScratchFolder dir;
    FlatImage tif = doftest::makeFlat(24, 8, {"R", "G", "B"}, OIIO::TypeDesc::UINT16);
    FlatImage depth = doftest::makeFlat(24, 8, {"Z"}, OIIO::TypeDesc::FLOAT);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 24; ++x) {
            tif.at(x, y, 0) = float((x * 2741 + y * 977) % 65536) / 65535.0f;
            tif.at(x, y, 1) = float((x * 31) % 65536) / 65535.0f;
            tif.at(x, y, 2) = 0.5f;
            depth.at(x, y, 0) = x < 12 ? 100.0f : 400.0f;
        }
    ASSERT_TRUE(doftest::writeFlat(dir.file("in.tif"), tif));
    ASSERT_TRUE(doftest::writeFlat(dir.file("z.exr"), depth));
    const auto run =
        render({dir.file("in.tif"), "--depth", dir.file("z.exr"), "-o", dir.file("out.tif"),
                "--focus", "100", "--radius", "2", "--method", "box"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    OIIO::ImageSpec imageSpec;
    const FlatImage got = doftest::readFlat(dir.file("out.tif"), &imageSpec);
    ASSERT_EQ(got.width, 24);
    EXPECT_EQ(imageSpec.format, OIIO::TypeDesc::UINT16);
    EXPECT_EQ(imageSpec.nchannels, 3);
    int changedFar = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 24; ++x)
            for (int c = 0; c < 3; ++c) {
                const long in = std::lround(tif.at(x, y, c) * 65535),
                           out = std::lround(got.at(x, y, c) * 65535);
                if (x < 10) {
                    EXPECT_EQ(out, in) << x << "," << y;
                }
                if (x >= 14 && out != in) ++changedFar;
            }
    EXPECT_GT(changedFar, 50);
}

// Over-compositing written out for one pixel's samples, front to back.
void flatten(const std::vector<doftest::TestSample>& samples, double out[4]) {
    double through = 1.0;
    out[0] = out[1] = out[2] = out[3] = 0.0;
    for (const doftest::TestSample& s : samples) {
        const double stored[4] = {doftest::asHalf(s.r), doftest::asHalf(s.g), doftest::asHalf(s.b),
                                  doftest::asHalf(s.a)};
        for (int c = 0; c < 4; ++c) out[c] += stored[c] * through;
        through *= 1.0 - stored[3];
    }
}

TEST(RenderCommand, DeepSamplesAtTheFocusGiveBackTheFlattenedImage) {
    ScratchFolder dir;
    const int w = 16, h = 8;
    std::vector<std::vector<doftest::TestSample>> samples(std::size_t(w * h));
    unsigned seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return float((seed >> 8) & 0xFFFF) / 65535.0f;
    };
    for (int p = 0; p < w * h; ++p) {
        const int kind = p % 5;  // 0 empty, 1 one opaque, 2 two, 3 three, 4 half-transparent only
        const int count = kind == 0 ? 0 : (kind == 4 ? 2 : kind);
        for (int k = 0; k < count; ++k) {
            const bool last = k == count - 1;
            const float a = (last && kind != 4) ? 1.0f : 0.2f + 0.5f * next();
            samples[std::size_t(p)].push_back({a * next(), a * next(), a * next(), a, 10.0f});
        }
    }
    ASSERT_TRUE(doftest::writeDeep(dir.file("deep.exr"), w, h, samples));
    const auto run = render({dir.file("deep.exr"), "-o", dir.file("out.exr"), "--focus", "10",
                             "--radius", "5", "--method", "splat"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    OIIO::ImageSpec imageSpec;
    const FlatImage got = doftest::readFlat(dir.file("out.exr"), &imageSpec);
    ASSERT_EQ(got.width, w);
    ASSERT_EQ(got.channels, (std::vector<std::string>{"R", "G", "B", "A", "Z"}));
    EXPECT_EQ(imageSpec.channelformat(0), OIIO::TypeDesc::HALF);
    EXPECT_EQ(imageSpec.channelformat(4), OIIO::TypeDesc::FLOAT);
    const double code = 1.0 / 255.0;
    for (int p = 0; p < w * h; ++p) {
        const int x = p % w, y = p / w;
        double expected[4];
        flatten(samples[std::size_t(p)], expected);
        if (expected[3] == 1.0) {
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(got.at(x, y, c), expected[c], code)
                    << "opaque pixel " << p << " channel " << c;
            EXPECT_EQ(got.at(x, y, 3), 1.0f) << p;
        } else {
            // Partly covered pixels: colour as well, alpha to the byte that
            // carries it (and half precision).
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(got.at(x, y, c), expected[c], code)
                    << "partial pixel " << p << " channel " << c;
            EXPECT_NEAR(got.at(x, y, 3), expected[3], 0.5 * code + 1e-3) << p;
        }
        if (!samples[std::size_t(p)].empty()) {
            EXPECT_EQ(got.at(x, y, 4), 10.0f) << p;
        }
    }
}

TEST(RenderCommand, DeepLayersBlurByTheirOwnDepth) {
    ScratchFolder dir;
    // Every pixel: a half-transparent grey sample at the focus (10) over an
    // opaque black one far behind (40). At the centre the front sample is
    // greener and the far one red.
    const int w = 41, h = 41, centre = 20 * w + 20;
    std::vector<std::vector<doftest::TestSample>> samples(std::size_t(w * h));
    for (int p = 0; p < w * h; ++p) {
        const bool special = p == centre;
        samples[std::size_t(p)] = {{0.25f, special ? 0.5f : 0.25f, 0.25f, 0.5f, 10.0f},
                                   {special ? 1.0f : 0.0f, 0.0f, 0.0f, 1.0f, 40.0f}};
    }
    ASSERT_TRUE(doftest::writeDeep(dir.file("deep.exr"), w, h, samples));
    const auto run =
        render({dir.file("deep.exr"), "-o", dir.file("out.exr"), "--focus", "10", "--radius", "3"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const FlatImage got = doftest::readFlat(dir.file("out.exr"));
    ASSERT_EQ(got.width, w);
    // Row 8 sees the same neighbourhood as row 20, without the centre pixel.
    // The far layer (fraction 1, a hat of 2 x 3 taps whose last is nearly 0)
    // reaches 6 columns, not 7.
    EXPECT_GT(got.at(25, 20, 0), got.at(25, 8, 0));
    EXPECT_EQ(got.at(27, 20, 0), got.at(27, 8, 0));
    EXPECT_GT(got.at(20, 25, 0), got.at(20, 8, 0));
    // The focused layer stays in its pixel.
    EXPECT_GT(got.at(20, 20, 1), got.at(20, 8, 1));
    EXPECT_EQ(got.at(21, 20, 1), got.at(21, 8, 1));
    EXPECT_EQ(got.at(20, 19, 1), got.at(20, 8, 1));
}

TEST(RenderCommand, SequencesRenderSkipAndReportFailures) {
    ScratchFolder dir;
    const FlatImage scene = edgeBands();
    for (int f = 1001; f <= 1004; ++f)
        ASSERT_TRUE(doftest::writeFlat(dir.file("in." + std::to_string(f) + ".exr"), scene));
    const std::string in = dir.file("in.####.exr"), out = dir.file("out.%04d.exr");
    auto run = render(
        {in, "-o", out, "--frames", "1001-1003", "-j", "2", "--focus", "10", "--radius", "2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "dof3d: 3 rendered, 0 skipped (made with these settings), 0 failed\n");
    for (int f = 1001; f <= 1003; ++f)
        EXPECT_TRUE(doftest::fileExists(dir.file("out." + std::to_string(f) + ".exr")));
    EXPECT_FALSE(doftest::fileExists(dir.file("out.1004.exr")));
    // Every frame is the same picture, rendered by its own instance.
    const FlatImage first = doftest::readFlat(dir.file("out.1001.exr"));
    EXPECT_EQ(first.pixels, doftest::readFlat(dir.file("out.1003.exr")).pixels);

    // A farm reruns the chunk: done frames stay, the new one is rendered.
    run = render(
        {in, "-o", out, "--frames", "1001-1004", "--focus", "10.0", "--radius", "2", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "dof3d: 1 rendered, 3 skipped (made with these settings), 0 failed\n");
    EXPECT_NE(run.out.find("\"totals\":{\"rendered\":1,\"skipped\":3,\"failed\":0"),
              std::string::npos)
        << run.out;

    // Other settings: those frames are made again, and that is said.
    std::remove(dir.file("out.1002.exr").c_str());
    run = render(
        {in, "-o", out, "--frames", "1001-1002", "--focus", "10", "--radius", "3", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "dof3d: " + dir.file("out.1001.exr") +
                           ": made with other settings; rendering it again\n"
                           "dof3d: 2 rendered, 0 skipped (made with these settings), 0 failed\n");
    EXPECT_NE(run.out.find("\"renderedAgainBecause\":\"made with other settings\""),
              std::string::npos)
        << run.out;
    OIIO::ImageSpec imageSpec;
    doftest::readFlat(dir.file("out.1001.exr"), &imageSpec);
    EXPECT_EQ(std::string(imageSpec.get_string_attribute("dof3d:settings")),
              "dof3d 0.1.0 render --method splat --layers 8 --radius 3 --depth-unit m --focus 10 "
              "--depth-convention distance --no-hit far --no-hit-above 1e+09 --format auto "
              "--colorspace sRGB");

    // --overwrite renders them again; a missing frame fails alone.
    std::remove(dir.file("in.1002.exr").c_str());
    run = render(
        {in, "-o", out, "--frames", "1001-1003", "--overwrite", "--focus", "10", "--radius", "2"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "dof3d: " + dir.file("in.1002.exr") +
                           ": no such file\n"
                           "dof3d: 2 rendered, 0 skipped (made with these settings), 1 failed\n");
}

struct ErrorCase {
    const char* why;
    std::vector<std::string> args;  // after IN; IN is args[0]
    std::string expected;           // the whole message line after "dof3d: "
    int exitCode;
};

TEST(RenderCommand, BadInputIsOneLineNonZeroAndNoOutput) {
    ScratchFolder dir;
    ASSERT_TRUE(doftest::writeFlat(dir.file("good.exr"), testScene()));
    ASSERT_TRUE(
        doftest::writeFlat(dir.file("nodepth.exr"),
                           doftest::makeFlat(4, 4, {"R", "G", "B", "A"}, OIIO::TypeDesc::HALF)));
    ASSERT_TRUE(doftest::writeFlat(dir.file("small.exr"),
                                   doftest::makeFlat(3, 3, {"Z"}, OIIO::TypeDesc::FLOAT)));
    {
        std::ofstream junk(dir.file("junk.exr"));
        junk << "not an image at all";
        FlatImage big = testScene();
        for (float& v : big.pixels) v = float(std::rand()) / float(RAND_MAX);
        ASSERT_TRUE(doftest::writeFlat(dir.file("whole.exr"), big));
        std::ifstream in(dir.file("whole.exr"), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        std::ofstream(dir.file("cut.exr"), std::ios::binary)
            << bytes.substr(0, bytes.size() * 2 / 3);
    }
    const std::string good = dir.file("good.exr");
    const std::string out = dir.file("out.exr");
    const ErrorCase cases[] = {
        {"missing file",
         {dir.file("none.exr"), "--focus", "10"},
         dir.file("none.exr") + ": no such file",
         1},
        {"unreadable file",
         {dir.file("junk.exr"), "--focus", "10"},
         dir.file("junk.exr") + ": cannot read: ",
         1},
        {"truncated EXR",
         {dir.file("cut.exr"), "--focus", "10"},
         dir.file("cut.exr") + ": corrupt or truncated: ",
         1},
        {"no depth channel",
         {dir.file("nodepth.exr"), "--focus", "10"},
         dir.file("nodepth.exr") + ": no depth channel (looked for Z and depth.Z; name one with "
                                   "--depth-channel, or give --depth FILE)",
         1},
        {"depth of another size",
         {good, "--depth", dir.file("small.exr"), "--focus", "10"},
         dir.file("small.exr") + ": depth image is 3x3, but " + good + " is 24x16",
         1},
        {"radius out of range",
         {good, "--focus", "10", "--radius", "65"},
         "--radius 65: out of range (0 to 64 pixels)",
         2},
        {"focus not finite", {good, "--focus", "inf"}, "--focus inf is not a finite number", 2},
        {"focus zero", {good, "--focus", "0"}, "--focus 0 is zero, which puts it at the camera", 2},
        {"focus behind the camera",
         {good, "--focus", "-3"},
         "--focus -3 lies behind the camera in the distance depth convention",
         2},
        {"focus under an empty pixel",
         {good, "--focus-at", "20,0"},
         good + ": --focus-at 20,0: nothing was hit under that pixel",
         1},
        {"unwritable output folder",
         {good, "--focus", "10", "-o", dir.file("no/such/out.exr")},
         dir.file("no/such/out.exr") + ": cannot write: folder " + dir.file("no/such") +
             " does not exist",
         1},
        {"output is a folder",
         {good, "--focus", "10", "-o", dir.path()},
         dir.path() + ": cannot write: it is a folder",
         1},
        {"output of no known type",
         {good, "--focus", "10", "-o", dir.file("out.xyz")},
         dir.file("out.xyz") + ": cannot write: no writer for this file type",
         1},
    };
    for (const ErrorCase& c : cases) {
        std::vector<std::string> args = c.args;
        if (std::find(args.begin(), args.end(), "-o") == args.end()) {
            args.push_back("-o");
            args.push_back(out);
        }
        const auto run = render(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.why;
        EXPECT_EQ(run.err.rfind("dof3d: " + c.expected, 0), 0u) << c.why << ": " << run.err;
        EXPECT_EQ(lines(run.err), 1) << c.why << ": " << run.err;
        EXPECT_FALSE(doftest::fileExists(out)) << c.why;
    }
    // Nothing but the inputs is left in the folder: no temporary files.
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"cut.exr", "good.exr", "junk.exr",
                                                     "nodepth.exr", "small.exr", "whole.exr"}));
}

TEST(RenderCommand, InterruptLeavesNoOutput) {
    ScratchFolder dir;
    // Large and fully blurred: every fragment splats over 257 x 257 pixels,
    // many seconds of splatting even for the vector kernels.
    FlatImage big = doftest::makeFlat(1280, 960, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::HALF);
    for (int y = 0; y < 960; ++y)
        for (int x = 0; x < 1280; ++x) {
            big.at(x, y, 0) = float(x % 7) / 7.0f;
            big.at(x, y, 3) = 1.0f;
            big.at(x, y, 4) = 1000.0f;
        }
    ASSERT_TRUE(doftest::writeFlat(dir.file("big.exr"), big));
    const std::string out = dir.file("out.exr");
    int errPipe[2];
    ASSERT_EQ(pipe(errPipe), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(errPipe[1], 2);
        close(errPipe[0]);
        execl(doftest::dof3dPath().c_str(), "dof3d", "render", dir.file("big.exr").c_str(), "-o",
              out.c_str(), "--focus", "10", "--radius", "64", "--effects", DOF_TEST_EFFECTS_DIR,
              (char*)nullptr);
        _exit(127);
    }
    close(errPipe[1]);
    // A loaded machine may take seconds to start the program: wait until it
    // catches SIGINT, then let the render run a little.
    ASSERT_TRUE(doftest::waitUntilCatching(child, SIGINT, std::chrono::seconds(60)));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(child, SIGINT);
    std::string err;
    char buffer[512];
    ssize_t n;
    while ((n = read(errPipe[0], buffer, sizeof buffer)) > 0) err.append(buffer, std::size_t(n));
    close(errPipe[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(err, "dof3d: interrupted: frames in progress were not written\n");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"big.exr"});
}

TEST(RenderCommand, CocMapIsTheEffectsRadiusMap) {
    ScratchFolder dir;
    // Depths 10 (focus), 15, 20, 12.5 and no hit, one column each.
    FlatImage s = doftest::makeFlat(5, 2, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::FLOAT);
    const float z[5] = {10, 15, 20, 12.5f, 0};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) {
            s.at(x, y, 3) = 1;
            s.at(x, y, 4) = z[x];
        }
    ASSERT_TRUE(doftest::writeFlat(dir.file("in.exr"), s));
    const auto run = render({dir.file("in.exr"), "-o", dir.file("out.exr"), "--focus", "10",
                             "--radius", "4", "--coc-map", dir.file("coc.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    OIIO::ImageSpec imageSpec;
    const FlatImage coc = doftest::readFlat(dir.file("coc.png"), &imageSpec);
    ASSERT_EQ(coc.width, 5);
    EXPECT_EQ(imageSpec.nchannels, 1);
    // 255 x |1 - d / F| rounded, ties to even, at most 255.
    const long expected[5] = {0, 128, 255, 64, 255};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(std::lround(coc.at(x, y, 0) * 255), expected[x]) << x;
}

TEST(RenderCommand, FocusAtTakesTheDepthUnderAPixel) {
    ScratchFolder dir;
    FlatImage s = doftest::makeFlat(3, 1, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::FLOAT);
    const float z[3] = {10, 15, 20};
    for (int x = 0; x < 3; ++x) {
        s.at(x, 0, 3) = 1;
        s.at(x, 0, 4) = z[x];
    }
    ASSERT_TRUE(doftest::writeFlat(dir.file("in.exr"), s));
    const auto run = render({dir.file("in.exr"), "-o", dir.file("out.exr"), "--focus-at", "1,0",
                             "--radius", "4", "--coc-map", dir.file("coc.png"), "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const FlatImage coc = doftest::readFlat(dir.file("coc.png"));
    // F = 15: |1 - 10/15| = 1/3 -> 85; 0; |1 - 20/15| = 1/3 -> 85.
    EXPECT_EQ(std::lround(coc.at(0, 0, 0) * 255), 85);
    EXPECT_EQ(std::lround(coc.at(1, 0, 0) * 255), 0);
    EXPECT_EQ(std::lround(coc.at(2, 0, 0) * 255), 85);
    EXPECT_NE(run.out.find("\"focusDistance\":15.0,"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "dof3d: " + dir.file("in.exr") + ": --focus-at 1,0: focus distance 15\n");
    EXPECT_NE(run.out.find("\"passes\":["), std::string::npos) << run.out;
}

TEST(RenderCommand, LensFromOptionsOrFromTheFileBlursAsTheThinLens) {
    // f/2.5, 50 mm, a 36 mm sensor across 3600 pixels, focus 5.05 m: radius
    // 10 |d - 5.05| / d (lens_test.cpp), so 0, 5, 10 and 40 pixels here.
    ScratchFolder dir;
    FlatImage s = doftest::makeFlat(4, 1, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::FLOAT);
    s.fullWidth = 3600;
    s.fullHeight = 2000;
    const float z[4] = {5.05f, 10.1f, 2.525f, 1.01f};
    for (int x = 0; x < 4; ++x) {
        s.at(x, 0, 0) = s.at(x, 0, 3) = 1;
        s.at(x, 0, 4) = z[x];
    }
    ASSERT_TRUE(doftest::writeFlat(dir.file("plain.exr"), s));
    const float sensor[2] = {36, 20};
    s.attributes = {
        OIIO::ParamValue("aperture", 2.5f), OIIO::ParamValue("pinholeFocalLength", 50.0f),
        OIIO::ParamValue("sensorOverallDimensions",
                         OIIO::TypeDesc(OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::VEC2), 1, sensor)};
    ASSERT_TRUE(doftest::writeFlat(dir.file("tagged.exr"), s));
    const auto given =
        render({dir.file("plain.exr"), "-o", dir.file("a.exr"), "--focus", "5.05", "--fstop", "2.5",
                "--focal-length", "50", "--sensor-width", "36", "--coc-map", dir.file("a.png")});
    ASSERT_EQ(given.exitCode, 0) << given.err;
    EXPECT_EQ(given.err, "");
    const auto fromFile = render({dir.file("tagged.exr"), "-o", dir.file("b.exr"), "--focus",
                                  "5.05", "--coc-map", dir.file("b.png")});
    ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;
    EXPECT_EQ(fromFile.err, "dof3d: " + dir.file("tagged.exr") +
                                ": lens from the file: f/2.5, 50 mm, sensor 36 mm wide: radius up "
                                "to 40 px\n");
    // The map holds 255 x radius / 40; the pixel at the focus stays sharp.
    const long expected[4] = {0, 32, 64, 255};
    for (const char* map : {"a.png", "b.png"}) {
        const FlatImage coc = doftest::readFlat(dir.file(map));
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(std::lround(coc.at(x, 0, 0) * 255), expected[x]) << map << " " << x;
    }
}

TEST(RenderCommand, DataWindowGrowsByTheBlurReachInsideTheDisplayWindow) {
    ScratchFolder dir;
    FlatImage s = doftest::makeFlat(4, 4, {"R", "G", "B", "A", "Z"}, OIIO::TypeDesc::HALF);
    s.x = 20;
    s.y = 3;
    s.fullWidth = 40;
    s.fullHeight = 30;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            s.at(x, y, 0) = s.at(x, y, 3) = 1;
            s.at(x, y, 4) = 50;
        }
    ASSERT_TRUE(doftest::writeFlat(dir.file("in.exr"), s));
    const auto run =
        render({dir.file("in.exr"), "-o", dir.file("out.exr"), "--focus", "10", "--radius", "2.5"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    OIIO::ImageSpec imageSpec;
    const FlatImage got = doftest::readFlat(dir.file("out.exr"), &imageSpec);
    // The hat reaches floor(2 x 2.5) = 5 pixels: x 15 to 28, y 0 (the
    // display window's top) to 11.
    EXPECT_EQ(imageSpec.x, 15);
    EXPECT_EQ(imageSpec.y, 0);
    EXPECT_EQ(imageSpec.width, 14);
    EXPECT_EQ(imageSpec.height, 12);
    EXPECT_EQ(imageSpec.full_width, 40);
    EXPECT_GT(got.at(2, 5, 3), 0.0f);  // blur spread left of the old window
}

std::string sampleFile(const char* name) {
    return std::string(DOF_TEST_SOURCE_DIR) + "/../shared/data/openexr-images/" + name;
}

TEST(RenderCommand, RealDeepExr) {
    const std::string input = sampleFile("v2_LowResLeftView_Trunks.exr");
    if (!doftest::fileExists(input)) GTEST_SKIP() << "sample images not beside the checkout";
    ScratchFolder dir;
    const auto run =
        render({input, "-o", dir.file("out.exr"), "--focus", "300", "--radius", "2", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    OIIO::ImageSpec imageSpec;
    const FlatImage got = doftest::readFlat(dir.file("out.exr"), &imageSpec);
    EXPECT_FALSE(imageSpec.deep);
    EXPECT_EQ(got.channels, (std::vector<std::string>{"R", "G", "B", "A", "Z"}));
    OIIO::ImageSpec inputSpec;
    doftest::readFlat(input, &inputSpec);
    ASSERT_NE(inputSpec.get_string_attribute("Copyright"), "");  // EXR's owner attribute
    EXPECT_EQ(imageSpec.get_string_attribute("Copyright"),
              inputSpec.get_string_attribute("Copyright"));
    // The data window (0,141)-(1023,575) grows up by the reach of 4 rows.
    EXPECT_EQ(imageSpec.y, 137);
    EXPECT_EQ(imageSpec.height, 439);
    EXPECT_NE(run.out.find("\"deep\":true"), std::string::npos);
}

TEST(RenderCommand, RealMultiViewAndMultiPartExr) {
    const std::string single = sampleFile("Beachball_singlepart.0001.exr");
    const std::string multi = sampleFile("Beachball_multipart.0001.exr");
    if (!doftest::fileExists(single)) GTEST_SKIP() << "sample images not beside the checkout";
    ScratchFolder dir;
    auto run = render({single, "-o", dir.file("single.exr"), "--focus", "9.5", "--radius", "3"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    OIIO::ImageSpec imageSpec;
    FlatImage got = doftest::readFlat(dir.file("single.exr"), &imageSpec);
    EXPECT_EQ(imageSpec.nchannels, 20);  // every view's channels kept
    EXPECT_EQ(imageSpec.format, OIIO::TypeDesc::HALF);
    EXPECT_EQ(imageSpec.get_string_attribute("name"), "rgba");
    // The depth of the colour part comes from its view's depth part.
    run = render({multi, "-o", dir.file("multi.exr"), "--focus", "9.5", "--radius", "3"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    got = doftest::readFlat(dir.file("multi.exr"), &imageSpec);
    EXPECT_EQ(imageSpec.nchannels, 4);
}

}  // namespace
