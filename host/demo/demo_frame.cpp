#include "demo/demo_frame.h"

#include "demo/demo_scene.h"

namespace dof {

Frame demoFrame(int width, int height) {
    DemoSceneOptions options;
    options.width = width;
    options.height = height;
    options.format = kQVBitmapRGBAFloat;
    const DemoScene scene = buildDemoScene(options);
    Frame frame;
    frame.path = "built-in scene";
    frame.imageSpec = OIIO::ImageSpec(width, height, 4, OIIO::TypeDesc::FLOAT);
    frame.pixels.assign(frame.pixelCount() * 4, 0.0f);
    frame.distance.assign(frame.pixelCount(), 0.0);
    for (int c = 0; c < 3; ++c) frame.colourChannel[c] = c;
    frame.alphaChannel = 3;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::size_t p = std::size_t(y) * std::size_t(width) + std::size_t(x);
            for (int c = 0; c < 3; ++c)
                frame.pixels[p * 4 + std::size_t(c)] = float(scene.source->fraction(x, y, c));
            frame.pixels[p * 4 + 3] = 1.0f;
            frame.distance[p] = -double(scene.gbuffers->depth(x, y));
        }
    return frame;
}

}  // namespace dof
