#include "tool/render_notes.h"

#include <cstdio>
#include <string>
#include <vector>

namespace dof {

namespace {

std::string listed(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    return list;
}

void print(const std::vector<std::string>& notes, Progress* progress) {
    for (const std::string& note : notes) {
        if (progress)
            progress->note(note);
        else
            std::fprintf(stderr, "dof3d: %s\n", note.c_str());
    }
}

}  // namespace

void noteFramePlan(const FrameResult& result, Progress* progress) {
    std::vector<std::string> notes;
    const std::string& path = result.files.input;
    char text[256];
    if (result.focusFrom == FocusSource::Pixel) {
        std::snprintf(text, sizeof text, ": --focus-at %d,%d: focus distance %.9g",
                      result.focusAtX, result.focusAtY, result.focusDistance);
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
    if (!lens.incompleteFileLens.empty()) notes.push_back("warning: " + lens.incompleteFileLens);
    const std::string clamped = clampWarning(lens, path);
    if (!clamped.empty()) notes.push_back(clamped);
    // Depth alone is not news: every frame has it.
    if (result.keptSharpBesidesDepth)
        notes.push_back(path + ": kept sharp: " + listed(result.keptSharp));
    print(notes, progress);
}

void noteNotWritten(const FrameResult& result, Progress* progress) {
    if (result.notWritten.empty()) return;
    print({result.files.output + ": left out of this file type: " + listed(result.notWritten)},
          progress);
}

}  // namespace dof
