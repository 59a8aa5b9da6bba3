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
    FramePart image;
    image.dataWindow = image.displayWindow = Rect{0, 0, width, height};
    image.channels = {"R", "G", "B", "A"};
    image.values.assign(image.dataWindow.pixels() * 4, 0.0f);
    frame.distance.assign(image.dataWindow.pixels(), 0.0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::size_t p = std::size_t(y) * std::size_t(width) + std::size_t(x);
            for (int c = 0; c < 3; ++c)
                image.values[p * 4 + std::size_t(c)] = float(scene.source->fraction(x, y, c));
            image.values[p * 4 + 3] = 1.0f;
            frame.distance[p] = -double(scene.gbuffers->depth(x, y));
        }
    frame.parts.push_back(std::move(image));
    for (int c = 0; c < 3; ++c) frame.colourChannel[c] = c;
    frame.alphaChannel = 3;
    frame.layers = describeChannelLayers(frame, "", DepthConvention::Distance);
    return frame;
}

}  // namespace dof
