// Rectangles of pixel positions, in the manner of an image library's region
// of interest: windows of a frame's parts, and the regions a render works
// on.
#pragma once

#include <cstddef>

namespace dof {

// Columns x to x + width - 1 and rows y to y + height - 1. A rectangle with
// no width or no height holds no pixel.
struct Rect {
    int x = 0, y = 0, width = 0, height = 0;

    int xend() const { return x + width; }
    int yend() const { return y + height; }
    bool empty() const { return width <= 0 || height <= 0; }
    std::size_t pixels() const { return empty() ? 0 : std::size_t(width) * std::size_t(height); }
    bool contains(int px, int py) const { return px >= x && px < xend() && py >= y && py < yend(); }
    // The index of pixel (px, py) among the rectangle's pixels, row by row;
    // the pixel must lie inside.
    std::size_t index(int px, int py) const {
        return std::size_t(py - y) * std::size_t(width) + std::size_t(px - x);
    }
    bool operator==(const Rect& o) const {
        return x == o.x && y == o.y && width == o.width && height == o.height;
    }
    bool operator!=(const Rect& o) const { return !(*this == o); }
};

// The pixels both hold; an empty rectangle at (0, 0) when they share none.
Rect intersection(const Rect& a, const Rect& b);

// The smallest rectangle that holds both; an empty one adds nothing.
Rect united(const Rect& a, const Rect& b);

// `r` with `dx` more columns on each side and `dy` more rows above and below.
Rect grown(const Rect& r, int dx, int dy);

// `r` grown as above, each edge no farther than the same edge of `limit`;
// an edge that already lies beyond it stays where it is.
Rect grownWithin(const Rect& r, int dx, int dy, const Rect& limit);

}  // namespace dof
