// The areas the render engine works on and the sizes of its buffers, kept
// inside what the host handed over.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/HostTypes.h"
#include "host/IFXFilterInstance.h"

inline bool rect_is_empty(const QVRect& rect) { return rect.width <= 0 || rect.height <= 0; }

// The part of `rect` inside `region`, or an empty rectangle. The region and
// the buffers sized by it bound everything a pass reads and writes.
inline QVRect clip_to_region(const QVRect& rect, const QVRect& region) {
    if (rect_is_empty(rect) || rect_is_empty(region)) return QVRect{region.left, region.top, 0, 0};
    const std::int64_t left = rect.left > region.left ? rect.left : region.left;
    const std::int64_t top = rect.top > region.top ? rect.top : region.top;
    const std::int64_t rectRight = std::int64_t(rect.left) + rect.width;
    const std::int64_t rectBottom = std::int64_t(rect.top) + rect.height;
    const std::int64_t regionRight = std::int64_t(region.left) + region.width;
    const std::int64_t regionBottom = std::int64_t(region.top) + region.height;
    const std::int64_t right = rectRight < regionRight ? rectRight : regionRight;
    const std::int64_t bottom = rectBottom < regionBottom ? rectBottom : regionBottom;
    if (right <= left || bottom <= top) return QVRect{region.left, region.top, 0, 0};
    return QVRect{std::int32_t(left), std::int32_t(top), std::int32_t(right - left),
                  std::int32_t(bottom - top)};
}

// Bytes of a buffer of (width + pad) x (height + pad) elements of the region,
// counted in 64 bits; false when the host allocator cannot be asked for it.
inline bool region_buffer_bytes(const QVRect& region, int pad, std::uint64_t elementBytes,
                                QVULong* bytes) {
    const std::uint64_t total = (std::uint64_t(region.width) + std::uint64_t(pad)) *
                                (std::uint64_t(region.height) + std::uint64_t(pad)) * elementBytes;
    if (total > 0xFFFFFFFFull || total > std::uint64_t(PTRDIFF_MAX)) return false;
    *bytes = QVULong(total);
    return true;
}

// Element of pixel (x, y) in a buffer with one element per pixel of the region.
inline std::size_t region_index(const QVRect& region, int x, int y) {
    return std::size_t(y - region.top) * std::size_t(region.width) + std::size_t(x - region.left);
}
