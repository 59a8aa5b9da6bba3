// The thin lens against values worked out by hand, and the depths handed to
// the effect checked through the effect's own rule, written out here.
#include "model/lens.h"

#include <gtest/gtest.h>

#include <cmath>

#include "render/lens_placement.h"

namespace {

using dof::LensSpec;

// f 50 mm at f/2.5 focused at 5.05 m: F - f = 5000 mm, so the disc at infinity
// is 2500 / 12500 = 0.2 mm, 20 pixels at 100 pixels per mm: radius 10, and
// the radius at d is 10 |d - 5.05| / d.
const LensSpec kLens{2.5, 50.0, 36.0};
constexpr double kFocus = 5.05, kPixelsPerMm = 100.0;
struct Depth {
    double distance, radius;
} const kDepths[] = {
    {0.505, 90}, {1.01, 40}, {2.525, 10}, {3.03, 20.0 / 3.0},
    {5.05, 0},   {10.1, 5},  {50.5, 9},   {INFINITY, 10},
};

dof::ThinLensBlur lensBlur(double sharpUntil = 0.0) {
    dof::ThinLensBlur blur;
    std::string error;
    EXPECT_TRUE(blur.setUp(kLens, kFocus, sharpUntil, 1.0, kPixelsPerMm, &error)) << error;
    return blur;
}

// What the effect blurs a distance by, for the focus and zone end given as
// distances: radius x |1 - d/F| up to the radius, nothing inside the zone,
// the zone's depth taken off behind it; depths are negative floats.
double effectBlur(double distance, double radius, double focus, double zoneEnd) {
    const double f = float(-focus), n = float(-zoneEnd);
    double d = float(-distance);
    if (f > d && f > n) {
        if (d > n) return 0.0;
        d = float(d + (f - n));
    }
    return radius * std::min(1.0, std::fabs(1.0 - d / f));
}

TEST(Lens, EffectOnMovedDepthsGivesTheLensRadiusInOrder) {
    const dof::ThinLensBlur blur = lensBlur();
    for (double radius : {40.0, 64.0, 2.5}) {
        const dof::LensDepthRemap remap(blur, radius);
        double previous = 0.0;
        for (const Depth& d : kDepths) {
            const double moved = remap.distance(d.distance);
            EXPECT_NEAR(effectBlur(moved, radius, kFocus, 0.0), std::min(d.radius, radius), 1e-3)
                << d.distance << " at radius " << radius;
            EXPECT_GT(moved, previous) << d.distance;  // depth order kept
            previous = moved;
        }
        EXPECT_EQ(remap.distance(kFocus), kFocus);  // the focus stays exactly sharp
    }
}

TEST(Lens, SharpZoneStartsTheBlurFromZeroAtItsEnd) {
    // Zone to 10.1 (radius 5 there): behind it the radius less 5.
    const dof::ThinLensBlur blur = lensBlur(10.1);
    const struct {
        double distance, radius;
    } cases[] = {{2.525, 10}, {7.575, 0}, {10.1, 0}, {12.625, 1}, {50.5, 4}, {INFINITY, 5}};
    for (double radius : {40.0, 2.0}) {  // a zone end at 5/2 of the radius is held at 1
        const dof::LensDepthRemap remap(blur, radius);
        for (const auto& c : cases)
            EXPECT_NEAR(effectBlur(remap.distance(c.distance), radius, kFocus, remap.sharpUntil()),
                        std::min(c.radius, radius), 1e-3)
                << c.distance << " at radius " << radius;
    }
}

TEST(Lens, LensFromMetadataAndWhatIsMissing) {
    OIIO::ImageSpec exr;
    exr.attribute("aperture", 2.8f);
    exr.attribute("nominalFocalLength", 35.0f);
    exr.attribute("pinholeFocalLength", 40.0f);  // the one a renderer means
    const float sensor[2] = {36.0f, 24.0f};
    exr.attribute("sensorOverallDimensions",
                  OIIO::TypeDesc(OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::VEC2), sensor);
    OIIO::ImageSpec exif;
    exif.attribute("FNumber", 4.0f);
    exif.attribute("Exif:FocalLength", 85.0f);
    const struct {
        const char* why;
        LensSpec given, file;
        const char* error;  // empty: complete
    } cases[] = {
        {"all from the file", {}, dof::lensFromMetadata(exr), ""},
        {"given wins", {1.4, 0, 0}, dof::lensFromMetadata(exr), ""},
        {"Exif has no sensor",
         {},
         dof::lensFromMetadata(exif),
         "the lens has no sensor width: give --sensor-width (the file has no "
         "sensorOverallDimensions attribute)"},
    };
    for (const auto& c : cases) {
        LensSpec lens;
        std::string error;
        EXPECT_EQ(dof::completeLens(c.given, c.file, &lens, &error), *c.error == '\0') << c.why;
        EXPECT_EQ(error, c.error) << c.why;
    }
    const LensSpec fromExr = dof::lensFromMetadata(exr), fromExif = dof::lensFromMetadata(exif);
    EXPECT_EQ(fromExr.fNumber, 2.8f);
    EXPECT_EQ(fromExr.focalLengthMm, 40.0);
    EXPECT_EQ(fromExr.sensorWidthMm, 36.0);
    EXPECT_EQ(fromExif.fNumber, 4.0);
    EXPECT_EQ(fromExif.focalLengthMm, 85.0);
}

TEST(Lens, FramePlacementClampsAndPlacesWhatHitNothing) {
    // 36 mm across 3600 pixels; depths at the focus, 1.01 (40 px), 0.505 (90
    // px, beyond the effect) and no hit (the background's 10 px).
    dof::Frame frame;
    frame.path = "f.exr";
    frame.imageSpec = OIIO::ImageSpec(4, 1, 4, OIIO::TypeDesc::FLOAT);
    frame.imageSpec.full_width = 3600;
    frame.distance = {kFocus, 1.01, 0.505, NAN};
    dof::LensOptions options;
    options.given = kLens;
    dof::LensFrameReport report;
    std::string error;
    ASSERT_TRUE(dof::placeDepthsForLens(&frame, options, kFocus, 0.0, 1.0, 1e9,
                                        dof::NoHitPolicy::Far, &report, &error))
        << error;
    EXPECT_TRUE(report.active);
    EXPECT_FALSE(report.fromFile);
    EXPECT_EQ(report.radius, 64.0);
    EXPECT_NEAR(report.largestBlur, 90.0, 1e-9);
    EXPECT_EQ(report.clamped, 1u);
    EXPECT_EQ(dof::clampWarning(report, frame.path),
              "f.exr: the lens blurs up to 90.0 px, beyond the effect's 64 px: 25.0% of the "
              "pixels are blurred by 64 px only");
    const double expected[4] = {0, 40, 64, 10};
    for (int p = 0; p < 4; ++p)
        EXPECT_NEAR(effectBlur(frame.distance[std::size_t(p)], 64.0, kFocus, 0.0), expected[p],
                    1e-3)
            << p;
    EXPECT_EQ(frame.distance[0], kFocus);
}

}  // namespace
