// How the render engine reads the host's g-buffer channels: front elements
// walked along a row, layer elements with their dummies, and the values the
// splatting takes from the channel bytes.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "host/GBuffer.h"
#include "host/QVLib.h"

// Elements read where a channel has no layer element: four of each type.
extern const float gFloatDummy[4];
extern const std::int32_t gLongDummy[4];
extern const std::uint16_t gUShortDummy[4];
extern const std::uint8_t gUByteDummy[4];

// Scale of a shared-exponent colour: entry i is 2^(i - 128), entry 0 is 0.0.
extern const std::array<double, 256> expTable;

// The dummy of a channel, chosen by its element type; the reader takes it
// with the type it expects of the channel.
const std::uint8_t* gbuffer_dummy(std::uint8_t elemType);

// Layer element k of row y, or the channel's dummy where the row has none.
const std::uint8_t* gbuffer_layer_element(const GBufferChannel& channel, int y, std::uint32_t k);

// Walks the front elements of one row of a channel. The first element is
// that of pixel (x, y) exactly; each step adds the stride the channel's
// reader uses (a depth walks by xStride rounded down to a multiple of 4, a
// layer range by a multiple of 2, the byte channels by xStride itself).
class GBufferRowWalk {
public:
    enum Rounding : std::int32_t { kDepthStep = ~3, kRangeStep = ~1, kByteStep = ~0 };

    GBufferRowWalk() : at_(0), step_(0) {}
    GBufferRowWalk(const GBufferChannel& channel, int x, int y, Rounding rounding)
        : at_(std::uintptr_t(channel.data) + offset(x, channel.xStride) +
              offset(y, channel.yStride)),
          step_(std::uintptr_t(std::intptr_t(channel.xStride & std::int32_t(rounding)))) {}

    const std::uint8_t* element() const { return reinterpret_cast<const std::uint8_t*>(at_); }
    void next() { at_ += step_; }

private:
    // Host addresses wrap like the host's own pointer arithmetic.
    static std::uintptr_t offset(int n, std::int32_t stride) {
        return std::uintptr_t(std::intptr_t(std::int64_t(n) * stride));
    }

    std::uintptr_t at_;
    std::uintptr_t step_;
};

inline float gbuffer_depth(const std::uint8_t* element) {
    float depth;
    std::memcpy(&depth, element, sizeof depth);
    return depth;
}

inline void gbuffer_layer_range(const std::uint8_t* element, std::uint16_t range[2]) {
    std::memcpy(range, element, 2 * sizeof(std::uint16_t));
}

inline double byte_fraction(std::uint8_t b) { return QVPixelBase::_byteToFracTbl[b]; }

// Colour fractions of a colour element; a shared exponent scales all three.
inline void gbuffer_colour(const std::uint8_t* element, bool withExponent, double colour[3]) {
    for (int c = 0; c < 3; ++c) {
        colour[c] = byte_fraction(element[c]);
        if (withExponent) colour[c] = colour[c] * expTable[element[3]];
    }
}

// Opacity of each channel from its transparency byte; null means the
// channel is absent and every byte counts as 0.
inline void gbuffer_opacity(const std::uint8_t* transparency, double opacity[3]) {
    for (int c = 0; c < 3; ++c)
        opacity[c] = byte_fraction(std::uint8_t(255 - (transparency ? transparency[c] : 0)));
}
