// The --json summary: escaping, numbers that read back, and the whole text
// of a small run.
#include "cli/json_summary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

TEST(JsonSummary, StringsAreEscaped) {
    struct Case {
        std::string text;
        const char* expected;
    } const cases[] = {
        {"plain", "\"plain\""},
        {"a\"b", "\"a\\\"b\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"line\nbreak\ttab\r", "\"line\\nbreak\\ttab\\r\""},
        {std::string("bell\x07", 5), "\"bell\\u0007\""},
        {"caf\xc3\xa9", "\"caf\xc3\xa9\""},  // UTF-8 passes through
    };
    for (const auto& c : cases) EXPECT_EQ(dof3d::jsonString(c.text), c.expected);
}

TEST(JsonSummary, NumbersReadBackExactly) {
    const double values[] = {0.1, 1.0 / 3.0, 1e-300, 123456789.125, -0.0};
    for (double v : values) {
        const std::string text = dof3d::jsonNumber(v);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
    }
    EXPECT_EQ(dof3d::jsonNumber(NAN), "null");
    EXPECT_EQ(dof3d::jsonNumber(INFINITY), "null");
    EXPECT_EQ(dof3d::jsonNumber(8.0), "8");
}

TEST(JsonSummary, WholeRun) {
    dof3d::RenderOptions options;
    options.radius = 8;
    options.hasFocus = true;
    options.focus = 2.5;
    options.jobs = 2;
    dof3d::RunSummary summary;
    dof3d::FrameResult done;
    done.files.frame = 1001;
    done.files.input = "in.1001.exr";
    done.files.output = "out.1001.exr";
    done.status = dof3d::FrameStatus::Rendered;
    done.width = 4;
    done.height = 2;
    done.workingFormat = "float";
    done.focusDistance = 2.5;
    done.depthFactor = 1;
    done.radius = 8;
    done.loadSeconds = 0.5;
    done.passSeconds[3] = 1.5;
    done.writeSeconds = 0.25;
    done.totalSeconds = 2.25;
    dof3d::FrameResult failed;
    failed.files.frame = 1002;
    failed.files.input = "in.1002.exr";
    failed.files.output = "out.1002.exr";
    failed.error = "in.1002.exr: no such file";
    summary.frames = {done, failed};
    summary.seconds = 3;
    EXPECT_EQ(
        dof3d::jsonSummary(options, summary),
        "{\"command\": \"render\", \"settings\": {\"radius\": 8, \"method\": \"splat\", "
        "\"focus\": 2.5, \"focusAt\": null, \"sharpUntil\": null, \"depthConvention\": "
        "\"distance\", \"noHit\": \"far\", \"noHitAbove\": 1000000000, \"pixelAspect\": null, "
        "\"scale\": [1, 1], \"format\": \"auto\", \"fstop\": null, \"focalLength\": null, "
        "\"sensorWidth\": null, \"depthUnit\": \"m\", \"colorspace\": \"sRGB\", \"jobs\": 2, "
        "\"threads\": 1, \"layers\": 8}, "
        "\"frames\": [{\"frame\": 1001, "
        "\"input\": \"in.1001.exr\", \"output\": \"out.1001.exr\", \"status\": \"rendered\", "
        "\"width\": 4, \"height\": 2, \"deep\": false, \"workingFormat\": \"float\", "
        "\"focusDistance\": 2.5, \"depthFactor\": 1, \"radius\": 8, \"lens\": null, "
        "\"seconds\": {\"load\": 0.5, \"passes\": "
        "[0, 0, 0, 1.5, 0], \"write\": 0.25, \"total\": 2.25}}, {\"frame\": 1002, \"input\": "
        "\"in.1002.exr\", \"output\": \"out.1002.exr\", \"status\": \"failed\", \"error\": "
        "\"in.1002.exr: no such file\"}], \"totals\": {\"rendered\": 1, \"skipped\": 0, "
        "\"failed\": 1, \"interrupted\": 0, \"seconds\": 3}, \"interrupted\": false}\n");
}

}  // namespace
