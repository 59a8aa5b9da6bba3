#include "tool/frame_skipping.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "io/render_settings_metadata.h"

namespace dof {

void planFrames(const RenderOptions& options, const std::vector<FrameFiles>& files, bool sequence,
                RunSummary* summary, std::vector<std::size_t>* work) {
    for (const FrameFiles& f : files) {
        // Each frame against its own values, keyed ones at its number.
        const std::string settings = canonicalSettings(options, frameSettings(options, f.frame));
        FrameResult result;
        result.files = f;
        std::error_code unknown;
        if (sequence && !options.overwrite && std::filesystem::exists(f.output, unknown)) {
            result.rerender = reasonToRenderAgain(f.output, f.input, f.depth, settings);
            if (result.rerender.empty())
                result.status = FrameStatus::Skipped;
            else
                std::fprintf(stderr, "dof3d: %s: %s; rendering it again\n", f.output.c_str(),
                             result.rerender.c_str());
        }
        if (result.status != FrameStatus::Skipped) work->push_back(summary->frames.size());
        summary->frames.push_back(result);
    }
}

}  // namespace dof
