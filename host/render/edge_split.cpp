#include "render/edge_split.h"

#include <algorithm>
#include <cmath>

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

}  // namespace

std::optional<EdgeSplit> edgeSplit(const RenderInput& input, int x, int y) {
    if (input.deep()) return std::nullopt;
    // Most pixels have no nearer neighbour: their depths alone tell.
    const double distance = input.distance(x, y);
    bool step = false;
    for (int dy = -1; dy <= 1 && !step; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int i = x + dx, j = y + dy;
            if (i >= 0 && j >= 0 && i < input.width() && j < input.height() &&
                input.distance(i, j) * kStep < distance)
                step = true;
        }
    Neighbour own;
    if (!step || !opaqueAt(input, x, y, &own)) return std::nullopt;
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
    const auto apart = [](const double* a, const double* b) {
        double d = 0.0;
        for (int c = 0; c < 3; ++c) d += (a[c] - b[c]) * (a[c] - b[c]);
        return d;
    };
    const Neighbour* front = &nearer[0];
    for (int i = 1; i < nearCount; ++i)
        if (apart(nearer[i].colour, mean) > apart(front->colour, mean)) front = &nearer[i];
    const Neighbour* back = &level[0];
    for (int i = 1; i < levelCount; ++i)
        if (apart(level[i].colour, front->colour) > apart(back->colour, front->colour))
            back = &level[i];
    const double* far = back->colour;
    const double contrast = apart(front->colour, far);
    if (!(contrast > 1e-12)) return std::nullopt;
    // The pixel as far + cover * (front - far), nearest over R, G, B; no
    // more of the front's colour than the pixel holds in any of them.
    double cover = 0.0;
    for (int c = 0; c < 3; ++c) cover += (own.colour[c] - far[c]) * (front->colour[c] - far[c]);
    cover /= contrast;
    for (int c = 0; c < 3; ++c)
        if (front->colour[c] > 0.0) cover = std::min(cover, own.colour[c] / front->colour[c]);
    if (!(cover >= kLeast)) return std::nullopt;
    // No less than leaves the far surface's share within the pixel's light.
    for (int c = 0; c < 3; ++c)
        if (far[c] > 0.0) cover = std::max(cover, 1.0 - own.colour[c] / far[c]);
    // The input's colour (a colour layer's) is cut as the view's: its shares
    // are linear in its values.
    EdgeSplit split{cover > kMost ? 1.0 : cover, front->distance, {}, {}};
    const PixelValues pixel = input.stored(x, y), surface = input.stored(back->x, back->y);
    for (int c = 0; c < 3; ++c) {
        split.far[c] = split.cover < 1.0 ? surface.colour[c] : 0.0;
        split.near[c] = pixel.colour[c] - (1.0 - split.cover) * split.far[c];
    }
    return split;
}

}  // namespace dof
