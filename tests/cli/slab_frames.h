// Frames built in memory for the slab tests, and the slab render run on them
// as dof3d runs it.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "cli/frame_render.h"
#include "support/effect_fixture.h"

namespace slabtest {

// A flat RGBA frame with depth (distances; focus and depths in the effect's
// range, so that no depth scaling applies), premultiplied, all zero.
inline dof3d::Frame flatFrame(int width, int height) {
    dof3d::Frame f;
    f.path = "frame.exr";
    f.imageSpec = OIIO::ImageSpec(width, height, 4, OIIO::TypeDesc::FLOAT);
    f.pixels.assign(f.pixelCount() * 4, 0.0f);
    f.colourChannel[0] = 0, f.colourChannel[1] = 1, f.colourChannel[2] = 2;
    f.alphaChannel = 3;
    f.distance.assign(f.pixelCount(), 0.0);
    return f;
}

inline void setPixel(dof3d::Frame& f, int x, int y, float r, float g, float b, float a,
                     double distance) {
    const std::size_t p = std::size_t(y) * std::size_t(f.width()) + std::size_t(x);
    float* px = &f.pixels[p * 4];
    px[0] = r, px[1] = g, px[2] = b, px[3] = a;
    f.distance[p] = distance;
}

// A deep frame of RGBA whose pixels hold the given samples, flattened.
inline dof3d::Frame deepFrame(int width, int height,
                              const std::vector<std::vector<dof3d::DeepSample>>& samples) {
    dof3d::Frame f = flatFrame(width, height);
    f.deep = true;
    f.distance.clear();
    for (std::size_t p = 0; p < f.pixelCount(); ++p) {
        f.fragments.push_back(dof3d::flattenSamples(samples[p]));
        for (int c = 0; c < 3; ++c)
            f.pixels[p * 4 + std::size_t(c)] = float(f.fragments[p].colour[c]);
        f.pixels[p * 4 + 3] = float(f.fragments[p].alpha);
    }
    return f;
}

inline float at(const dof3d::Frame& f, int x, int y, int c) {
    return f
        .pixels[(std::size_t(y) * std::size_t(f.width()) + std::size_t(x)) * 4 + std::size_t(c)];
}

// Renders `frame` in place in `layers` slabs (1: the effect's own render)
// with the focus at `focus`, sharp to `sharpUntil` (0: no sharp zone) and the
// largest radius `radius`, on `threads`.
inline void render(dof3d::Frame* frame, double focus, double radius, int layers = 8,
                   int threads = 1, double sharpUntil = 0.0) {
    dof3d::EffectPlan plan;
    plan.depth.scale.factor = 1.0;
    plan.depth.scale.focalDepth = -focus;
    plan.depth.scale.focusRangeDepth = -sharpUntil;
    plan.settings.radius = radius;
    plan.settings.method = 2.0;
    plan.settings.focalDepth = -focus;
    plan.settings.focusRangeDepth = -sharpUntil;
    dof3d::TaskPool pool(threads - 1);
    dof3d::FrameRenderContext context;
    context.library = &doftest::effectLibrary();
    context.pool = &pool;
    context.threads = threads;
    double seconds[5];
    std::string error;
    const dof3d::RenderOutcome outcome =
        layers == 1 ? dof3d::renderInOneLayer(frame, plan, context, seconds, &error)
                    : dof3d::renderInSlabs(frame, plan, layers, context, seconds, &error);
    ASSERT_EQ(outcome, dof3d::RenderOutcome::Done) << error;
}

}  // namespace slabtest
