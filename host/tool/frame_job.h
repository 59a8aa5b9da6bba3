// One frame from its files to its output: load, render through the effect
// as the host runs it, write the result (and the radius map) atomically.
#pragma once

#include <string>
#include <vector>

#include "host/Selectors.h"
#include "render/lens_placement.h"
#include "runtime/EffectInstance.h"
#include "tool/progress.h"
#include "tool/render_options.h"
#include "util/frame_sequence.h"
#include "util/task_pool.h"

namespace dof {

enum class FrameStatus { Rendered, Skipped, Failed, Interrupted };

const char* frameStatusName(FrameStatus status);

struct FrameResult {
    FrameFiles files;
    FrameStatus status = FrameStatus::Failed;
    std::string error;  // one line, naming the file
    bool deep = false;
    int width = 0, height = 0;
    std::string workingFormat;            // "8", "10", "12", "16", "float"
    FocusSource focusFrom = FocusSource::File;
    int focusAtX = 0, focusAtY = 0;       // the pixel, under FocusSource::Pixel
    double focusDistance = 0.0;           // in the file's units
    double depthFactor = 0.0;             // file distance to the effect's depth
    double radius = 0.0;                  // the effect's largest blur radius
    LensFrameReport lens;                 // the lens that blurred the frame, if any
    std::string rerender;                 // why an existing output was rendered again
    std::size_t nonFiniteValues = 0;      // colour or alpha values rendered as 0
    std::vector<std::string> blurred;     // views and colour layers
    std::vector<std::string> keptSharp;   // channels left as they were
    bool keptSharpBesidesDepth = false;   // more than the depth channels read
    std::vector<std::string> notWritten;  // what the output's file type cannot hold
    double loadSeconds = 0.0;
    runtime::PassSeconds passSeconds{};
    double writeSeconds = 0.0;
    double totalSeconds = 0.0;
};

// Renders one frame with instances of the effect that `instance` came from,
// on up to options.threads threads of `pool` (null: the calling thread only).
// `progress` may be null. Nothing is written unless the whole render
// succeeded and no stop was asked for.
FrameResult runFrameJob(runtime::EffectInstance& instance, const FrameFiles& files,
                        const RenderOptions& options, Progress* progress, TaskPool* pool = nullptr);

}  // namespace dof
