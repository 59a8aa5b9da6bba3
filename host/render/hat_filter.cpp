#include "render/hat_filter.h"

#include <algorithm>

#include "model/blur_fraction.h"

namespace dof {

Hat::Hat(double radius) : reach(hatReach(radius)), step(0.5 / (std::max(radius, 0.0) + 0.000001)) {}

void filterLine(const Hat& hat, const double* in, double* out, int n, std::ptrdiff_t stride,
                std::vector<double>& sums) {
    // sums[i] and sums[n + 1 + i]: the values before i, and before i each
    // times its distance from the line's start.
    sums.resize(2 * std::size_t(n + 1));
    double* plain = sums.data();
    double* moment = plain + n + 1;
    plain[0] = moment[0] = 0.0;
    for (int i = 0; i < n; ++i) {
        const double v = in[std::ptrdiff_t(i) * stride];
        plain[i + 1] = plain[i] + v;
        moment[i + 1] = moment[i] + double(i) * v;
    }
    const int R = hat.reach;
    for (int i = 0; i < n; ++i) {
        const int lo = std::max(0, i - R), hi = std::min(n - 1, i + R);
        const double left = plain[i + 1] - plain[lo], right = plain[hi + 1] - plain[i + 1];
        // Sum of |k| times the value k away, on each side.
        const double leftFar = double(i) * left - (moment[i + 1] - moment[lo]);
        const double rightFar = (moment[hi + 1] - moment[i + 1]) - double(i) * right;
        out[std::ptrdiff_t(i) * stride] = left + right - hat.step * (leftFar + rightFar);
    }
}

std::vector<double> hatCover(const Hat& hat, int n) {
    std::vector<double> ones(std::size_t(std::max(n, 0)), 1.0), sums;
    filterLine(hat, ones.data(), ones.data(), n, 1, sums);
    return ones;
}

namespace {

// out = every column of `in` filtered with `hat`, a band of columns at a
// time, row after row, so that every step is a run along a row. Each column
// keeps running sums as the hat's centre moves down: of the values on its
// left half (the centre with it) and on its right, and of each value times
// its distance from the centre; one row down, values on the left are one
// further, those on the right one nearer.
void filterColumns(const Hat& hat, const double* in, double* out, int width, int height,
                   TaskPool* pool, int threads) {
    constexpr int kBand = 256;
    const int R = hat.reach;
    forEachTask(pool, threads, (width + kBand - 1) / kBand, [&](int band) {
        const int first = band * kBand, n = std::min(width, first + kBand) - first;
        const auto row = [&](int y) { return in + std::ptrdiff_t(y) * width + first; };
        std::vector<double> left(row(0), row(0) + n), right(std::size_t(n), 0.0);
        std::vector<double> far(std::size_t(n), 0.0);
        for (int k = 1; k <= std::min(R, height - 1); ++k) {
            const double* v = row(k);
            for (int j = 0; j < n; ++j) {
                right[std::size_t(j)] += v[j];
                far[std::size_t(j)] += double(k) * v[j];
            }
        }
        const std::vector<double> zeros(std::size_t(n), 0.0);
        double* l = left.data();
        double* r = right.data();
        double* f = far.data();
        const double step = hat.step, reach = double(R), beyond = double(R + 1);
        for (int y = 0; y < height; ++y) {
            double* o = out + std::ptrdiff_t(y) * width + first;
            for (int j = 0; j < n; ++j) o[j] = l[j] + r[j] - step * f[j];
            if (y + 1 == height) break;
            // One row down: the centre's next value moves to the left half,
            // one value enters on the right and one leaves on the left.
            const double* next = row(y + 1);
            const double* gone = y - R >= 0 ? row(y - R) : zeros.data();
            const double* come = y + 1 + R < height ? row(y + 1 + R) : zeros.data();
            for (int j = 0; j < n; ++j) {
                f[j] += l[j] - r[j] - beyond * gone[j] + reach * come[j];
                l[j] += next[j] - gone[j];
                r[j] += come[j] - next[j];
            }
        }
    });
}

// out = every row of `in` filtered with `hat`, with the running sums of
// filterColumns along each row; eight rows side by side, whose sums do not
// wait for each other.
void filterRows(const Hat& hat, const double* in, double* out, int width, int height,
                TaskPool* pool, int threads) {
    constexpr int kRows = 8;
    const int R = hat.reach;
    const double step = hat.step, reach = double(R), beyond = double(R + 1);
    forEachTask(pool, threads, (height + kRows - 1) / kRows, [&](int block) {
        const int top = block * kRows, n = std::min(height, top + kRows) - top;
        const double* rows[kRows];
        double* outs[kRows];
        double left[kRows], right[kRows], far[kRows];
        for (int i = 0; i < n; ++i) {
            rows[i] = in + std::ptrdiff_t(top + i) * width;
            outs[i] = out + std::ptrdiff_t(top + i) * width;
            left[i] = rows[i][0], right[i] = 0.0, far[i] = 0.0;
            for (int k = 1; k <= std::min(R, width - 1); ++k) {
                right[i] += rows[i][k];
                far[i] += double(k) * rows[i][k];
            }
        }
        for (int x = 0; x < width; ++x) {
            for (int i = 0; i < n; ++i) outs[i][x] = left[i] + right[i] - step * far[i];
            if (x + 1 == width) break;
            const bool leaves = x - R >= 0, enters = x + 1 + R < width;
            for (int i = 0; i < n; ++i) {
                const double next = rows[i][x + 1];
                const double gone = leaves ? rows[i][x - R] : 0.0;
                const double come = enters ? rows[i][x + 1 + R] : 0.0;
                far[i] += left[i] - right[i] - beyond * gone + reach * come;
                left[i] += next - gone;
                right[i] += come - next;
            }
        }
    });
}

}  // namespace

void filterPlane(const Hat& across, const Hat& down, std::vector<double>& plane, int width,
                 int height, PlaneScratch& scratch, TaskPool* pool, int threads) {
    if (width <= 0 || height <= 0) return;
    // Grown only: a plane's worth of fresh pages per pass would cost more
    // than the pass.
    if (scratch.filtered.size() < plane.size()) scratch.filtered.resize(plane.size());
    filterColumns(down, plane.data(), scratch.filtered.data(), width, height, pool, threads);
    filterRows(across, scratch.filtered.data(), plane.data(), width, height, pool, threads);
}

}  // namespace dof
