// A frame's lens placement: the radius handed to the effect, what the
// effect's limit clamps, and where what hit nothing goes, through the
// effect's own blur of the placed depths.
#include "render/lens_placement.h"

#include <gtest/gtest.h>

#include <cmath>

#include "model/blur_fraction.h"
#include "render/effect_buffers.h"
#include "render/flat_frame.h"

namespace {

TEST(LensPlacement, ClampsAndPlacesWhatHitNothing) {
    // f 50 mm at f/2.5 focused at 5.05 m, 36 mm across 3600 pixels: radius
    // 10 |d - 5.05| / d. Depths at the focus, 1.01 (40 px), 0.505 (90 px,
    // beyond the effect) and no hit (the background's 10 px).
    const double focus = 5.05;
    dof::Frame frame = dof::test::flatFrame(4, 1);
    frame.parts[0].displayWindow.width = 3600;
    frame.distance = {focus, 1.01, 0.505, NAN};
    dof::LensOptions options;
    options.given = dof::LensSpec{2.5, 50.0, 36.0};
    dof::LensFrameReport report;
    dof::DepthPlacement depth;
    std::string error;
    ASSERT_TRUE(dof::placeLens(frame, options, focus, 0.0, 1.0, 1e9, dof::NoHitPolicy::Far, &report,
                               &depth.lens, &error))
        << error;
    EXPECT_TRUE(report.active);
    EXPECT_FALSE(report.fromFile);
    EXPECT_EQ(report.radius, 64.0);
    EXPECT_NEAR(report.largestBlur, 90.0, 1e-9);
    EXPECT_EQ(report.clamped, 1u);
    EXPECT_EQ(dof::clampWarning(report, frame.path),
              "frame.exr: the lens blurs up to 90 px, beyond the effect's 64 px: 25.0% of the "
              "pixels are blurred by 64 px only");
    ASSERT_TRUE(dof::chooseDepthScale(focus, 0.0, &depth.scale, &error)) << error;
    const dof::FocusDepths focusDepths{depth.scale.focalDepth, depth.scale.focusRangeDepth};
    const double expected[4] = {0, 40, 64, 10};
    for (int p = 0; p < 4; ++p)
        EXPECT_NEAR(64.0 * dof::blurFraction(depth.effectDepth(frame.distance[std::size_t(p)]),
                                             focusDepths),
                    expected[p], 1e-3)
            << p;
    EXPECT_EQ(depth.lens->distance(focus), focus);
}

}  // namespace
