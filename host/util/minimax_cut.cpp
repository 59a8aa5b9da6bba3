#include "util/minimax_cut.h"

#include <algorithm>

namespace dof {

namespace {

// Halvings of the cost limit: from the whole run's cost down to a part in
// 2^40 of it.
constexpr int kLimitSteps = 40;

// The pieces that each cost at most `limit`; false when more than `count`
// would be needed or a piece of `least` items costs more.
bool cutWithin(int length, int count, int least, const PieceCost& cost, double limit,
               std::vector<int>* ends) {
    ends->clear();
    for (int first = 0; first < length;) {
        if (int(ends->size()) == count) return false;
        int fits = std::min(length, first + least), above = length + 1;
        if (cost(first, fits) > limit) return false;
        while (above - fits > 1) {
            const int mid = fits + (above - fits) / 2;
            (cost(first, mid) <= limit ? fits : above) = mid;
        }
        ends->push_back(fits);
        first = fits;
    }
    return true;
}

}  // namespace

std::vector<int> minimaxCut(int length, int count, int least, const PieceCost& cost) {
    std::vector<int> best{length}, ends;
    if (count <= 1 || length <= 1) return best;
    least = std::max(1, least);
    double low = 0.0, high = cost(0, length);
    for (int step = 0; step < kLimitSteps; ++step) {
        const double limit = 0.5 * (low + high);
        if (cutWithin(length, count, least, cost, limit, &ends)) {
            high = limit;
            best.swap(ends);
        } else {
            low = limit;
        }
    }
    return best;
}

}  // namespace dof
