// The pixel formats of the host's buffers: their codes and, in one table,
// what each code stands for. The effect's pixel traits, the host library's
// bitmaps and the host side's pixel access all read their facts from here.
#pragma once

#include <cstdint>

// Format code of a pixel buffer (the byte at offset 12 of the record).
enum QVBitmapType : unsigned char {
    kQVBitmapNone = 0,
    kQVBitmapRGBA8 = 1,
    kQVBitmapRGBA10 = 2,
    kQVBitmapRGBA12 = 3,
    kQVBitmapRGBA16 = 4,
    kQVBitmapRGBAFloat = 5,
};

enum class QVComponentKind : unsigned char { Byte, UShort, Float };

// Four components R, G, B, A per pixel. Packed formats hold them in one
// big-endian group of bytesPerPixel bytes, R in the top bits; the others
// hold one component after the other in the machine's byte order.
struct QVBitmapFormat {
    QVBitmapType code;
    QVComponentKind component;
    std::uint32_t fullScale;  // the float format's 2^32 - 1 is not used
    unsigned bits;            // per component
    unsigned bytesPerPixel;
    bool packed;
};

constexpr QVBitmapFormat kQVBitmapFormats[] = {
    {kQVBitmapRGBA8, QVComponentKind::Byte, 255u, 8u, 4u, false},
    {kQVBitmapRGBA10, QVComponentKind::UShort, 1023u, 10u, 5u, true},
    {kQVBitmapRGBA12, QVComponentKind::UShort, 4095u, 12u, 6u, true},
    {kQVBitmapRGBA16, QVComponentKind::UShort, 65535u, 16u, 8u, false},
    {kQVBitmapRGBAFloat, QVComponentKind::Float, 4294967295u, 32u, 16u, false},
};

// The facts of a format code; null for a code the host has no format for.
constexpr const QVBitmapFormat* qvBitmapFormat(QVBitmapType code) {
    for (const QVBitmapFormat& format : kQVBitmapFormats)
        if (format.code == code) return &format;
    return nullptr;
}

template <QVComponentKind kind>
struct QVComponentOfKind;
template <>
struct QVComponentOfKind<QVComponentKind::Byte> {
    typedef unsigned char type;
};
template <>
struct QVComponentOfKind<QVComponentKind::UShort> {
    typedef unsigned short type;
};
template <>
struct QVComponentOfKind<QVComponentKind::Float> {
    typedef float type;
};

// The component type of a format code, at compile time.
template <QVBitmapType code>
using QVComponentOf = typename QVComponentOfKind<qvBitmapFormat(code)->component>::type;
