// The effect's blur of a depth, worked out by dof3d: the radius map bytes of
// random depths against the effect's own map (the case rows check worked
// values through the tool's --coc-map).
#include "model/blur_fraction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "runtime/RenderSession.h"
#include "support/effect_fixture.h"
#include "support/random.h"

namespace {

using dof::FocusDepths;

TEST(BlurFraction, RadiusMapBytesAndHatReach) {
    EXPECT_EQ(dof::fractionByte(0.5 / 255.0), 0);  // ties to even
    EXPECT_EQ(dof::fractionByte(1.5 / 255.0), 2);
    EXPECT_EQ(dof::fractionByte(1.0), 255);
    EXPECT_EQ(dof::fractionByte(1.5), 255);
    EXPECT_EQ(dof::fractionByte(-0.5), 0);
    EXPECT_EQ(dof::fractionByte(NAN), 0);
    EXPECT_EQ(dof::hatReach(0.49), 0);
    EXPECT_EQ(dof::hatReach(0.5), 1);
    EXPECT_EQ(dof::hatReach(16.0), 32);
    EXPECT_EQ(dof::hatReach(-1.0), 0);
    // The depth of a fraction gives that fraction back, on either side.
    const FocusDepths zone{-10.0, -20.0};
    EXPECT_EQ(dof::depthForFraction(0.5, true, zone), -5.0f);
    EXPECT_EQ(dof::depthForFraction(0.5, false, zone), -25.0f);
}

class BlurFractionEffect : public dof::test::EffectTest {};

// Random depths, with and without a sharp zone: every byte of the radius
// map equals the effect's own after its radius map pass.
TEST_F(BlurFractionEffect, RadiusMapMatchesTheEffects) {
    dof::test::Random random(11);
    const int w = 97, h = 5;
    auto source = dof::runtime::PixelImage::create(kQVBitmapRGBAFloat, w, h);
    auto destination = dof::runtime::PixelImage::create(kQVBitmapRGBAFloat, w, h);
    dof::runtime::GBufferSet gb(w, h);
    gb.addDepth();
    for (const FocusDepths focus : {FocusDepths{-7.3, 0.0}, FocusDepths{-7.3, -12.9}}) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                gb.depth(x, y) = -float(std::ldexp(1.0 + random.unit(), random.between(-3, 6)));
        dof::runtime::RenderSettings settings;
        settings.radius = 9.0;
        settings.focalDepth = focus.focalDepth;
        settings.focusRangeDepth = focus.focusRangeDepth;
        ASSERT_TRUE(dof::runtime::setRenderParameters(*instance, settings));
        dof::runtime::RenderSession session(*instance, *source, *destination, &gb, settings);
        ASSERT_EQ(session.prepare(), 1u);
        ASSERT_EQ(session.apply(0, session.region()), 1u);
        ASSERT_EQ(session.apply(1, session.region()), 1u);
        const unsigned char* map = session.parameters()->cocMap;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(dof::fractionByte(dof::blurFraction(gb.depth(x, y), focus)),
                          map[y * w + x])
                    << "depth " << gb.depth(x, y);
    }
}

}  // namespace
