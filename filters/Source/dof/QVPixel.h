// Pixel traits of the host's buffer formats: component type, full scale,
// bits per component and bytes per pixel, and the rules that turn a stored
// component into a fraction and a computed value back into a component.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "host/QVLib.h"
#include "kernels/round_to_int.h"

template <typename T, unsigned fullScale, unsigned bits, unsigned bytesPerPixel>
struct QVPixel {
    typedef T Component;
    static constexpr unsigned kFullScale = fullScale;
    static constexpr unsigned kBits = bits;
    static constexpr unsigned kBytesPerPixel = bytesPerPixel;

    static constexpr bool kIsFloat = std::is_floating_point<T>::value;
    // 10- and 12-bit components share bytes: one big-endian group per pixel.
    static constexpr bool kIsPacked = !kIsFloat && bits % 8 != 0;
    static constexpr std::uint32_t kMask =
        bits >= 32 ? 0xFFFFFFFFu : std::uint32_t((std::uint64_t(1) << bits) - 1);
    // A multiplication by the reciprocal, never a division.
    static constexpr double kReciprocal = 1.0 / double(fullScale);

    static_assert(kIsFloat || bits * 4 <= bytesPerPixel * 8, "four components fit a pixel");

    // Component c (0 R, 1 G, 2 B, 3 A) of the pixel at `pixel`.
    static T read(const std::uint8_t* pixel, int c) {
        if constexpr (kIsPacked) {
            return T((readGroup(pixel) >> shiftOf(c)) & kMask);
        } else {
            T value;
            std::memcpy(&value, pixel + c * sizeof(T), sizeof(T));
            return value;
        }
    }

    // Replaces component c; in a packed group the neighbours' bits stay.
    static void write(std::uint8_t* pixel, int c, T value) {
        if constexpr (kIsPacked) {
            const std::uint64_t mask = std::uint64_t(kMask) << shiftOf(c);
            const std::uint64_t group =
                (readGroup(pixel) & ~mask) | ((std::uint64_t(value) << shiftOf(c)) & mask);
            for (int i = int(bytesPerPixel) - 1, s = 0; i >= 0; --i, s += 8)
                pixel[i] = std::uint8_t(group >> s);
        } else {
            std::memcpy(pixel + c * sizeof(T), &value, sizeof(T));
        }
    }

    // The component as a fraction of full intensity.
    static double fraction(T value) {
        if constexpr (kIsFloat) {
            return value;
        } else if constexpr (bits == 8) {
            return QVPixelBase::_byteToFracTbl[value];
        } else {
            return double(value) * kReciprocal;
        }
    }

    // A colour fraction as a component: integer formats are limited to
    // 0..full scale, floats are stored as they are.
    static T colourFromFraction(double v) {
        if constexpr (kIsFloat) {
            return T(v);
        } else {
            if (v < 0) return T(0);
            if (v > 1) return T(fullScale);
            return lowBits(round_to_int(v * double(fullScale)));
        }
    }

    // The mean alpha fraction as a component, without a limit.
    static T alphaFromFraction(double m) {
        if constexpr (kIsFloat) {
            return T(m);
        } else {
            return lowBits(round_to_int(m * double(fullScale)));
        }
    }

    // A value in raw units (a box average) as a component.
    static T fromRaw(double raw) {
        if constexpr (kIsFloat) {
            return T(raw);
        } else {
            return lowBits(round_to_int(raw));
        }
    }

private:
    static constexpr int shiftOf(int c) { return (3 - c) * int(bits); }

    static std::uint64_t readGroup(const std::uint8_t* pixel) {
        std::uint64_t group = 0;
        for (unsigned i = 0; i < bytesPerPixel; ++i) group = (group << 8) | pixel[i];
        return group;
    }

    // The component receives the low bits of the rounded value.
    static T lowBits(std::int32_t value) { return T(std::uint32_t(value) & kMask); }
};

// The traits of a format code, with the arguments its row of the format
// table gives.
template <QVBitmapType code>
using QVPixelOf = QVPixel<QVComponentOf<code>, qvBitmapFormat(code)->fullScale,
                          qvBitmapFormat(code)->bits, qvBitmapFormat(code)->bytesPerPixel>;

typedef QVPixelOf<kQVBitmapRGBA8> QVPixelRGBA8;
typedef QVPixelOf<kQVBitmapRGBA10> QVPixelRGBA10;
typedef QVPixelOf<kQVBitmapRGBA12> QVPixelRGBA12;
typedef QVPixelOf<kQVBitmapRGBA16> QVPixelRGBA16;
typedef QVPixelOf<kQVBitmapRGBAFloat> QVPixelRGBAFloat;

// The traits tell packing from the bits; the table says it outright.
template <QVBitmapType code>
constexpr bool packingAgrees() {
    return QVPixelOf<code>::kIsPacked == qvBitmapFormat(code)->packed;
}
static_assert(packingAgrees<kQVBitmapRGBA8>() && packingAgrees<kQVBitmapRGBA10>() &&
                  packingAgrees<kQVBitmapRGBA12>() && packingAgrees<kQVBitmapRGBA16>() &&
                  packingAgrees<kQVBitmapRGBAFloat>(),
              "packing of the traits and the format table");
