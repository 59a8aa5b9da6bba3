// The effect's hat as a filter the host applies to maps of its own. Lines
// are filtered through running sums (of the values, and of the values times
// their distance from the hat's centre), so that a pass costs the same at
// any radius.
#pragma once

#include <cstddef>
#include <vector>

#include "util/task_pool.h"

namespace dof {

// The taps the effect spreads a fragment of blur radius r with: 1, then
// one step less per pixel, out to the reach 2r with its fraction cut off.
struct Hat {
    explicit Hat(double radius);
    int reach = 0;
    double step = 0.0;
};

// out[i] = the sum over |k| <= reach of (1 - |k| step) in[i + k], for a
// line of n values `stride` elements apart; values beyond the line count as
// 0. `in` and `out` may be one line. `sums` is scratch.
void filterLine(const Hat& hat, const double* in, double* out, int n, std::ptrdiff_t stride,
                std::vector<double>& sums);

// The taps of `hat` that fall on a line of n pixels, around each of its
// pixels: filterLine of a line of ones.
std::vector<double> hatCover(const Hat& hat, int n);

// Buffers a plane's filtering works in, kept from one plane to the next.
struct PlaneScratch {
    std::vector<double> filtered;
};

// Filters a plane of width x height values in place: each column with
// `down`, then each row with `across`, on up to `threads` threads of `pool`.
void filterPlane(const Hat& across, const Hat& down, std::vector<double>& plane, int width,
                 int height, PlaneScratch& scratch, TaskPool* pool, int threads);

}  // namespace dof
