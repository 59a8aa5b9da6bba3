// Cutting a run of items into consecutive pieces so that the dearest piece
// costs as little as it can: how one render's work is shared among threads,
// in bands of rows or columns and in bands of a slab's tiles.
#pragma once

#include <functional>
#include <vector>

namespace dof {

// The cost of the piece [first, end) of a run; for one `first` it never
// falls as `end` grows.
using PieceCost = std::function<double(int first, int end)>;

// Cuts [0, length) into at most `count` pieces, each but the last at least
// `least` items long (when the run has that many), so that the dearest piece
// costs as little as a bisection on the cost limit finds: each piece is as
// long as the limit lets it be, and a limit that a piece of `least` items
// already exceeds cannot be kept. The ends of the pieces, in order, the last
// `length`; one piece when `count` is 1 or less.
std::vector<int> minimaxCut(int length, int count, int least, const PieceCost& cost);

}  // namespace dof
