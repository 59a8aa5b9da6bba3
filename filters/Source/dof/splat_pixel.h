// Spreads one fragment over its clipped hat footprint into the twelve
// accumulation planes of the render region.
#pragma once

#include <cstddef>

struct IFXFilterInstance;
struct Parameters;

// One fragment of a source pixel: where it is, how far it spreads, and its
// colour, opacity and coverage per channel (R, G, B).
struct SplatFragment {
    int x;  // the source pixel, absolute coordinates
    int y;
    double radiusX;  // hat radii in pixels
    double radiusY;
    double colour[3];
    double opacity[3];
    double coverage[3];
};

// One channel's four planes, at the first element of a run of columns.
struct SplatChannelPlanes {
    double* colourSum;
    double* opacitySum;
    double* transmit;
    double* weightSum;
};

// Adds the fragment, with row tap wy and column taps hx[0..n), to n
// consecutive elements of the three channels' planes. The splatting
// arithmetic is written out here only: the literal walk and the exact path of
// the blocked walk share this code, so that even non-finite values combine
// the same way in both.
void splat_run(const SplatChannelPlanes (&planes)[3], const SplatFragment& fragment, double wy,
               const double* hx, std::ptrdiff_t n);

// Adds the fragment to every pixel of its footprint that lies in
// instance.renderRegion: colour and opacity sums, weight sums and
// transmittance products per channel. Returns false, with the planes
// untouched, when a hat table could not be had (the host allocator failed,
// or a radius is infinite or too large to count); true otherwise, also when
// the footprint misses the region.
bool splat_fragment(IFXFilterInstance const& instance, Parameters* params,
                    SplatFragment const& fragment);

// splat_fragment with the fragment's fifteen values, without the result.
void splat_pixel(IFXFilterInstance const& instance, Parameters* params, int x, int y,
                 double radiusX, double radiusY, double red, double green, double blue,
                 double opacityR, double opacityG, double opacityB, double coverageR,
                 double coverageG, double coverageB);
