// Whole renders of the built-in scene through the effect, as the host runs
// them: prepare, the five passes, finished. Items are source pixels, so the
// rates read as pixels per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "demo/demo_scene.h"
#include "runtime/EffectInstance.h"
#include "runtime/EffectLibrary.h"
#include "runtime/RenderSession.h"

namespace {

const dof::runtime::EffectLibrary* effect(std::string* error) {
    static std::string loadError;
    static std::unique_ptr<dof::runtime::EffectLibrary> library =
        dof::runtime::loadDepthOfField(&loadError, DOF_BENCH_EFFECTS_DIR);
    *error = loadError;
    return library.get();
}

// 640 x 360 in 8 bits, built once.
dof::DemoScene& scene() {
    static dof::DemoScene demo = dof::buildDemoScene();
    return demo;
}

void renderFrames(benchmark::State& state, FilterMethod method) {
    std::string error;
    const dof::runtime::EffectLibrary* library = effect(&error);
    dof::DemoScene& demo = scene();
    if (library == nullptr || !demo.source) {
        state.SkipWithError(library == nullptr ? error.c_str() : "no source buffer");
        return;
    }
    dof::runtime::EffectInstance instance(*library);
    auto destination = dof::runtime::PixelImage::create(demo.source->format(), demo.source->width(),
                                                        demo.source->height());
    dof::runtime::RenderSettings settings = demo.settings;
    settings.radius = double(state.range(0));
    settings.method = method;
    if (!destination || !instance.describe() || !instance.setup() ||
        !dof::runtime::setRenderParameters(instance, settings)) {
        state.SkipWithError("the effect could not be set up");
        return;
    }
    for (auto _ : state) {
        const dof::runtime::RenderReport report = dof::runtime::render(
            instance, *demo.source, *destination, demo.gbuffers.get(), settings);
        if (!report.ok) {
            state.SkipWithError("the render failed");
            break;
        }
        benchmark::DoNotOptimize(destination->pixel(0, 0));
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(demo.source->width()) *
                            demo.source->height());
}

// Box averaging costs the same per pixel whatever the radius.
void BM_RenderBox(benchmark::State& state) { renderFrames(state, kMethodBoxAverage); }
BENCHMARK(BM_RenderBox)->RangeMultiplier(2)->Range(2, 64)->Unit(benchmark::kMillisecond);

// Splatting grows with the square of the radius: past 16 a frame takes
// many seconds.
void BM_RenderSplat(benchmark::State& state) { renderFrames(state, kMethodSplatting); }
BENCHMARK(BM_RenderSplat)->RangeMultiplier(2)->Range(2, 16)->Unit(benchmark::kMillisecond);

}  // namespace
