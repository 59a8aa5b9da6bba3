// What a frame's render says on standard error besides its errors.
#pragma once

#include "cli/progress.h"
#include "cli/render_job.h"
#include "cli/render_options.h"

namespace dof3d {

// Prints what was picked for a planned frame: the focus under --focus-at, a
// lens read from the file, blur held to the effect's limit. Through
// `progress` (above its bar) when not null.
void noteFramePlan(const FrameResult& result, const RenderOptions& options, Progress* progress);

}  // namespace dof3d
