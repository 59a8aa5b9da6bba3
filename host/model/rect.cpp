#include "model/rect.h"

#include <algorithm>

namespace dof {

Rect intersection(const Rect& a, const Rect& b) {
    const int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    const int x1 = std::min(a.xend(), b.xend()), y1 = std::min(a.yend(), b.yend());
    if (x1 <= x0 || y1 <= y0) return Rect();
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

Rect united(const Rect& a, const Rect& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    const int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const int x1 = std::max(a.xend(), b.xend()), y1 = std::max(a.yend(), b.yend());
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

Rect grown(const Rect& r, int dx, int dy) {
    return Rect{r.x - dx, r.y - dy, r.width + 2 * dx, r.height + 2 * dy};
}

Rect grownWithin(const Rect& r, int dx, int dy, const Rect& limit) {
    // Each edge moves out to the limit's at most, and never in.
    const int x0 = std::min(r.x, std::max(r.x - dx, limit.x));
    const int y0 = std::min(r.y, std::max(r.y - dy, limit.y));
    const int x1 = std::max(r.xend(), std::min(r.xend() + dx, limit.xend()));
    const int y1 = std::max(r.yend(), std::min(r.yend() + dy, limit.yend()));
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

}  // namespace dof
