#include "cli/render_notes.h"

#include <cstdio>
#include <string>
#include <vector>

namespace dof3d {

void noteFramePlan(const FrameResult& result, const RenderOptions& options, Progress* progress) {
    std::vector<std::string> notes;
    const std::string& path = result.files.input;
    char text[256];
    if (options.hasFocusAt) {
        std::snprintf(text, sizeof text, ": --focus-at %d,%d: focus distance %.9g",
                      options.focusAtX, options.focusAtY, result.focusDistance);
        notes.push_back(path + text);
    }
    const LensFrameReport& lens = result.lens;
    if (lens.active && lens.fromFile) {
        std::snprintf(text, sizeof text,
                      ": lens from the file: f/%.9g, %.9g mm, sensor %.9g mm wide: radius up to "
                      "%.3g px",
                      lens.lens.fNumber, lens.lens.focalLengthMm, lens.lens.sensorWidthMm,
                      lens.radius);
        notes.push_back(path + text);
    }
    const std::string clamped = clampWarning(lens, path);
    if (!clamped.empty()) notes.push_back(clamped);
    for (const std::string& note : notes) {
        if (progress)
            progress->note(note);
        else
            std::fprintf(stderr, "dof3d: %s\n", note.c_str());
    }
}

}  // namespace dof3d
