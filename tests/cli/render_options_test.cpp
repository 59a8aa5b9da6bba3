// Option checks that need no files: every bad value gets one line naming the
// option and what is wrong.
#include "cli/render_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "cli/task_pool.h"

namespace {

using dof3d::RenderArguments;

RenderArguments base() {
    RenderArguments a;
    a.input = "in.exr";
    a.output = "out.exr";
    a.focus = "10";
    return a;
}

struct BadCase {
    const char* why;
    void (*change)(RenderArguments&);
    const char* error;
};

TEST(RenderOptions, BadValuesAreNamed) {
    unsetenv("OCIO");  // OpenImageIO's own colour spaces, not a configuration's
    const BadCase cases[] = {
        {"no input", [](RenderArguments& a) { a.input.clear(); },
         "no input image: dof3d render IN -o OUT"},
        {"no output", [](RenderArguments& a) { a.output.clear(); }, "no output: give -o OUT"},
        {"radius above", [](RenderArguments& a) { a.radius = "70"; },
         "--radius 70: out of range (0 to 64 pixels)"},
        {"radius below", [](RenderArguments& a) { a.radius = "-1"; },
         "--radius -1: out of range (0 to 64 pixels)"},
        {"radius nan", [](RenderArguments& a) { a.radius = "nan"; },
         "--radius nan: out of range (0 to 64 pixels)"},
        {"radius text", [](RenderArguments& a) { a.radius = "8px"; }, "--radius 8px: not a number"},
        {"radius and a lens",
         [](RenderArguments& a) {
             a.radius = "3";
             a.fstop = "2";
         },
         "--radius: not with a lens (--fstop, --focal-length, --sensor-width), which sets the "
         "blur"},
        {"scale and a lens",
         [](RenderArguments& a) {
             a.scale = "0.5";
             a.focalLength = "50";
         },
         "--scale: not with a lens, whose blur follows the image's own size"},
        {"f-number zero", [](RenderArguments& a) { a.fstop = "0"; },
         "--fstop 0: must be a finite number above 0"},
        {"sensor text", [](RenderArguments& a) { a.sensorWidth = "full"; },
         "--sensor-width full: not a number"},
        {"depth unit", [](RenderArguments& a) { a.depthUnit = "yd"; },
         "--depth-unit yd: use m, cm, mm, in or ft"},
        {"data type the file type cannot store",
         [](RenderArguments& a) {
             a.output = "out.png";
             a.dataType = "half";
         },
         "--data-type half: png files store uint8 or uint16"},
        {"colour space", [](RenderArguments& a) { a.colourSpace = "P3"; },
         "--colorspace P3: not a colour space here (known: linear, default, rgb, RGB, sRGB, "
         "Rec709)"},
        {"method", [](RenderArguments& a) { a.method = "gauss"; },
         "--method gauss: use box or splat"},
        {"convention", [](RenderArguments& a) { a.depthConvention = "z"; },
         "--depth-convention z: use distance, negative or inverse"},
        {"no-hit", [](RenderArguments& a) { a.noHit = "near"; }, "--no-hit near: use far or focus"},
        {"no-hit-above", [](RenderArguments& a) { a.noHitAbove = "0"; },
         "--no-hit-above 0: must be above 0"},
        {"no focus", [](RenderArguments& a) { a.focus.clear(); },
         "no focus: give --focus DIST (in the file's depth units) or --focus-at X,Y"},
        {"both focus", [](RenderArguments& a) { a.focusAt = "1,2"; },
         "give either --focus or --focus-at, not both"},
        {"focus inf", [](RenderArguments& a) { a.focus = "inf"; },
         "--focus inf is not a finite number"},
        {"focus zero", [](RenderArguments& a) { a.focus = "0"; },
         "--focus 0 is zero, which puts it at the camera"},
        {"focus behind", [](RenderArguments& a) { a.focus = "-4"; },
         "--focus -4 lies behind the camera in the distance depth convention"},
        {"focus text", [](RenderArguments& a) { a.focus = "near"; }, "--focus near: not a number"},
        {"focus-at",
         [](RenderArguments& a) {
             a.focus.clear();
             a.focusAt = "12";
         },
         "--focus-at 12: expected pixel coordinates X,Y"},
        {"focus-at three",
         [](RenderArguments& a) {
             a.focus.clear();
             a.focusAt = "1,2,3";
         },
         "--focus-at 1,2,3: expected pixel coordinates X,Y"},
        {"sharp-until nearer", [](RenderArguments& a) { a.sharpUntil = "5"; },
         "--sharp-until 5 is not farther than --focus 10; the sharp zone runs from the focus away "
         "from the camera"},
        {"sharp-until equal", [](RenderArguments& a) { a.sharpUntil = "10"; },
         "--sharp-until 10 is not farther than --focus 10; the sharp zone runs from the focus away "
         "from the camera"},
        {"pixel aspect", [](RenderArguments& a) { a.pixelAspect = "0"; },
         "--pixel-aspect 0: must be a finite number above 0"},
        {"scale", [](RenderArguments& a) { a.scale = "1,2,3"; },
         "--scale 1,2,3: expected S or SX,SY"},
        {"scale negative", [](RenderArguments& a) { a.scale = "1,-2"; },
         "--scale -2: must be a finite number above 0"},
        {"format", [](RenderArguments& a) { a.format = "32"; },
         "--format 32: use auto, 8, 10, 12, 16 or float"},
        {"data type", [](RenderArguments& a) { a.dataType = "double"; },
         "--data-type double: use uint8, uint16, half or float"},
        {"jobs", [](RenderArguments& a) { a.jobs = "0"; }, "-j 0: use 1 to 64 frames at a time"},
        {"jobs text", [](RenderArguments& a) { a.jobs = "two"; }, "--jobs two: not a whole number"},
        {"threads", [](RenderArguments& a) { a.threads = "0"; },
         "--threads 0: use 1 to 256 threads per frame"},
        {"layers", [](RenderArguments& a) { a.layers = "33"; }, "--layers 33: use 1 to 32 slabs"},
        {"frames without field", [](RenderArguments& a) { a.frames = "1-3"; },
         "--frames 1-3: in.exr holds no frame field (#### or %04d)"},
        {"field without frames",
         [](RenderArguments& a) {
             a.input = "in.####.exr";
             a.output = "o.####.exr";
         },
         "in.####.exr: holds a frame field; give the frames with --frames (e.g. 1001-1100)"},
        {"output without field",
         [](RenderArguments& a) {
             a.input = "in.####.exr";
             a.frames = "1";
         },
         "out.exr: the output needs a frame field too (#### or %04d)"},
        {"coc map without field",
         [](RenderArguments& a) {
             a.input = "in.####.exr";
             a.output = "o.####.exr";
             a.frames = "1";
             a.cocMap = "c.png";
         },
         "c.png: --coc-map needs a frame field for a sequence (#### or %04d)"},
    };
    for (const BadCase& c : cases) {
        RenderArguments args = base();
        c.change(args);
        dof3d::RenderOptions options;
        std::string error;
        EXPECT_FALSE(dof3d::parseRenderOptions(args, &options, &error)) << c.why;
        EXPECT_EQ(error, c.error) << c.why;
    }
}

TEST(RenderOptions, GoodValuesParse) {
    RenderArguments a = base();
    a.depthConvention = "negative";
    a.focus = "-2.5";
    a.sharpUntil = "-4";
    a.radius = "12.5";
    a.method = "box";
    a.scale = "0.5,0.25";
    a.pixelAspect = "2";
    a.format = "12";
    a.jobs = "3";
    a.threads = "5";
    a.layers = "1";
    a.input = "in.%04d.exr";
    a.output = "out.####.exr";
    a.frames = "1-3";
    dof3d::RenderOptions o;
    std::string error;
    ASSERT_TRUE(dof3d::parseRenderOptions(a, &o, &error)) << error;
    EXPECT_EQ(o.focusDistance, 2.5);
    EXPECT_EQ(o.sharpUntilDistance, 4.0);
    EXPECT_EQ(o.radius, 12.5);
    EXPECT_EQ(o.method, dof3d::Method::Box);
    EXPECT_EQ(o.scaleX, 0.5);
    EXPECT_EQ(o.scaleY, 0.25);
    EXPECT_TRUE(o.hasPixelAspect);
    EXPECT_EQ(o.pixelAspect, 2.0);
    EXPECT_EQ(o.format, kQVBitmapRGBA12);
    EXPECT_EQ(o.jobs, 3);
    EXPECT_EQ(o.threads, 5);
    EXPECT_EQ(o.layers, 1);
    EXPECT_EQ(o.frames, (std::vector<int>{1, 2, 3}));

    RenderArguments b = base();
    b.focus.clear();
    b.focusAt = "-3,40";
    b.scale = "2";
    ASSERT_TRUE(dof3d::parseRenderOptions(b, &o, &error)) << error;
    EXPECT_TRUE(o.hasFocusAt);
    EXPECT_EQ(o.focusAtX, -3);
    EXPECT_EQ(o.focusAtY, 40);
    EXPECT_EQ(o.scaleX, 2.0);
    EXPECT_EQ(o.scaleY, 2.0);
    EXPECT_EQ(o.method, dof3d::Method::Splat);
    EXPECT_EQ(o.format, kQVBitmapNone);
    EXPECT_EQ(o.layers, 8);
    // The machine's cores, shared among the jobs, at least one each.
    EXPECT_EQ(o.threads, std::max(1, dof3d::machineCores()));
    EXPECT_FALSE(o.lens.fromFileAllowed);  // a render scale keeps the file's lens out

    RenderArguments lens = base();
    lens.fstop = "2.8";
    lens.sensorWidth = "36";
    lens.depthUnit = "cm";
    ASSERT_TRUE(dof3d::parseRenderOptions(lens, &o, &error)) << error;
    EXPECT_EQ(o.lens.given.fNumber, 2.8);
    EXPECT_EQ(o.lens.given.focalLengthMm, 0.0);  // from the file
    EXPECT_EQ(o.lens.given.sensorWidthMm, 36.0);
    EXPECT_EQ(o.lens.metresPerUnit, 0.01);
    EXPECT_FALSE(o.hasRadius);
}

}  // namespace
