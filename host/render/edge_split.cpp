#include "render/edge_split.h"

#include <algorithm>

namespace dof {

namespace {

// Neighbours whose distances are within this ratio of each other lie on one
// surface; one nearer by more lies in front. A slanted surface changes its
// distance by less from one pixel to the next but at grazing angles.
constexpr double kStep = 1.15;

// A nearer share below this is left where it is: a neighbour's noise can
// make that much of a pixel look like the nearer surface.
constexpr double kLeast = 0.02;
// A nearer share above this is the whole pixel: what is left of the far
// surface is not worth a fragment of its own.
constexpr double kMost = 0.98;

struct Neighbour {
    int x, y;
    double distance;
    double colour[3];  // the view's
};

// Pixel (x, y) when it lies in the window, is opaque, has a depth and no
// negative colour.
bool opaqueAt(const RenderInput& input, int x, int y, Neighbour* n) {
    if (x < 0 || y < 0 || x >= input.width() || y >= input.height()) return false;
    const PixelValues v = input.viewColour(x, y);
    n->x = x, n->y = y;
    n->distance = input.distance(x, y);
    if (!(v.alpha == 1.0) || !(n->distance > 0.0)) return false;
    std::copy(v.colour, v.colour + 3, n->colour);
    // Negative light (some renderers' ringing) fits no mix of surfaces.
    return std::all_of(v.colour, v.colour + 3, [](double c) { return c >= 0.0; });
}

// Whether a neighbour of (x, y) lies in front of a pixel at `distance`.
// Most pixels have none: their depths alone tell.
bool stepBeside(const RenderInput& input, int x, int y, double distance) {
    for (int j = std::max(0, y - 1); j <= std::min(input.height() - 1, y + 1); ++j)
        for (int i = std::max(0, x - 1); i <= std::min(input.width() - 1, x + 1); ++i)
            if (input.distance(i, j) * kStep < distance) return true;
    return false;
}

double apart(const double* a, const double* b) {
    double d = 0.0;
    for (int c = 0; c < 3; ++c) d += (a[c] - b[c]) * (a[c] - b[c]);
    return d;
}

// The share of `front` in `own` taken as far + share * (front - far),
// nearest over R, G, B: no more of the front's colour than `own` holds in
// any of them, and no less than leaves the far share within its light.
// None where front and far are one colour or the share is under 2 %.
std::optional<double> nearerShare(const double own[3], const double front[3],
                                  const double far[3]) {
    const double contrast = apart(front, far);
    if (!(contrast > 1e-12)) return std::nullopt;
    double share = 0.0;
    for (int c = 0; c < 3; ++c) share += (own[c] - far[c]) * (front[c] - far[c]);
    share /= contrast;
    for (int c = 0; c < 3; ++c)
        if (front[c] > 0.0) share = std::min(share, own[c] / front[c]);
    if (!(share >= kLeast)) return std::nullopt;
    for (int c = 0; c < 3; ++c)
        if (far[c] > 0.0) share = std::max(share, 1.0 - own[c] / far[c]);
    return share;
}

}  // namespace

std::optional<EdgeSplit> edgeSplit(const RenderInput& input, int x, int y) {
    Neighbour own;
    if (input.deep() || !stepBeside(input, x, y, input.distance(x, y)) ||
        !opaqueAt(input, x, y, &own))
        return std::nullopt;
    Neighbour nearer[8], level[8];
    int nearCount = 0, levelCount = 0;
    double mean[3] = {0.0, 0.0, 0.0};
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            Neighbour n;
            if ((dx == 0 && dy == 0) || !opaqueAt(input, x + dx, y + dy, &n)) continue;
            if (n.distance * kStep < own.distance) {
                nearer[nearCount++] = n;
            } else if (n.distance < own.distance * kStep && own.distance < n.distance * kStep) {
                for (int c = 0; c < 3; ++c) mean[c] += n.colour[c];
                level[levelCount++] = n;
            }
        }
    if (nearCount == 0 || levelCount == 0) return std::nullopt;
    for (double& c : mean) c /= levelCount;
    // The nearer neighbour that differs most from those at the pixel's depth
    // is the purest sample of the nearer surface; the neighbour at the
    // pixel's depth that differs most from it, of the far one (others may
    // hold some of the nearer surface too, on its edge as well).
    const Neighbour* front = &nearer[0];
    for (int i = 1; i < nearCount; ++i)
        if (apart(nearer[i].colour, mean) > apart(front->colour, mean)) front = &nearer[i];
    const Neighbour* back = &level[0];
    for (int i = 1; i < levelCount; ++i)
        if (apart(level[i].colour, front->colour) > apart(back->colour, front->colour))
            back = &level[i];
    const std::optional<double> cover = nearerShare(own.colour, front->colour, back->colour);
    if (!cover) return std::nullopt;
    // The input's colour (a colour layer's) is cut as the view's: its shares
    // are linear in its values.
    EdgeSplit split{*cover > kMost ? 1.0 : *cover, front->distance, {}, {}};
    const PixelValues pixel = input.stored(x, y), surface = input.stored(back->x, back->y);
    for (int c = 0; c < 3; ++c) {
        split.far[c] = split.cover < 1.0 ? surface.colour[c] : 0.0;
        split.near[c] = pixel.colour[c] - (1.0 - split.cover) * split.far[c];
    }
    return split;
}

}  // namespace dof
