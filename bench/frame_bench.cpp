// Whole frames through dof3d's render: the built-in scene at 1920 x 1080 (a
// ground plane from the camera to a far wall, spheres near and far, bright
// lamps) focused on its card, in the effect's single render and in depth
// slabs, on one thread and on two. Items are frame pixels, so the rates read
// as pixels per second; the time of a run is a frame's. DOF_BENCH_EFFECTS
// names another effects folder to measure (a build of another branch).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "demo/demo_frame.h"
#include "render/frame_render.h"
#include "runtime/EffectLibrary.h"

namespace {

const dof::runtime::EffectLibrary* effect(std::string* error) {
    static std::string loadError;
    static std::unique_ptr<dof::runtime::EffectLibrary> library = [] {
        const char* other = std::getenv("DOF_BENCH_EFFECTS");
        return dof::runtime::loadDepthOfField(&loadError, other ? other : DOF_BENCH_EFFECTS_DIR);
    }();
    *error = loadError;
    return library.get();
}

const dof::Frame& scene() {
    static const dof::Frame frame = dof::demoFrame(1920, 1080);
    return frame;
}

// Arguments: radius, threads, slabs (1: the effect's single render).
void BM_Frame(benchmark::State& state) {
    std::string error;
    const dof::runtime::EffectLibrary* library = effect(&error);
    if (library == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    const int threads = int(state.range(1)), slabs = int(state.range(2));
    dof::EffectPlan plan;
    plan.depth.scale.factor = 1.0;
    plan.depth.scale.focalDepth = -6.0;
    plan.depth.scale.focusRangeDepth = -7.0;
    plan.settings.radius = double(state.range(0));
    plan.settings.method = kMethodSplatting;
    plan.settings.focalDepth = -6.0;
    plan.settings.focusRangeDepth = -7.0;
    dof::TaskPool pool(threads - 1);
    dof::FrameRenderContext context;
    context.library = library;
    context.pool = &pool;
    context.threads = threads;
    const dof::RenderInput input(scene());
    for (auto _ : state) {
        dof::RenderedColour result;
        dof::runtime::PassSeconds seconds;
        const dof::RenderOutcome outcome =
            slabs == 1 ? dof::renderSingle(input, plan, context, &result, &seconds, &error)
                       : dof::renderInSlabs(input, plan, slabs, context, &result, &seconds, &error);
        if (outcome != dof::RenderOutcome::Done) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * 1920 * 1080);
}
BENCHMARK(BM_Frame)
    ->ArgNames({"radius", "threads", "slabs"})
    ->ArgsProduct({{16, 64}, {1, 2}, {1, 8}})
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
