// The splatting pass on a frame-sized scene (the built-in scene at 1920 x
// 1080: most pixels blurred, edges with partial coverage, glass and layers),
// one thread. Items are taps, the footprint pixels that fragments reach, so
// 1e9 / items_per_second is nanoseconds per tap.
//   BM_SplatLiteral/R   splat_fragment once per fragment, on eight rows
//   BM_SplatBlocked/R/V the engine's pass 3 on the whole frame with the
//                       kernels of vector unit V (1 SSE2, 2 AVX2, 3 AVX-512)
//   BM_RenderSplatFrame/R  a whole render through the runtime, items pixels
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "demo/demo_scene.h"
#include "dof/MaxDOF.h"
#include "dof/MaxDOF_gbuffer.h"
#include "dof/get_radius.h"
#include "dof/splat_walk.h"
#include "kernels/Kernel.h"
#include "runtime/EffectInstance.h"
#include "runtime/EffectLibrary.h"
#include "runtime/RenderSession.h"

namespace {

const dof::runtime::EffectLibrary* effect() {
    static std::string error;
    static std::unique_ptr<dof::runtime::EffectLibrary> library =
        dof::runtime::loadDepthOfField(&error, DOF_BENCH_EFFECTS_DIR);
    return library.get();
}

dof::DemoScene& frame() {
    static dof::DemoScene scene = [] {
        dof::DemoSceneOptions options;
        options.width = 1920;
        options.height = 1080;
        return dof::buildDemoScene(options);
    }();
    return scene;
}

// The scene's fragments in the order the pass visits them, for rows
// [top, bottom), with the radius `radius`.
std::vector<SplatFragment> fragmentsOf(dof::DemoScene& scene, double radius, int top, int bottom) {
    Parameters p{};
    p.radius = radius;
    p.focalDepth = scene.settings.focalDepth;
    p.focusRangeDepth = scene.settings.focusRangeDepth;
    dof::runtime::GBufferSet& g = *scene.gbuffers;
    const GBufferChannel& depth = *g.channel(kGBufferDepth);
    const GBufferChannel* colour = g.channel(kGBufferColourExponent);
    std::vector<SplatFragment> out;
    auto fraction = [&](float d) {
        const double r = get_radius(d, &p);
        return r == r ? r : 0.0;
    };
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < g.width(); ++x) {
            const std::uint8_t coverage = g.coverage(x, y);
            if (coverage == 0) continue;
            SplatFragment f{x, y, 0, 0, {}, {}, {}};
            const double r = radius * fraction(g.depth(x, y));
            f.radiusX = f.radiusY = r;
            gbuffer_colour(g.colour(x, y), true, f.colour);
            gbuffer_opacity(g.transparency(x, y), f.opacity);
            for (double& c : f.coverage) c = byte_fraction(coverage);
            out.push_back(f);
            for (std::uint32_t k = g.layerRange(x, y)[0]; k < g.layerRange(x, y)[1]; ++k) {
                const double rk =
                    radius * fraction(gbuffer_depth(gbuffer_layer_element(depth, y, k)));
                f.radiusX = f.radiusY = rk;
                gbuffer_colour(gbuffer_layer_element(*colour, y, k), true, f.colour);
                gbuffer_opacity(gbuffer_layer_element(*g.channel(kGBufferTransparency), y, k),
                                f.opacity);
                const std::uint8_t* w =
                    gbuffer_layer_element(*g.channel(kGBufferLayerWeight), y, k);
                for (int c = 0; c < 3; ++c) f.coverage[c] = byte_fraction(w[c]);
                out.push_back(f);
            }
        }
    }
    return out;
}

// Footprint pixels inside the frame.
std::int64_t tapsOf(const std::vector<SplatFragment>& fragments, int width, int height) {
    std::int64_t taps = 0;
    for (const SplatFragment& f : fragments) {
        HatShape across, down;
        hat_shape(f.radiusX, &across);
        hat_shape(f.radiusY, &down);
        const std::int64_t x0 = std::max<std::int64_t>(0, f.x - across.radius);
        const std::int64_t x1 = std::min<std::int64_t>(width, f.x + across.radius + 1);
        const std::int64_t y0 = std::max<std::int64_t>(0, f.y - down.radius);
        const std::int64_t y1 = std::min<std::int64_t>(height, f.y + down.radius + 1);
        taps += (x1 - x0) * (y1 - y0);
    }
    return taps;
}

