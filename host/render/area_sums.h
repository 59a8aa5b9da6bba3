// Sums of a quantity over rectangles of a window, from a summed-area table:
// the slab layer counts its own pixels and averages around holes with it,
// the slab tiles count fragments to cut their regions.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "model/rect.h"
#include "runtime/HugePages.h"
#include "util/task_pool.h"

namespace dof {

template <typename T>
class AreaSums {
public:
    AreaSums() = default;
    // The table of value(x, y) over `window`, in the window's own frame
    // coordinates: each row's running sums, then each column's, on up to
    // `threads` threads of `pool` (none: this thread). Every element is the
    // sum a row-by-row walk makes, added in the same order.
    template <typename Value>
    AreaSums(const Rect& window, TaskPool* pool, int threads, const Value& value)
        : window_(window) {
        runtime::assignLarge(table_, std::size_t(window.width + 1) * std::size_t(window.height + 1),
                             T());
        if (window.width <= 0) return;
        forEachTask(pool, threads, window.height, [&](int y) {
            T row = value(window.x, window.y + y);
            at(1, y + 1) = row;
            for (int x = 1; x < window.width; ++x) {
                row = row + value(window.x + x, window.y + y);
                at(x + 1, y + 1) = row;
            }
        });
        constexpr int kColumns = 512;
        forEachTask(pool, threads, (window.width + kColumns - 1) / kColumns, [&](int run) {
            const int first = 1 + run * kColumns;
            const int end = std::min(window.width + 1, first + kColumns);
            for (int y = 2; y <= window.height; ++y)
                for (int x = first; x < end; ++x) at(x, y) = at(x, y - 1) + at(x, y);
        });
    }

    // The sum over the pixels of `r` that lie in the window.
    T sum(const Rect& r) const {
        const int x0 = std::max(0, r.x - window_.x);
        const int x1 = std::min(window_.width, r.xend() - window_.x);
        const int y0 = std::max(0, r.y - window_.y);
        const int y1 = std::min(window_.height, r.yend() - window_.y);
        if (x1 <= x0 || y1 <= y0) return T();
        return at(x1, y1) - at(x0, y1) - at(x1, y0) + at(x0, y0);
    }

    // The sum over columns x - rx .. x + rx and rows y - ry .. y + ry.
    T around(int x, int y, int rx, int ry) const {
        return sum(Rect{x - rx, y - ry, 2 * rx + 1, 2 * ry + 1});
    }

private:
    T& at(int x, int y) {
        return table_[std::size_t(y) * std::size_t(window_.width + 1) + std::size_t(x)];
    }
    const T& at(int x, int y) const {
        return table_[std::size_t(y) * std::size_t(window_.width + 1) + std::size_t(x)];
    }
    Rect window_;
    std::vector<T> table_;
};

}  // namespace dof
