// The pixel traits: component layout, fractions and quantisation of each
// format, against bytes and bit patterns worked out by hand.
#include "dof/QVPixel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

std::uint64_t bitsOf(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, 8);
    return b;
}

std::uint32_t bitsOf(float v) {
    std::uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
}

// A pixel between two sentinel bytes, so that a write one byte out shows.
template <class Pixel>
struct Guarded {
    std::uint8_t bytes[Pixel::kBytesPerPixel + 2];
    explicit Guarded(const std::vector<std::uint8_t>& pixel) {
        bytes[0] = 0xA5;
        std::memcpy(bytes + 1, pixel.data(), Pixel::kBytesPerPixel);
        bytes[Pixel::kBytesPerPixel + 1] = 0x5A;
    }
    std::uint8_t* pixel() { return bytes + 1; }
    std::vector<std::uint8_t> all() const { return {bytes, bytes + sizeof bytes}; }
};

// 10-bit group R 0x3FF, G 0x001, B 0x200, A 0x155: the 40 bits
// 1111111111 0000000001 1000000000 0101010101 cut into bytes
// 11111111 11000000 00011000 00000001 01010101.
const std::vector<std::uint8_t> k10Bit = {0xFF, 0xC0, 0x18, 0x01, 0x55};
// 12-bit group R 0xABC, G 0x123, B 0xFFF, A 0x000.
const std::vector<std::uint8_t> k12Bit = {0xAB, 0xC1, 0x23, 0xFF, 0xF0, 0x00};

TEST(QVPixelRead, PackedGroupsAreBigEndian) {
    const unsigned short expected10[4] = {0x3FF, 0x001, 0x200, 0x155};
    const unsigned short expected12[4] = {0xABC, 0x123, 0xFFF, 0x000};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(QVPixelRGBA10::read(k10Bit.data(), c), expected10[c]) << "10-bit component " << c;
        EXPECT_EQ(QVPixelRGBA12::read(k12Bit.data(), c), expected12[c]) << "12-bit component " << c;
    }
}

TEST(QVPixelRead, ByteAndWordFormatsInMemoryOrder) {
    const std::uint8_t bytes8[4] = {1, 2, 254, 255};
    EXPECT_EQ(QVPixelRGBA8::read(bytes8, 2), 254);
    EXPECT_EQ(QVPixelRGBA8::read(bytes8, 3), 255);
    // The machine's order: x86 stores the low byte first.
    const std::uint8_t bytes16[8] = {0x34, 0x12, 0xFF, 0x00, 0x00, 0xFF, 0xCD, 0xAB};
    EXPECT_EQ(QVPixelRGBA16::read(bytes16, 0), 0x1234);
    EXPECT_EQ(QVPixelRGBA16::read(bytes16, 1), 0x00FF);
    EXPECT_EQ(QVPixelRGBA16::read(bytes16, 2), 0xFF00);
    EXPECT_EQ(QVPixelRGBA16::read(bytes16, 3), 0xABCD);
    const float floats[4] = {-2.5f, 0.0f, 1.0e30f, 0.125f};
    std::uint8_t bytesF[16];
    std::memcpy(bytesF, floats, 16);
    EXPECT_EQ(QVPixelRGBAFloat::read(bytesF, 0), -2.5f);
    EXPECT_EQ(QVPixelRGBAFloat::read(bytesF, 2), 1.0e30f);
}

struct PackedWrite {
    int component;
    unsigned short value;
    std::vector<std::uint8_t> expected;  // the pixel between sentinels A5 .. 5A
    const char* why;
};

TEST(QVPixelWrite, TenBitComponentKeepsItsNeighboursBits) {
    const std::vector<PackedWrite> cases = {
        {1,
         0x2AA,
         {0xA5, 0xFF, 0xEA, 0xA8, 0x01, 0x55, 0x5A},
         "G 1010101010 spans bytes 1 and 2: 11111111 11101010 10101000"},
        {0,
         0x000,
         {0xA5, 0x00, 0x00, 0x18, 0x01, 0x55, 0x5A},
         "R clears byte 0 and the top of byte 1"},
        {3, 0x3FF, {0xA5, 0xFF, 0xC0, 0x18, 0x03, 0xFF, 0x5A}, "A fills byte 4 and two bits of 3"},
        {2, 0x0FF, {0xA5, 0xFF, 0xC0, 0x13, 0xFD, 0x55, 0x5A}, "B 0011111111 over bytes 2 and 3"},
    };
    for (const PackedWrite& w : cases) {
        Guarded<QVPixelRGBA10> g(k10Bit);
        QVPixelRGBA10::write(g.pixel(), w.component, w.value);
        EXPECT_EQ(g.all(), w.expected) << w.why;
    }
}

TEST(QVPixelWrite, TwelveBitComponentKeepsItsNeighboursBits) {
    const std::vector<PackedWrite> cases = {
        {3, 0x5A5, {0xA5, 0xAB, 0xC1, 0x23, 0xFF, 0xF5, 0xA5, 0x5A}, "A in the low 12 bits"},
        {1, 0x000, {0xA5, 0xAB, 0xC0, 0x00, 0xFF, 0xF0, 0x00, 0x5A}, "G shares byte 1 with R"},
        {2, 0x800, {0xA5, 0xAB, 0xC1, 0x23, 0x80, 0x00, 0x00, 0x5A}, "B shares byte 4 with A"},
    };
    for (const PackedWrite& w : cases) {
        Guarded<QVPixelRGBA12> g(k12Bit);
        QVPixelRGBA12::write(g.pixel(), w.component, w.value);
        EXPECT_EQ(g.all(), w.expected) << w.why;
    }
}

