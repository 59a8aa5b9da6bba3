// The --json summary: the whole text of a small run, with a number that
// needs all its digits, a time that is not a number and a file name that is
// not UTF-8.
#include "tool/json_summary.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(JsonSummary, WholeRun) {
    dof::RenderOptions options;
    options.plan.radius = 8;
    options.focusFrom = dof::FocusSource::Option;
    // 7.7 printed as "7.7", the shortest text that reads back
    options.focus = dof::Keyframes({{1001, {7.7}}, {1040, {9.0}}});
    options.jobs = 2;
    dof::RunSummary summary;
    dof::FrameResult done;
    done.files.frame = 1001;
    done.files.input = "in.1001.exr";
    done.files.output = "out\n1001.exr";
    done.status = dof::FrameStatus::Rendered;
    done.width = 4;
    done.height = 2;
    done.workingFormat = "float";
    done.focusFrom = dof::FocusSource::Option;
    done.focusDistance = 1.0 / 3.0;
    done.depthFactor = 1;
    done.nonFiniteValues = 2;
    done.radius = 8;
    done.loadSeconds = 0.5;
    done.passSeconds[3] = NAN;
    done.writeSeconds = 0.25;
    done.totalSeconds = 2.25;
    dof::FrameResult failed;
    failed.files.frame = 1002;
    failed.files.input = "in.\xff\xfe.exr";  // Latin-1 bytes: each becomes U+FFFD
    failed.files.output = "out.1002.exr";
    failed.error = "in.1002.exr: no such file";
    summary.frames = {done, failed};
    summary.seconds = 3;
    EXPECT_EQ(
        dof::jsonSummary(options, summary),
        "{\"command\":\"render\",\"settings\":{\"radius\":8.0,\"method\":\"aperture\","
        "\"focusFrom\":\"option\",\"focus\":[[1001,7.7],[1040,9.0]],\"focusAt\":null,"
        "\"focusFile\":null,\"focusInterpolation\":\"linear\",\"sharpUntil\":null,\"depthConvention\":"
        "\"distance\",\"noHit\":\"far\",\"noHitAbove\":1000000000.0,\"pixelAspect\":null,"
        "\"scale\":[1.0,1.0],\"format\":\"auto\",\"fstop\":null,\"focalLength\":null,"
        "\"sensorWidth\":null,\"depthUnit\":\"m\",\"colorspace\":\"sRGB\",\"jobs\":2,\"threads\":1,"
        "\"layers\":16},\"frames\":[{\"frame\":1001,"
        "\"input\":\"in.1001.exr\",\"output\":\"out\\n1001.exr\",\"status\":\"rendered\","
        "\"width\":4,\"height\":2,\"deep\":false,\"workingFormat\":\"float\","
        "\"focusFrom\":\"option\",\"focusDistance\":0.3333333333333333,\"depthFactor\":1.0,\"radius\":8.0,\"lens\":null,"
        "\"nonFiniteValues\":2,"
        "\"seconds\":{\"load\":0.5,"
        "\"passes\":[0.0,0.0,0.0,null,0.0],\"write\":0.25,\"total\":2.25}},{\"frame\":1002,"
        "\"input\":\"in.\xef\xbf\xbd\xef\xbf\xbd.exr\",\"output\":\"out.1002.exr\","
        "\"status\":\"failed\",\"error\":\"in.1002.exr: no such file\"}],\"totals\":"
        "{\"rendered\":1,\"skipped\":0,\"failed\":1,\"interrupted\":0,\"seconds\":3.0},"
        "\"interrupted\":false}\n");
}

}  // namespace
