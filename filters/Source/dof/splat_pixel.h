// Spreads one fragment over its clipped hat footprint into the twelve
// accumulation planes of the render region.
#pragma once

struct IFXFilterInstance;
struct Parameters;

void splat_pixel(IFXFilterInstance const& instance, Parameters* params, int x, int y,
                 double radiusX, double radiusY, double red, double green, double blue,
                 double opacityR, double opacityG, double opacityB, double coverageR,
                 double coverageG, double coverageB);
