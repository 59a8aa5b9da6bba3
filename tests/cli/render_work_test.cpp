// The work the progress bar counts: pixels per pass, and the taps of each
// fragment's footprint in splatting.
#include "cli/render_work.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(RenderWork, PixelsPerPassAndSplatTaps) {
    // Focus 10, radius 2: a fragment at the focus writes 1 tap; at 5 (half
    // the radius, reach 2) 5 x 5; at 20 and where nothing was hit (the full
    // radius, reach 4) 9 x 9.
    dof3d::Frame frame;
    frame.imageSpec = OIIO::ImageSpec(4, 1, 4, OIIO::TypeDesc::FLOAT);
    frame.distance = {10, 20, 5, NAN};
    dof3d::DepthPlacement depth;
    std::string error;
    ASSERT_TRUE(dof3d::chooseDepthScale(10, 0, &depth.scale, &error));
    dofrt::RenderSettings settings;
    settings.radius = 2;
    settings.focalDepth = depth.scale.focalDepth;
    settings.outputRects = {{0, 0, 2, 1}, {2, 0, 2, 1}};
    const dof3d::RenderWork splat =
        dof3d::estimateRenderWork(frame, depth, settings, dof3d::Method::Splat);
    EXPECT_EQ(splat.calls[1], (std::vector<double>{2, 2}));
    EXPECT_EQ(splat.calls[2], (std::vector<double>{4}));
    EXPECT_EQ(splat.calls[3], (std::vector<double>{1 + 81, 25 + 81}));
    EXPECT_EQ(splat.calls[4], (std::vector<double>{2, 2}));
    EXPECT_EQ(splat.total(), 200.0);
    // Box averaging costs the same whatever the radius.
    EXPECT_EQ(dof3d::estimateRenderWork(frame, depth, settings, dof3d::Method::Box).total(), 12.0);
}

}  // namespace
