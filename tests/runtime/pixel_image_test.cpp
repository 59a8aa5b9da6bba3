// Creating host buffers of the five formats and copying their pixels; the
// component layout and the fraction rules run with the pixel traits' rows in
// tests/dof.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/PixelImage.h"
#include "support/effect_fixture.h"
#include "support/format_facts.h"

namespace {

using dofrt::PixelImage;

using PixelImageCreate = doftest::HostAllocTest;

// Pixel (x, y) lies at baseAddr + (y x rowPixels + x) x the format's bytes.
TEST_F(PixelImageCreate, Shapes) {
    const struct {
        int code, width, height, rowPixels;
        bool made;
        const char* why;
    } cases[] = {
        {1, 4, 2, 0, true, "rows of the width"},
        {3, 3, 2, 5, true, "rows longer than the width"},
        {5, 2, 3, 2, true, "float pixels"},
        {1, 4, 2, 3, false, "rows shorter than the width"},
        {1, -1, 2, 0, false, "a negative width"},
        {0, 4, 2, 0, false, "code 0 names no format"},
        {6, 4, 2, 0, false, "code 6 names no format"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        auto image = PixelImage::create(QVBitmapType(c.code), c.width, c.height, c.rowPixels);
        ASSERT_EQ(image != nullptr, c.made);
        if (!image) continue;
        const int row = c.rowPixels ? c.rowPixels : c.width;
        const int bytes = testsupport::formatFacts(c.code)->bytesPerPixel;
        EXPECT_EQ(image->pixelBytes(), bytes);
        EXPECT_EQ(image->record().formatCode, c.code);
        EXPECT_EQ(image->record().width, c.width);
        EXPECT_EQ(image->record().rowPixels, row);
        EXPECT_EQ(image->pixel(0, 0), image->record().baseAddr);
        EXPECT_EQ(image->pixel(c.width - 1, 1) - image->pixel(0, 0), (row + c.width - 1) * bytes);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < row * bytes; ++x) ASSERT_EQ(image->pixel(0, y)[x], 0) << "zeroed";
    }
    qvlib::failAllocationAt(1);
    EXPECT_FALSE(PixelImage::create(kQVBitmapRGBA8, 4, 2)) << "the host allocator refuses";
}

// Each row's width is copied; the rest of a longer row stays as it was.
TEST_F(PixelImageCreate, CopyTakesTheWidthOfEachRow) {
    auto source = PixelImage::create(kQVBitmapRGBA8, 3, 2, 4);
    auto copy = PixelImage::create(kQVBitmapRGBA8, 3, 2, 4);
    ASSERT_TRUE(source && copy);
    std::memset(source->pixel(0, 0), 0x5A, 4 * 2 * 4);
    ASSERT_TRUE(copy->copyPixelsFrom(*source));
    std::vector<std::uint8_t> row(16, 0x5A);
    std::fill(row.begin() + 12, row.end(), 0);
    for (int y = 0; y < 2; ++y)
        EXPECT_EQ(std::vector<std::uint8_t>(copy->pixel(0, y), copy->pixel(0, y) + 16), row) << y;
    EXPECT_FALSE(PixelImage::create(kQVBitmapRGBA16, 3, 2)->copyPixelsFrom(*source)) << "format";
    EXPECT_FALSE(PixelImage::create(kQVBitmapRGBA8, 3, 3)->copyPixelsFrom(*source)) << "size";
}

}  // namespace
