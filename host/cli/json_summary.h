// The machine-readable summary of a render run (--json): settings, every
// frame with its status and timings per pass, and totals.
#pragma once

#include <string>
#include <vector>

#include "cli/render_job.h"
#include "cli/render_options.h"

namespace dof3d {

struct RunSummary {
    std::vector<FrameResult> frames;
    bool interrupted = false;
    double seconds = 0.0;
};

// A JSON string literal: quotes, backslashes and control characters escaped.
std::string jsonString(const std::string& text);
// A JSON number that reads back as the same double; null for NaN and infinities.
std::string jsonNumber(double value);

// One JSON object, ending in a newline.
std::string jsonSummary(const RenderOptions& options, const RunSummary& summary);

// What a run that could not start prints under --json: the command and the
// one-line error, ending in a newline.
std::string jsonError(const std::string& message);

}  // namespace dof3d
