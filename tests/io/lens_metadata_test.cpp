// The lens an image file's metadata describes, and what a lens still lacks.
#include "io/lens_metadata.h"

#include <gtest/gtest.h>

namespace {

using dof::LensSpec;

TEST(LensMetadata, LensFromMetadataAndWhatIsMissing) {
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

}  // namespace