void BM_SplatLiteral(benchmark::State& state) {
    dof::DemoScene& scene = frame();
    const std::vector<SplatFragment> fragments =
        fragmentsOf(scene, double(state.range(0)), 536, 544);
    const QVRect region{0, 0, scene.source->width(), scene.source->height()};
    const std::size_t elements = std::size_t(region.width) * std::size_t(region.height);
    std::vector<std::vector<double>> planes(12, std::vector<double>(elements, 0.0));
    Parameters p{};
    double** slots[12] = {&p.colourSumR,  &p.colourSumG,  &p.colourSumB, &p.opacitySumR,
                          &p.opacitySumG, &p.opacitySumB, &p.transmitR,  &p.transmitG,
                          &p.transmitB,   &p.weightSumR,  &p.weightSumG, &p.weightSumB};
    for (int i = 0; i < 12; ++i) *slots[i] = planes[std::size_t(i)].data();
    IFXFilterInstance instance{};
    instance.renderRegion = region;
    for (auto _ : state)
        for (const SplatFragment& f : fragments) splat_fragment(instance, &p, f);
    state.SetItemsProcessed(state.iterations() * tapsOf(fragments, region.width, region.height));
}
BENCHMARK(BM_SplatLiteral)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

// The scene's settings for splatting at `radius`.
dof::runtime::RenderSettings splatSettings(const dof::DemoScene& scene, double radius) {
    dof::runtime::RenderSettings settings = scene.settings;
    settings.radius = radius;
    settings.method = kMethodSplatting;
    return settings;
}

void BM_SplatBlocked(benchmark::State& state) {
    const SplatVariant variant = SplatVariant(state.range(1));
    if (splat_group_kernels(variant) == nullptr || effect() == nullptr) {
        state.SkipWithError("this processor lacks the vector unit, or no effect");
        return;
    }
    dof::DemoScene& scene = frame();
    const dof::runtime::RenderSettings settings = splatSettings(scene, double(state.range(0)));
    static std::map<int, std::int64_t> taps;
    if (taps.count(int(state.range(0))) == 0)
        taps[int(state.range(0))] =
            tapsOf(fragmentsOf(scene, settings.radius, 0, scene.source->height()),
                   scene.source->width(), scene.source->height());

    dof::runtime::EffectInstance instance(*effect());
    auto destination = dof::runtime::PixelImage::create(
        scene.source->format(), scene.source->width(), scene.source->height());
    instance.describe();
    instance.setup();
    dof::runtime::setRenderParameters(instance, settings);
    // The session fills the record; the passes run in this program's copy of
    // the engine, whose kernels the tuning picks.
    dof::runtime::RenderSession session(instance, *scene.source, *destination, scene.gbuffers.get(),
                                        settings);
    const SplatWalkTuning saved = splat_walk_tuning();
    splat_walk_tuning().variant = variant;
    IFXFilterInstance& record = instance.record();
    MaxDOF_RGBA8 engine(instance.parameters());
    auto pass = [&](std::uint32_t n) {
        record.renderPass = n;
        record.outputRect = record.renderRegion;
        return engine.Render(record);
    };
    pass(kPassAllocateRadiusMap);
    pass(kPassFillRadiusMap);
    for (auto _ : state) {
        state.PauseTiming();
        pass(kPassBuildTables);
        state.ResumeTiming();
        pass(kPassSplat);
    }
    instance.callExecute(kSelectorFinished);
    splat_walk_tuning() = saved;
    state.SetItemsProcessed(state.iterations() * taps[int(state.range(0))]);
}
BENCHMARK(BM_SplatBlocked)->ArgsProduct({{4, 16, 64}, {1, 2, 3}})->Unit(benchmark::kMillisecond);

void BM_RenderSplatFrame(benchmark::State& state) {
    if (effect() == nullptr) {
        state.SkipWithError("no effect");
        return;
    }
    dof::DemoScene& scene = frame();
    const dof::runtime::RenderSettings settings = splatSettings(scene, double(state.range(0)));
    dof::runtime::EffectInstance instance(*effect());
    auto destination = dof::runtime::PixelImage::create(
        scene.source->format(), scene.source->width(), scene.source->height());
    instance.describe();
    instance.setup();
    dof::runtime::setRenderParameters(instance, settings);
    for (auto _ : state) {
        if (!dof::runtime::render(instance, *scene.source, *destination, scene.gbuffers.get(),
                                  settings)
                 .ok) {
            state.SkipWithError("the render failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(scene.source->width()) *
                            scene.source->height());
}
BENCHMARK(BM_RenderSplatFrame)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace
