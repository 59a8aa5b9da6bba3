// Which frames of a run to render. A farm reruns chunks of a sequence, so an
// existing output is skipped when it is whole, no older than its input,
// of a size its input gives and records the same settings as this run, and
// rendered again otherwise, which is said.
#pragma once

#include <cstddef>
#include <vector>

#include "tool/json_summary.h"
#include "tool/render_options.h"
#include "util/frame_sequence.h"

namespace dof {

// Adds a result for every frame of `files` to `summary`: skipped, or to be
// rendered with its index appended to `work` (and, for an output rendered
// again, why, also on standard error). Single images are always rendered.
void planFrames(const RenderOptions& options, const std::vector<FrameFiles>& files, bool sequence,
                RunSummary* summary, std::vector<std::size_t>* work);

}  // namespace dof
