// The bands of one render, each on its own effect instance, run on a frame's
// threads; what they report becomes the frame's outcome.
#pragma once

#include <string>
#include <vector>

#include "render/band_render.h"
#include "render/frame_render.h"

namespace dof {

struct RenderBuffers {
    runtime::PixelImage* source = nullptr;
    runtime::PixelImage* destination = nullptr;  // every band writes its own rows
    runtime::GBufferSet* gbuffers = nullptr;
};

// One band's render: the buffers of the render it is part of, and its work.
struct BandTask {
    Band band;
    double work = 0.0;
    RenderBuffers buffers;
};

// Renders every band, of one render or of several, the largest first, and adds the seconds of their
// passes to `passSeconds`. Interrupted when a stop was asked for; failed,
// with `error` naming `path`, when the effect could not start or a pass
// failed.
RenderOutcome renderBands(std::vector<BandTask> tasks, const runtime::RenderSettings& settings,
                          const FrameRenderContext& context, const std::string& path,
                          runtime::PassSeconds* passSeconds, std::string* error);

}  // namespace dof
