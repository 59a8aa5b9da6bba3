// A built-in procedural scene: a source image with the g-buffer channels a
// renderer stores beside it, for demonstrations, benchmarks and tests.
#pragma once

#include <memory>

#include "runtime/GBufferSet.h"
#include "runtime/PixelImage.h"
#include "runtime/RenderSession.h"

namespace dof {

// A frame ready to render: the source, its channels and settings that suit it.
struct DemoScene {
    std::unique_ptr<runtime::PixelImage> source;  // null when the host refused the buffer
    std::unique_ptr<runtime::GBufferSet> gbuffers;
    runtime::RenderSettings settings;
};

struct DemoSceneOptions {
    int width = 640;
    int height = 360;
    QVBitmapType format = kQVBitmapRGBA8;
    // Colour channel with a shared exponent byte (values above 1 survive), or
    // the plain three-byte colour channel (values limited to 1).
    bool colourExponent = true;
};

// The scene, seen by a pinhole camera at the origin looking down -z, with a
// focal length of `height` pixels: pixel (x, y) looks along
// ((x + 0.5 - width / 2) / height, (height / 2 - y - 0.5) / height, -1) and a
// point's depth is its z. Each pixel is sampled on a 4 x 4 grid.
//
//   wall     z = -40, sky gradient from the horizon colour (0.8, 0.84, 0.92)
//            at y <= 0 upwards
//   ground   y = -1, a checkerboard of 1 x 1 cells, up to the wall
//   card     z = -6, x in [-0.6125, 0.6125], y in [-1, 0.55], flat vertical
//            stripes 0.1 wide: floor(10 x) even (0.94, 0.93, 0.86), odd
//            (0.12, 0.2, 0.45)
//   spheres  a shaded red one near (z = -3); flat tinted glass (0.35, 0.8,
//            0.88) of opacity 0.6, radius 0.7 around (1.5, -0.3, -4.5); two
//            shaded ones far off (z = -15, -22)
//   lamps    five emissive spheres of radius 0.1 at x = -6 + 3 i, y = 2.5,
//            z = -18, of intensity (24, 20, 14): highlights far above full
//            scale
//
// The front fragment of a pixel is its nearest surface, with the share of the
// pixel it takes as coverage; every other surface seen in the pixel (beside
// an edge, or through the glass) follows as a depth layer weighted by its
// share. Glass takes its opacity's share and passes the rest on, so sharp
// fragments resolve to the composite that the source shows. The settings
// focus on the card with a sharp zone to -7 and a radius of height / 45.
DemoScene buildDemoScene(const DemoSceneOptions& options = DemoSceneOptions());

}  // namespace dof
