// What a frame's render says on standard error besides its errors.
#pragma once

#include "tool/frame_job.h"
#include "tool/progress.h"
#include "tool/render_options.h"

namespace dof {

// Prints what was picked for a planned frame: the focus under --focus-at, a
// lens read from the file, blur held to the effect's limit. Through
// `progress` (above its bar) when not null.
// Channels kept sharp are listed on one line when more than the depth is.
void noteFramePlan(const FrameResult& result, Progress* progress);

// Names on one line what of the frame its output's file type left out.
void noteNotWritten(const FrameResult& result, Progress* progress);

}  // namespace dof