TEST(QVPixelWrite, SixteenBitAndFloatStayInTheirOwnBytes) {
    Guarded<QVPixelRGBA16> g16({0, 0, 0, 0, 0, 0, 0, 0});
    QVPixelRGBA16::write(g16.pixel(), 2, 0xBEEF);
    EXPECT_EQ(g16.all(), (std::vector<std::uint8_t>{0xA5, 0, 0, 0, 0, 0xEF, 0xBE, 0, 0, 0x5A}));

    Guarded<QVPixelRGBAFloat> gf(std::vector<std::uint8_t>(16, 0x11));
    QVPixelRGBAFloat::write(gf.pixel(), 3, 1.0f);
    std::vector<std::uint8_t> expected(18, 0x11);
    expected[0] = 0xA5;
    expected[17] = 0x5A;
    // 1.0f is 3F800000, stored low byte first.
    expected[13] = 0x00;
    expected[14] = 0x00;
    expected[15] = 0x80;
    expected[16] = 0x3F;
    EXPECT_EQ(gf.all(), expected);
}

struct FractionCase {
    unsigned value;
    std::uint64_t bits;  // of value × (1 / full scale), worked out apart
    const char* why;
};

// The fraction multiplies by the rounded reciprocal; a division would give
// the next double up for these values.
TEST(QVPixelFraction, MultipliesByTheReciprocal) {
    const std::vector<FractionCase> tenBit = {
        {9, 0x3F82048120481204ull, "9 / 1023 would end in ...05"},
        {13, 0x3F8A0681A0681A06ull, "13 / 1023 would end in ...07"},
        {1023, 0x3FF0000000000000ull, "full scale is exactly 1"},
        {0, 0, "zero"},
    };
    for (const FractionCase& f : tenBit)
        EXPECT_EQ(bitsOf(QVPixelRGBA10::fraction(static_cast<unsigned short>(f.value))), f.bits)
            << f.why;
    const std::vector<FractionCase> twelveBit = {
        {33, 0x3F80810810810810ull, "33 / 4095 would end in ...11"},
        {37, 0x3F82812812812812ull, "37 / 4095 would end in ...13"},
        {4095, 0x3FF0000000000000ull, "full scale"},
    };
    for (const FractionCase& f : twelveBit)
        EXPECT_EQ(bitsOf(QVPixelRGBA12::fraction(static_cast<unsigned short>(f.value))), f.bits)
            << f.why;
    const std::vector<FractionCase> sixteenBit = {
        {33, 0x3F40801080108010ull, "33 / 65535 would end in ...11"},
        {65535, 0x3FF0000000000000ull, "full scale"},
    };
    for (const FractionCase& f : sixteenBit)
        EXPECT_EQ(bitsOf(QVPixelRGBA16::fraction(static_cast<unsigned short>(f.value))), f.bits)
            << f.why;
}

struct QuantiseCase {
    double v;
    unsigned expected8, expected10, expected12, expected16;
    const char* why;
};

TEST(QVPixelQuantise, ColourIsLimitedAndRoundedHalfToEven) {
    const std::vector<QuantiseCase> cases = {
        {-0.1, 0, 0, 0, 0, "below 0"},
        {1.5, 255, 1023, 4095, 65535, "above 1"},
        {1.0, 255, 1023, 4095, 65535, "exactly 1"},
        {0.5, 128, 512, 2048, 32768, "x.5 to the even code: 127.5, 511.5, 2047.5, 32767.5"},
        {0.25, 64, 256, 1024, 16384, "63.75, 255.75, 1023.75, 16383.75"},
        {-0.0, 0, 0, 0, 0, "negative zero"},
    };
    for (const QuantiseCase& q : cases) {
        EXPECT_EQ(unsigned(QVPixelRGBA8::colourFromFraction(q.v)), q.expected8) << q.why;
        EXPECT_EQ(unsigned(QVPixelRGBA10::colourFromFraction(q.v)), q.expected10) << q.why;
        EXPECT_EQ(unsigned(QVPixelRGBA12::colourFromFraction(q.v)), q.expected12) << q.why;
        EXPECT_EQ(unsigned(QVPixelRGBA16::colourFromFraction(q.v)), q.expected16) << q.why;
    }
    EXPECT_EQ(bitsOf(QVPixelRGBAFloat::colourFromFraction(1.75)), bitsOf(1.75f));
    EXPECT_EQ(bitsOf(QVPixelRGBAFloat::colourFromFraction(-0.5)), bitsOf(-0.5f));
}

TEST(QVPixelQuantise, AlphaAndRawValuesKeepTheLowBits) {
    // 1.5 x 255 = 382.5 rounds to 382 = 0x17E; the byte keeps 0x7E.
    EXPECT_EQ(unsigned(QVPixelRGBA8::alphaFromFraction(1.5)), 0x7Eu);
    EXPECT_EQ(unsigned(QVPixelRGBA10::alphaFromFraction(0.5)), 512u);
    // 1024 has no bit in the low 10.
    EXPECT_EQ(unsigned(QVPixelRGBA10::fromRaw(1023.5)), 0u);
    EXPECT_EQ(unsigned(QVPixelRGBA12::fromRaw(0.4)), 0u);
    EXPECT_EQ(unsigned(QVPixelRGBA12::fromRaw(2.5)), 2u);
    EXPECT_EQ(unsigned(QVPixelRGBA16::fromRaw(-1.0)), 0xFFFFu);
    EXPECT_EQ(unsigned(QVPixelRGBA8::fromRaw(3.5)), 4u);
    EXPECT_EQ(bitsOf(QVPixelRGBAFloat::fromRaw(1.0e40)), bitsOf(float(1.0e40)));
}

}  // namespace
