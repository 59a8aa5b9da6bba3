#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/PixelImage.h"
#include "support/effect_fixture.h"

namespace {

using dofrt::PixelImage;

class PixelImageTest : public doftest::HostAllocTest {};

std::vector<std::uint8_t> pixelBytes(const PixelImage& image, int x, int y) {
    const std::uint8_t* p = image.pixel(x, y);
    return std::vector<std::uint8_t>(p, p + image.pixelBytes());
}

TEST_F(PixelImageTest, FormatSizesAndScales) {
    struct Case {
        int code;
        int bytes;
        double fullScale;
    } cases[] = {
        {1, 4, 255.0},   {2, 5, 1023.0}, {3, 6, 4095.0},
        {4, 8, 65535.0}, {5, 16, 0.0},  // float: no full scale
        {0, 0, 0.0},     {6, 0, 0.0},   // not a format
    };
    for (const Case& c : cases) {
        const QVBitmapFormat* f = qvBitmapFormat(QVBitmapType(c.code));
        EXPECT_EQ(f ? int(f->bytesPerPixel) : 0, c.bytes) << c.code;
        EXPECT_EQ(f && f->component != QVComponentKind::Float ? double(f->fullScale) : 0.0,
                  c.fullScale)
            << c.code;
    }
}

// Writing one component of the middle pixel of three: only its own bits
// change, in the pixel's bytes and nowhere else. Expected bytes worked out
// from the bit positions (10-bit: R 39-30, G 29-20, B 19-10, A 9-0 of a
// big-endian 40-bit group; 12-bit: R 47-36, G 35-24, B 23-12, A 11-0).
TEST_F(PixelImageTest, WritingAComponentKeepsItsNeighbours) {
    struct Case {
        QVBitmapType format;
        std::uint8_t fill;
        int component;
        double raw;
        std::vector<std::uint8_t> expected;
        const char* why;
    } cases[] = {
        {kQVBitmapRGBA10, 0x00, 0, 0x3FF, {0xFF, 0xC0, 0x00, 0x00, 0x00}, "R: top 10 bits"},
        {kQVBitmapRGBA10, 0xFF, 1, 0, {0xFF, 0xC0, 0x0F, 0xFF, 0xFF}, "G cleared: bits 29-20"},
        {kQVBitmapRGBA10, 0xFF, 2, 0, {0xFF, 0xFF, 0xF0, 0x03, 0xFF}, "B cleared: bits 19-10"},
        {kQVBitmapRGBA10, 0x00, 2, 0x2AA, {0x00, 0x00, 0x0A, 0xA8, 0x00}, "0x2AA << 10 = 0xAA800"},
        {kQVBitmapRGBA10, 0x00, 3, 0x3FF, {0x00, 0x00, 0x00, 0x03, 0xFF}, "A: low 10 bits"},
        {kQVBitmapRGBA10,
         0x00,
         0,
         0x7FF,
         {0xFF, 0xC0, 0x00, 0x00, 0x00},
         "an 11-bit value keeps its low 10 bits; G untouched"},
        {kQVBitmapRGBA12,
         0xFF,
         2,
         0,
         {0xFF, 0xFF, 0xFF, 0x00, 0x0F, 0xFF},
         "B cleared: bits 23-12"},
        {kQVBitmapRGBA12, 0x00, 1, 0xABC, {0x00, 0x0A, 0xBC, 0x00, 0x00, 0x00}, "G: bits 35-24"},
        {kQVBitmapRGBA12, 0xFF, 3, 0x123, {0xFF, 0xFF, 0xFF, 0xFF, 0xF1, 0x23}, "A: bits 11-0"},
        {kQVBitmapRGBA12,
         0xFF,
         0,
         0x1000,
         {0x00, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF},
         "a 13-bit value keeps its low 12 bits (0)"},
        {kQVBitmapRGBA16,
         0x00,
         1,
         0x1234,
         {0, 0, 0x34, 0x12, 0, 0, 0, 0},
         "machine byte order (little-endian x86)"},
        {kQVBitmapRGBA8, 0xFF, 2, 0x1AB, {0xFF, 0xFF, 0xAB, 0xFF}, "low byte"},
        {kQVBitmapRGBAFloat,
         0x00,
         3,
         6.0,
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0xC0, 0x40},
         "6.0f = 0x40C00000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        auto image = PixelImage::create(c.format, 3, 1);
        ASSERT_TRUE(image);
        std::memset(image->pixel(0, 0), c.fill, size_t(3 * image->pixelBytes()));
        image->setComponent(1, 0, c.component, c.raw);
        EXPECT_EQ(pixelBytes(*image, 1, 0), c.expected);
        const std::vector<std::uint8_t> untouched(size_t(image->pixelBytes()), c.fill);
        EXPECT_EQ(pixelBytes(*image, 0, 0), untouched);
        EXPECT_EQ(pixelBytes(*image, 2, 0), untouched);
    }
}

TEST_F(PixelImageTest, ReadingPackedComponents) {
    struct Case {
        QVBitmapType format;
        std::vector<std::uint8_t> bytes;
        double expected[4];
    } cases[] = {
        // 0x123456789A split 10 bits at a time: 0001001000 1101000101 0110011110 0010011010.
        {kQVBitmapRGBA10, {0x12, 0x34, 0x56, 0x78, 0x9A}, {72, 837, 414, 154}},
        // 12 bits are three hex digits: 123 456 789 ABC.
        {kQVBitmapRGBA12, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, {0x123, 0x456, 0x789, 0xABC}},
        {kQVBitmapRGBA16,
         {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xFF, 0xFF},
         {0x0201, 0x0403, 0x0605, 0xFFFF}},
    };
    for (const Case& c : cases) {
        auto image = PixelImage::create(c.format, 1, 1);
        ASSERT_TRUE(image);
        std::memcpy(image->pixel(0, 0), c.bytes.data(), c.bytes.size());
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(image->component(0, 0, i), c.expected[i]) << int(c.format) << " " << i;
    }
}

TEST_F(PixelImageTest, FractionsRoundAndLimit) {
    struct Case {
        QVBitmapType format;
        double fraction;
        double raw;
        const char* why;
    } cases[] = {
        {kQVBitmapRGBA8, 0.5, 128, "127.5: half to even"},
        {kQVBitmapRGBA8, 0.375, 96, "95.625"},
        {kQVBitmapRGBA8, -0.2, 0, "below 0"},
        {kQVBitmapRGBA8, 1.7, 255, "above full scale"},
        {kQVBitmapRGBA10, 0.5, 512, "511.5: half to even"},
        {kQVBitmapRGBA12, 0.5, 2048, "2047.5: half to even"},
        {kQVBitmapRGBA12, 2.0, 4095, "above full scale"},
        {kQVBitmapRGBA16, 0.25, 16384, "16383.75"},
        {kQVBitmapRGBAFloat, 2.5, 2.5, "floats as they are"},
        {kQVBitmapRGBAFloat, -0.75, -0.75, "floats as they are"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        auto image = PixelImage::create(c.format, 2, 1);
        ASSERT_TRUE(image);
        image->setFraction(1, 0, 2, c.fraction);
        EXPECT_EQ(image->component(1, 0, 2), c.raw);
        EXPECT_EQ(image->component(1, 0, 1), 0.0) << "neighbour";
    }
    auto tenBit = PixelImage::create(kQVBitmapRGBA10, 1, 1);
    tenBit->setComponent(0, 0, 0, 1023);
    EXPECT_EQ(tenBit->fraction(0, 0, 0), 1.0);
    auto eightBit = PixelImage::create(kQVBitmapRGBA8, 1, 1);
    eightBit->setComponent(0, 0, 0, 51);
    EXPECT_EQ(eightBit->fraction(0, 0, 0), 0.2);
}

TEST_F(PixelImageTest, RowsFollowRowPixels) {
    auto image = PixelImage::create(kQVBitmapRGBA12, 3, 2, 5);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 3);
    EXPECT_EQ(image->record().width, 3);
    EXPECT_EQ(image->record().rowPixels, 5);
    EXPECT_EQ(image->pixel(0, 1) - image->pixel(0, 0), 5 * 6);
    EXPECT_EQ(image->pixel(2, 1) - image->pixel(0, 0), (5 + 2) * 6);
    EXPECT_EQ(image->pixel(0, 0), image->record().baseAddr);
}

TEST_F(PixelImageTest, RefusedShapes) {
    EXPECT_FALSE(PixelImage::create(kQVBitmapRGBA8, 4, 2, 3)) << "rows shorter than the width";
    EXPECT_FALSE(PixelImage::create(kQVBitmapNone, 4, 2));
    EXPECT_FALSE(PixelImage::create(kQVBitmapRGBA8, -1, 2));
    qvlib::failAllocationAt(1);
    EXPECT_FALSE(PixelImage::create(kQVBitmapRGBA8, 4, 2)) << "host allocator refuses";
    EXPECT_TRUE(PixelImage::create(kQVBitmapRGBA8, 4, 2)) << "only that call failed";
}

TEST_F(PixelImageTest, CopyTakesTheWidthOfEachRow) {
    auto source = PixelImage::create(kQVBitmapRGBA8, 3, 2, 4);
    auto copy = PixelImage::create(kQVBitmapRGBA8, 3, 2, 4);
    ASSERT_TRUE(source && copy);
    std::memset(source->pixel(0, 0), 0x5A, 4 * 2 * 4);
    ASSERT_TRUE(copy->copyPixelsFrom(*source));
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(pixelBytes(*copy, x, y), std::vector<std::uint8_t>(4, 0x5A)) << x << "," << y;
        EXPECT_EQ(pixelBytes(*copy, 3, y), std::vector<std::uint8_t>(4, 0)) << "padding " << y;
    }
    auto otherFormat = PixelImage::create(kQVBitmapRGBA16, 3, 2);
    auto otherSize = PixelImage::create(kQVBitmapRGBA8, 3, 3);
    EXPECT_FALSE(otherFormat->copyPixelsFrom(*source));
    EXPECT_FALSE(otherSize->copyPixelsFrom(*source));
}

}  // namespace
