// The machine-readable summary of a render run (--json): settings, every
// frame with its status and timings per pass, and totals.
#pragma once

#include <string>
#include <vector>

#include "tool/frame_job.h"
#include "tool/render_options.h"

namespace dof {

struct RunSummary {
    std::vector<FrameResult> frames;
    bool interrupted = false;
    double seconds = 0.0;
};

// One JSON object on one line, ending in a line break.
std::string jsonSummary(const RenderOptions& options, const RunSummary& summary);

// What a run that could not start prints under --json: the command and the
// one-line error, ending in a newline.
std::string jsonError(const std::string& message);

}  // namespace dof
