// The areas the render engine works on and the sizes of its buffers, kept
// inside what the host handed over.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/HostTypes.h"
#include "host/IFXFilterInstance.h"

inline bool rect_is_empty(const QVRect& rect) { return rect.width <= 0 || rect.height <= 0; }

// One past the largest pixel coordinate: a pixel's x and y are 32-bit signed.
constexpr std::int64_t kCoordinateEnd = std::int64_t(1) << 31;

// The part of `rect` inside `region`, or an empty rectangle. The region and
// the buffers sized by it bound everything a pass reads and writes. Pixels
// beyond the largest coordinate cannot be named and are cut off too, so that
// left + i and top + j stay within 32 bits for every pixel of the result.
inline QVRect clip_to_region(const QVRect& rect, const QVRect& region) {
    if (rect_is_empty(rect) || rect_is_empty(region)) return QVRect{region.left, region.top, 0, 0};
    const std::int64_t left = rect.left > region.left ? rect.left : region.left;
    const std::int64_t top = rect.top > region.top ? rect.top : region.top;
    const std::int64_t rectRight = std::int64_t(rect.left) + rect.width;
    const std::int64_t rectBottom = std::int64_t(rect.top) + rect.height;
    const std::int64_t regionRight = std::int64_t(region.left) + region.width;
    const std::int64_t regionBottom = std::int64_t(region.top) + region.height;
    std::int64_t right = rectRight < regionRight ? rectRight : regionRight;
    std::int64_t bottom = rectBottom < regionBottom ? rectBottom : regionBottom;
    if (right > kCoordinateEnd) right = kCoordinateEnd;
    if (bottom > kCoordinateEnd) bottom = kCoordinateEnd;
    if (right <= left || bottom <= top) return QVRect{region.left, region.top, 0, 0};
    return QVRect{std::int32_t(left), std::int32_t(top), std::int32_t(right - left),
                  std::int32_t(bottom - top)};
}

// Bytes of a buffer of (width + pad) x (height + pad) elements of a region
// that is not empty; false when the host allocator cannot be asked for it.
// Each side is at most 2^31, so their product fits 64 bits; the element size
// is checked by a division, since multiplying it in could wrap past 2^64.
inline bool region_buffer_bytes(const QVRect& region, int pad, std::uint64_t elementBytes,
                                QVULong* bytes) {
    const std::uint64_t elements = (std::uint64_t(region.width) + std::uint64_t(pad)) *
                                   (std::uint64_t(region.height) + std::uint64_t(pad));
    const std::uint64_t limit =
        std::uint64_t(PTRDIFF_MAX) < 0xFFFFFFFFull ? std::uint64_t(PTRDIFF_MAX) : 0xFFFFFFFFull;
    if (elementBytes == 0 || elements > limit / elementBytes) return false;
    *bytes = QVULong(elements * elementBytes);
    return true;
}

// Element of pixel (x, y) in a buffer with one element per pixel of the region.
inline std::size_t region_index(const QVRect& region, int x, int y) {
    return std::size_t(y - region.top) * std::size_t(region.width) + std::size_t(x - region.left);
}

// base + offset as the host's own pointer arithmetic has it: offsets built
// from host values are counted modulo the address width, where no product of
// 32-bit host values can overflow.
inline std::uint8_t* host_address(const std::uint8_t* base, std::uint64_t offset) {
    return reinterpret_cast<std::uint8_t*>(std::uintptr_t(base) + std::uintptr_t(offset));
}

// A signed host value as a term of such an offset.
inline std::uint64_t offset_term(std::int64_t value) { return std::uint64_t(value); }
