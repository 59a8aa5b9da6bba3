// A picture of the aperture: a grey image whose values say how much of a
// fragment's light falls on each part of the shape, for apertures no convex
// outline describes (a star, a ring, a cut-out).
//
// The picture's frame, made square about its centre by its larger side, is
// the square around the circle of confusion: a disc that touches the
// picture's edges is the circle of confusion itself, and anything in the
// picture's corners reaches up to the square root of 2 radii. The picture
// appears as it is drawn, its top up, for fragments in front of the focus
// and behind it alike, as a compositor's picture of a bokeh does. An
// anamorphic squeeze stretches it upright as it does a disc.
#pragma once

#include <string>
#include <vector>

namespace dof {

struct AperturePicture {
    int width = 0, height = 0;
    // The sums of its weights (>= 0, not all 0) above and left of each
    // pixel corner: (width + 1) x (height + 1), row by row from the top.
    std::vector<double> sums;
    double reach = 0.0;  // the farthest weight from the centre, in radii
};

// The picture of `grey` (`width` x `height` values, row by row): negative and
// not-a-number values count as 0. False with `error` saying what is wrong
// (no pixels, or all zero).
bool makeAperturePicture(int width, int height, const std::vector<float>& grey,
                         AperturePicture* picture, std::string* error);

// The picture resampled for a radius of `across` x `down` pixels: each
// pixel around a fragment's own at the centre gets the picture's mean over
// the pixel's area, and the weights add up to 1. A square of
// 2 * reach + 1 pixels, row by row, the fragment's pixel in the middle.
struct PictureKernel {
    int reach = 0;
    std::vector<float> weights;
};
PictureKernel pictureKernel(const AperturePicture& picture, double across, double down);

}  // namespace dof
