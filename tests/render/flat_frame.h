// Frames made by hand for the render's tests, and what a render gives them.
#pragma once

#include <gtest/gtest.h>

#include "model/frame.h"
#include "render/render_input.h"
#include "support/same_bytes.h"

namespace dof::test {

// One part of R, G, B and A over (0, 0) to (width, height), premultiplied,
// every value 0, every pixel at distance 0.
inline Frame flatFrame(int width, int height) {
    Frame f;
    f.path = "frame.exr";
    FramePart image;
    image.dataWindow = image.displayWindow = Rect{0, 0, width, height};
    image.channels = {"R", "G", "B", "A"};
    image.values.assign(image.dataWindow.pixels() * 4, 0.0f);
    f.parts.push_back(image);
    f.colourChannel[0] = 0, f.colourChannel[1] = 1, f.colourChannel[2] = 2;
    f.alphaChannel = 3;
    f.distance.assign(image.dataWindow.pixels(), 0.0);
    return f;
}

// Channel c (3: alpha) of pixel p of a render's result.
inline float valueAt(const RenderedColour& result, std::size_t p, int c) {
    return c == 3 ? result.alpha[p] : result.colour[c][p];
}

// Every byte of every plane the same.
inline ::testing::AssertionResult sameColour(const RenderedColour& a, const RenderedColour& b) {
    for (int c = 0; c < 3; ++c)
        if (!sameBytes(a.colour[c], b.colour[c])) return sameBytes(a.colour[c], b.colour[c]);
    return sameBytes(a.alpha, b.alpha);
}

}  // namespace dof::test
