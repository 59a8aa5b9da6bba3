// One render of the effect over a render input: the effect's own single
// render (byte for byte what a host gets, on as many bands as there are
// threads) or depth slabs composited front to back.
#pragma once

#include <string>

#include "render/effect_buffers.h"
#include "render/render_input.h"
#include "runtime/EffectLibrary.h"
#include "runtime/RenderSession.h"
#include "util/task_pool.h"

namespace dof {

enum class RenderOutcome { Done, Failed, Interrupted };

// Where a render tells its work as it goes (the progress bar); called from
// any of the frame's threads.
class WorkReport {
public:
    // Announces the whole work of a frame; a later call replaces it.
    virtual void frameWork(int frame, double totalWork) = 0;
    // Adds work done on a frame.
    virtual void addWork(int frame, double work) = 0;

protected:
    ~WorkReport() = default;
};

// What a frame's renders work with besides the frame.
struct FrameRenderContext {
    const runtime::EffectLibrary* library = nullptr;
    TaskPool* pool = nullptr;  // null: everything on the calling thread
    int threads = 1;           // threads this frame may use
    WorkReport* progress = nullptr;
    int frameNumber = 0;
    // Bytes the buffers of a frame's depth slabs may take at once; 0: what
    // suits the threads (see slab_render.cpp).
    double slabMemory = 0.0;
};

// How the effect renders the frame: working format, depths and parameters
// (the region and rectangles are worked out here).
struct EffectPlan {
    Method method = Method::Splat;
    QVBitmapType format = kQVBitmapRGBAFloat;
    // Slabs are composited: float unless a format was asked for.
    QVBitmapType slabFormat = kQVBitmapRGBAFloat;
    DepthPlacement depth;
    runtime::RenderSettings settings;
};

// The effect's single render of the input, in bands across its longer side
// that give the same bytes as one instance: splatting always, box averaging
// in the integer formats where its summed-area tables are exact. `passSeconds`
// receives the time spent in each pass, summed over bands.
RenderOutcome renderSingle(const RenderInput& input, const EffectPlan& plan,
                           const FrameRenderContext& context, RenderedColour* result,
                           runtime::PassSeconds* passSeconds, std::string* error);

// Splatting in `count` depth slabs composited front to back, each slab a
// render of the effect on as many bands as suit the threads; `passSeconds`
// sums the passes of every render.
RenderOutcome renderInSlabs(const RenderInput& input, const EffectPlan& plan, int count,
                            const FrameRenderContext& context, RenderedColour* result,
                            runtime::PassSeconds* passSeconds, std::string* error);

// Whether box averaging in `format` over `pixels` pixels gives the same bytes
// in bands as in one instance: its tables hold whole numbers, exact in a
// double while twice the largest sum stays below 2^53.
bool boxTablesExact(QVBitmapType format, double pixels);

}  // namespace dof
