// Spreads one fragment over its clipped hat footprint into the twelve
// accumulation planes of the render region.
#pragma once

struct IFXFilterInstance;
struct Parameters;

// Adds the fragment at source pixel (x, y) to every pixel of its footprint
// that lies in instance.renderRegion: colour and opacity sums, weight sums
// and transmittance products per channel. Returns false, with the planes
// untouched, when a hat table could not be had (the host allocator failed,
// or a radius is infinite or too large to count); true otherwise, also when
// the footprint misses the region.
bool splat_fragment(IFXFilterInstance const& instance, Parameters* params, int x, int y,
                    double radiusX, double radiusY, double red, double green, double blue,
                    double opacityR, double opacityG, double opacityB, double coverageR,
                    double coverageG, double coverageB);

// splat_fragment without the result.
void splat_pixel(IFXFilterInstance const& instance, Parameters* params, int x, int y,
                 double radiusX, double radiusY, double red, double green, double blue,
                 double opacityR, double opacityG, double opacityB, double coverageR,
                 double coverageG, double coverageB);
