// Spreading over the aperture, one thread.
//   BM_ApertureFootprint/R    working out the disc's footprint of radius R
//                             (once per quantised radius in a frame)
//   BM_ApertureSpread/R       one fragment of radius R after another into a
//                             band that holds its shape, the footprint made
//                             once; items are fragments, so 1e9 /
//                             items_per_second is ns per fragment (it should
//                             grow with R, not R squared)
//   BM_ApertureFrame/R        a 1920 x 1080 frame, opaque, every pixel at a
//                             depth that blurs it by R (radii spread from
//                             R/2 to R over the rows), through the whole
//                             render: slabs, fill, spread, composite; items
//                             are pixels
#include <benchmark/benchmark.h>

#include <vector>

#include "model/frame.h"
#include "render/aperture_render.h"
#include "render/aperture_spread.h"

namespace {

void BM_ApertureFootprint(benchmark::State& state) {
    const double radius = double(state.range(0)) + 0.3;
    const dof::ApertureShape shape(dof::ApertureSettings{}, 1920, 1080);
    for (auto _ : state) {
        const dof::ApertureFootprint footprint(shape, {}, radius, radius);
        benchmark::DoNotOptimize(footprint.reach());
    }
}
BENCHMARK(BM_ApertureFootprint)->Arg(4)->Arg(16)->Arg(64)->Arg(256);

void BM_ApertureSpread(benchmark::State& state) {
    const double radius = double(state.range(0)) + 0.3;
    const int side = 2 * int(radius) + 8;
    const dof::ApertureShape shape(dof::ApertureSettings{}, side, side);
    const dof::ApertureFootprint footprint(shape, {}, radius, radius);
    dof::SpreadBand band;
    band.reset(side, 0, 0, side);
    const float rgba[4] = {1.0f, 0.5f, 0.25f, 1.0f};
    for (auto _ : state) band.add(side / 2, side / 2, rgba, footprint);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ApertureSpread)->Arg(4)->Arg(16)->Arg(64)->Arg(256);

void BM_ApertureFrame(benchmark::State& state) {
    const int w = 1920, h = 1080;
    const double focus = 10.0;
    dof::Frame frame;
    frame.path = "bench.exr";
    dof::FramePart image;
    image.dataWindow = image.displayWindow = dof::Rect{0, 0, w, h};
    image.channels = {"R", "G", "B", "A"};
    image.values.assign(std::size_t(w) * h * 4, 0.5f);
    for (std::size_t p = 3; p < image.values.size(); p += 4) image.values[p] = 1.0f;
    frame.parts.push_back(image);
    frame.colourChannel[0] = 0, frame.colourChannel[1] = 1, frame.colourChannel[2] = 2;
    frame.alphaChannel = 3;
    frame.distance.resize(std::size_t(w) * h);
    // Twice the focus blurs by the whole radius; from 4/3 of it, by half.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            frame.distance[std::size_t(y) * w + x] = focus * (4.0 / 3 + (2.0 / 3) * y / (h - 1));
    dof::AperturePlan plan;
    plan.blur.depth.scale.focalDepth = -focus;
    plan.blur.focus = dof::FocusDepths{-focus, 0.0};
    plan.blur.radius = double(state.range(0));
    dof::TaskPool pool(0);
    dof::FrameRenderContext context;
    context.pool = &pool;
    context.threads = 1;
    for (auto _ : state) {
        dof::runtime::PassSeconds seconds{};
        dof::RenderedColour out;
        dof::renderAperture(dof::RenderInput(frame), plan, context, &out, &seconds);
        benchmark::DoNotOptimize(out.colour[0].data());
    }
    state.SetItemsProcessed(state.iterations() * w * h);
}
BENCHMARK(BM_ApertureFrame)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
