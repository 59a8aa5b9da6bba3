// Spreading fragments evenly over the image of the aperture, into planes of
// premultiplied R, G, B, A over a band of a frame's rows.
//
// A fragment's footprint is the share of its shape that covers each pixel,
// divided by the shape's whole area, so that it keeps all of its light.
// Footprints depend only on the radius (and, with a cat's eye, on the cut),
// so they are worked out once per quantised radius and shared by every
// fragment of that radius: radii are quantised to 1/64 pixel up to 16
// pixels and to 1/1024 of themselves beyond, fine enough that the rim moves
// by a small fraction of a pixel from one step to the next. Each row of a
// footprint is a run of pixels covered whole, added through running sums
// (its value where it starts, minus it past its end; one sum along each row
// at the end gives every pixel's total), and the rim pixels' shares beside
// it, so a fragment costs in proportion to its diameter, not its area.
//
// The coverage of a row is measured in strips of an eighth of a row, each
// clipped to the shape's top and bottom and spanning it at its middle, so
// the covered area grows smoothly with the radius: nothing steps where a
// radius crosses a whole pixel.
#pragma once

#include <cstdint>
#include <vector>

#include "render/aperture_shape.h"

namespace dof {

// The quantised radius a footprint is made for; keys order as radii do.
int radiusKey(double radius);
double keyRadius(int key);

// Where a slab goes on beyond its pixels (into holes, beyond the frame's
// edges): the radius `distance` pixels on from a pixel of radius `radius`
// whose radius changes by `slope` per pixel outward, the slope limited to
// half a pixel per pixel and the radius to 0 to 1.5 times its own. A blur
// that grows towards the pixel goes on growing, so the spreads of the pixels
// and of those beyond them add up to the slab's opacity as they do within it.
double extendedRadius(double radius, double slope, int distance);

// Whether a shape `across` x `down` pixels in radius (`down` before the
// shape's squeeze) lies within its own pixel: such a fragment is added to
// that pixel unchanged.
bool withinPixel(const ApertureShape& shape, double across, double down);

// The shares of the pixels around its own that a fragment at the centre of
// a pixel covers.
class ApertureFootprint {
public:
    // For a radius of `across` x `down` pixels (`down` before the squeeze),
    // cut by `cut`.
    ApertureFootprint(const ApertureShape& shape, const ApertureShape::Cut& cut, double across,
                      double down);

    // One row of the footprint: pixels first to end - 1 from the fragment's
    // column covered whole, each with `whole`, and rim pixels rims[rimFirst]
    // to rims[rimEnd - 1].
    struct Row {
        int first = 0, end = 0;
        double whole = 0.0;
        std::uint32_t rimFirst = 0, rimEnd = 0;
    };
    struct Rim {
        int dx;
        float share;
    };

    bool sharp() const { return sharp_; }
    bool empty() const { return !sharp_ && rows_.empty(); }
    int top() const { return top_; }  // first row, from the fragment's row
    int bottom() const { return top_ + int(rows_.size()) - 1; }
    int reach() const { return reach_; }  // columns reached on either side, at most
    const Row& row(int dy) const { return rows_[std::size_t(dy - top_)]; }
    const Rim* rims() const { return rims_.data(); }

private:
    // Adds the row `row` of a shape from `top` to `bottom` (pixel rows, the
    // fragment's centre at 0.5) with each rim pixel's covered area; returns
    // the row's area. `whole` holds the row's height until the shares are known.
    double addRow(const ApertureShape& shape, const ApertureShape::Cut& cut, int row, double top,
                  double bottom, double across, double down, std::vector<double>* covered);

    bool sharp_ = false;
    int top_ = 0, reach_ = 0;
    std::vector<Row> rows_;
    std::vector<Rim> rims_;
};

// Premultiplied R, G, B, A planes over a band of rows of a frame `width`
// pixels wide, with `pad` columns on either side for light that falls
// beyond it.
class SpreadBand {
public:
    // Rows top to top + height - 1, all zero. A band whose rows were all
    // finished is zero already, whatever its layout was, and is not cleared
    // again.
    void reset(int width, int pad, int top, int height);

    // Adds a fragment at pixel (x, y): the rows of its footprint that fall in
    // the band. Its footprint must stay within the padding.
    void add(int x, int y, const float rgba[4], const ApertureFootprint& footprint);

    // Pixel (x, y)'s R, G, B, A for columns 0 to width - 1 of frame row `y`;
    // the row is left zero.
    void finishRow(int y, float* rgba);

    int top() const { return top_; }
    int height() const { return height_; }

private:
    int width_ = 0, pad_ = 0, top_ = 0, height_ = 0;
    std::size_t stride_ = 0;      // elements per row
    std::vector<double> steps_;   // running-sum steps, 4 per column and one past
    std::vector<float> shares_;   // rim shares and unspread fragments, 4 per column
    std::vector<char> finished_;  // per row of the band
    int finishedRows_ = 0;
};

}  // namespace dof
