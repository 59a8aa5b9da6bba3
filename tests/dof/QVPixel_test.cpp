// Component layout of the five formats, the same rows run against the
// plug-in's pixel traits and the runtime's images, with the bytes worked out
// by hand from the bit positions.
#include "dof/QVPixel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "dof/pixel_traits.h"
#include "runtime/PixelImage.h"
#include "support/effect_fixture.h"
#include "support/format_facts.h"
#include "support/same_bytes.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testsupport::kFormats;

TEST(FormatFacts, PixelTraitsAgree) {
    for (const testsupport::FormatFacts& f : kFormats) {
        SCOPED_TRACE(f.name);
        doftest::withPixelTraits(f.code, [&](auto traits) {
            using P = decltype(traits);
            EXPECT_EQ(int(P::kBytesPerPixel), f.bytesPerPixel);
            EXPECT_EQ(int(P::kBits), f.bits);
            EXPECT_EQ(P::kIsPacked, f.packed);
            if (f.fullScale > 0) {
                EXPECT_EQ(double(P::kFullScale), f.fullScale);
            }
        });
    }
}

// One pixel's bytes, its four components as read, and the bytes after one
// component is written. Only that component's bits may change.
struct PackingRow {
    int code;
    Bytes pixel;
    double components[4];
    int written;
    double value;
    Bytes after;
    const char* why;
};

// clang-format off
const PackingRow kPacking[] = {
    {1, {1, 2, 254, 255}, {1, 2, 254, 255}, 2, 0xAB, {1, 2, 0xAB, 255}, "a byte each, R first"},
    // 1111111111 0000000001 1000000000 0101010101 cut into bytes.
    {2, {0xFF, 0xC0, 0x18, 0x01, 0x55}, {0x3FF, 0x001, 0x200, 0x155},
     1, 0x2AA, {0xFF, 0xEA, 0xA8, 0x01, 0x55}, "G 1010101010 spans bytes 1 and 2"},
    {2, {0xFF, 0xC0, 0x18, 0x01, 0x55}, {0x3FF, 0x001, 0x200, 0x155},
     0, 0, {0x00, 0x00, 0x18, 0x01, 0x55}, "R clears byte 0 and the top of byte 1"},
    {2, {0xFF, 0xC0, 0x18, 0x01, 0x55}, {0x3FF, 0x001, 0x200, 0x155},
     2, 0x0FF, {0xFF, 0xC0, 0x13, 0xFD, 0x55}, "B 0011111111 over bytes 2 and 3"},
    // 0001001000 1101000101 0110011110 0010011010.
    {2, {0x12, 0x34, 0x56, 0x78, 0x9A}, {72, 837, 414, 154},
     3, 0x3FF, {0x12, 0x34, 0x56, 0x7B, 0xFF}, "A fills byte 4 and two bits of byte 3"},
    {2, {0, 0, 0, 0, 0}, {0, 0, 0, 0},
     1, 0x7FF, {0x00, 0x3F, 0xF0, 0, 0}, "an 11-bit value keeps its low 10 bits, R stays 0"},
    // Three hex digits per component.
    {3, {0xAB, 0xC1, 0x23, 0xFF, 0xF0, 0x00}, {0xABC, 0x123, 0xFFF, 0x000},
     3, 0x5A5, {0xAB, 0xC1, 0x23, 0xFF, 0xF5, 0xA5}, "A in the low 12 bits"},
    {3, {0xAB, 0xC1, 0x23, 0xFF, 0xF0, 0x00}, {0xABC, 0x123, 0xFFF, 0x000},
     1, 0, {0xAB, 0xC0, 0x00, 0xFF, 0xF0, 0x00}, "G shares byte 1 with R"},
    {3, {0xAB, 0xC1, 0x23, 0xFF, 0xF0, 0x00}, {0xABC, 0x123, 0xFFF, 0x000},
     2, 0x800, {0xAB, 0xC1, 0x23, 0x80, 0x00, 0x00}, "B shares byte 4 with A"},
    {4, {0x34, 0x12, 0xFF, 0x00, 0x00, 0xFF, 0xCD, 0xAB}, {0x1234, 0x00FF, 0xFF00, 0xABCD},
     2, 0xBEEF, {0x34, 0x12, 0xFF, 0x00, 0xEF, 0xBE, 0xCD, 0xAB}, "low byte first on x86"},
    // -2.5f C0200000, 6.0f 40C00000, 0.125f 3E000000, 1.0f 3F800000.
    {5, {0, 0, 0x20, 0xC0, 0, 0, 0, 0, 0, 0, 0xC0, 0x40, 0, 0, 0, 0x3E}, {-2.5, 0, 6, 0.125},
     3, 1, {0, 0, 0x20, 0xC0, 0, 0, 0, 0, 0, 0, 0xC0, 0x40, 0, 0, 0x80, 0x3F}, "four floats"},
};
// clang-format on

// Three pixels alike; the middle one is read and written, its neighbours
// show a write out of place.
Bytes threePixels(const Bytes& left, const Bytes& middle, const Bytes& right) {
    Bytes all = left;
    all.insert(all.end(), middle.begin(), middle.end());
    all.insert(all.end(), right.begin(), right.end());
    return all;
}

TEST(QVPixel, ReadsAndWritesComponents) {
    for (const PackingRow& row : kPacking) {
        SCOPED_TRACE(row.why);
        Bytes line = threePixels(row.pixel, row.pixel, row.pixel);
        std::uint8_t* middle = line.data() + row.pixel.size();
        doftest::withPixelTraits(row.code, [&](auto traits) {
            using P = decltype(traits);
            for (int c = 0; c < 4; ++c) EXPECT_EQ(double(P::read(middle, c)), row.components[c]);
            P::write(middle, row.written, typename P::Component(row.value));
        });
        EXPECT_TRUE(testsupport::sameBytes(line, threePixels(row.pixel, row.after, row.pixel)));
    }
}

using PixelImageLayout = doftest::HostAllocTest;

TEST_F(PixelImageLayout, ReadsAndWritesComponents) {
    for (const PackingRow& row : kPacking) {
        SCOPED_TRACE(row.why);
        auto image = dofrt::PixelImage::create(QVBitmapType(row.code), 3, 1);
        ASSERT_TRUE(image);
        const Bytes start = threePixels(row.pixel, row.pixel, row.pixel);
        std::memcpy(image->pixel(0, 0), start.data(), start.size());
        for (int c = 0; c < 4; ++c) EXPECT_EQ(image->component(1, 0, c), row.components[c]);
        image->setComponent(1, 0, row.written, row.value);
        EXPECT_TRUE(testsupport::sameBytes(
            image->pixel(0, 0), threePixels(row.pixel, row.after, row.pixel).data(), start.size()));
    }
}

}  // namespace
