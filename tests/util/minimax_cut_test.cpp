// Runs cut into pieces of least maximum cost: exact ends for costs that are
// sums of item weights, with and without an overhead per piece and a
// shortest piece.
#include "util/minimax_cut.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

TEST(MinimaxCut, EndsOfTheCheapestDearestPiece) {
    const std::vector<double> ones(10, 1.0);
    const std::vector<double> heavyFirst{100, 1, 1, 1, 1, 1, 1, 1};
    const struct {
        std::vector<double> weights;
        double overhead;  // of every piece
        int count, least;
        std::vector<int> ends;
        const char* why;
    } cases[] = {
        {ones, 0, 2, 1, {5, 10}, "halves"},
        {ones, 0, 3, 1, {4, 8, 10}, "the dearest piece of three costs 4"},
        {ones, 0, 1, 1, {10}, "one piece"},
        {{1, 1, 1}, 0, 5, 1, {1, 2, 3}, "more pieces than items"},
        {{}, 0, 3, 1, {0}, "an empty run"},
        {heavyFirst, 0, 2, 1, {1, 8}, "the heavy item alone"},
        // The first piece, no shorter than 3, is the dearest whatever the rest.
        {heavyFirst, 0, 3, 3, {3, 8}, "a dear shortest piece"},
        {ones, 0, 4, 4, {4, 8, 10}, "pieces of 4, the last shorter"},
        {std::vector<double>(8, 1.0), 10, 4, 1, {2, 4, 6, 8}, "an overhead per piece"},
    };
    for (const auto& c : cases) {
        std::vector<double> before(c.weights.size() + 1, 0.0);
        std::partial_sum(c.weights.begin(), c.weights.end(), before.begin() + 1);
        const auto cost = [&](int first, int end) {
            return c.overhead + before[std::size_t(end)] - before[std::size_t(first)];
        };
        EXPECT_EQ(dof::minimaxCut(int(c.weights.size()), c.count, c.least, cost), c.ends)
            << c.why;
    }
}

}  // namespace
