#include "model/frame.h"

#include <cmath>

namespace dof {

double Frame::pixelDistance(std::size_t pixel) const {
    if (!deep) return distance[pixel];
    const PixelFragments& f = fragments[pixel];
    if (f.fragments.empty()) return NAN;
    const Fragment* heaviest = &f.fragments.front();
    for (const Fragment& fragment : f.fragments)
        if (fragment.weight > heaviest->weight) heaviest = &fragment;
    return heaviest->distance;
}

}  // namespace dof
