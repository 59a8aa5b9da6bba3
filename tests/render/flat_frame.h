// Frames made by hand for the render's tests, and what a render gives them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include "model/frame.h"
#include "render/aperture_render.h"
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

// Sets pixel (x, y) of the first part to `v` (R, G, B, A) at `distance`.
inline void setPixel(Frame& f, int x, int y, const float v[4], double distance) {
    const std::size_t p = std::size_t(y) * std::size_t(f.width()) + std::size_t(x);
    std::copy(v, v + 4, &f.parts[0].values[p * 4]);
    f.distance[p] = distance;
}

// `frame` rendered through `shape` at `radius`, focused at `focus` and sharp
// to `sharpUntil` (distances), on `threads`.
inline RenderedColour apertureRender(const Frame& frame, double radius,
                                     const ApertureSettings& shape, int threads, double focus,
                                     double sharpUntil) {
    AperturePlan plan;
    plan.shape = shape;
    plan.blur.depth.scale.focalDepth = -focus;
    plan.blur.depth.scale.focusRangeDepth = -sharpUntil;
    plan.blur.focus = FocusDepths{-focus, -sharpUntil};
    plan.blur.radius = radius;
    TaskPool pool(threads - 1);
    FrameRenderContext context;
    context.pool = &pool;
    context.threads = threads;
    runtime::PassSeconds seconds{};
    RenderedColour out;
    EXPECT_EQ(renderAperture(RenderInput(frame), plan, context, &out, &seconds),
              RenderOutcome::Done);
    return out;
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
