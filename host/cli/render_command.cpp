// dof3d render: depth of field on rendered frames (flat images with depth,
// deep images, sequences) through the effect, as a compositing host runs it.
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/thread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#include "cli/commands.h"
#include "cli/error_line.h"
#include "cli/file_identity.h"
#include "cli/frame_sequence.h"
#include "cli/interrupt.h"
#include "cli/json_summary.h"
#include "cli/progress.h"
#include "cli/render_job.h"
#include "cli/render_options.h"
#include "runtime/EffectInstance.h"
#include "runtime/EffectLibrary.h"

namespace dof3d {

namespace {

// Exit statuses besides 0 and the 128 + signal of an interrupted run.
constexpr int kExitFramesFailed = 1;
constexpr int kExitBadArguments = 2;

// One frame, with whatever a library throws (no memory, no thread to be
// had under a memory limit) failing that frame alone, as one line.
FrameResult renderFrameCaught(dofrt::EffectInstance& instance, const FrameFiles& files,
                              const RenderOptions& options, Progress* progress) {
    std::string why;
    try {
        return renderFrame(instance, files, options, progress);
    } catch (const std::bad_alloc&) {
        why = "out of memory";
    } catch (const std::system_error& e) {
        const bool noResources = e.code() == std::errc::resource_unavailable_try_again ||
                                 e.code() == std::errc::not_enough_memory;
        why = noResources ? "out of memory or threads (" + oneLine(e.what()) + ")"
                          : oneLine(e.what());
    } catch (const std::exception& e) {
        why = oneLine(e.what());
    }
    FrameResult result;
    result.files = files;
    result.status = FrameStatus::Failed;
    result.error = files.input + ": " + why;
    return result;
}

// Renders `work` (indices into `results`) `jobs` frames at a time, one
// effect instance each, taking frames in order as workers come free. The
// workers beyond the calling thread run on a thread pool of their own.
void renderFrames(const dofrt::EffectLibrary& library, const RenderOptions& options,
                  const std::vector<std::size_t>& work, std::vector<FrameResult>& results,
                  Progress& progress) {
    std::atomic<std::size_t> next{0};
    const auto worker = [&] {
        dofrt::EffectInstance instance(library);
        std::string startError;
        const bool ready = instance.start(&startError);
        for (std::size_t i = next++; i < work.size(); i = next++) {
            FrameResult& result = results[work[i]];
            if (ready) {
                result = renderFrameCaught(instance, result.files, options, &progress);
            } else {
                result.status = FrameStatus::Failed;
                result.error = startError;
            }
            progress.frameDone(result.files.frame);
        }
    };
    const int helpers = int(std::min<std::size_t>(std::size_t(options.jobs), work.size())) - 1;
    if (helpers <= 0) {
        worker();
        return;
    }
    OIIO::thread_pool pool(helpers);
    std::vector<std::future<void>> running;
    for (int h = 0; h < helpers; ++h) running.push_back(pool.push([&](int) { worker(); }));
    worker();
    for (std::future<void>& r : running) r.wait();
}

// The frames whose output exists are skipped in a sequence without
// --overwrite: a farm can rerun a chunk.
RunSummary plannedFrames(const RenderOptions& options, const std::vector<FrameFiles>& files,
                         std::vector<std::size_t>* work) {
    RunSummary summary;
    for (const FrameFiles& f : files) {
        FrameResult result;
        result.files = f;
        if (!options.frames.empty() && !options.overwrite && OIIO::Filesystem::exists(f.output))
            result.status = FrameStatus::Skipped;
        else
            work->push_back(summary.frames.size());
        summary.frames.push_back(result);
    }
    return summary;
}

// One line per failed frame and per rendered frame that had values the
// effect cannot take, in frame order; the count of each status.
void reportFrames(const RunSummary& summary, int counts[4]) {
    for (const FrameResult& f : summary.frames) {
        ++counts[int(f.status)];
        if (f.status == FrameStatus::Failed) printError(f.error);
        if (f.status == FrameStatus::Rendered && f.nonFiniteValues > 0)
            printError("warning: " + f.files.input + ": " + std::to_string(f.nonFiniteValues) +
                       (f.nonFiniteValues == 1 ? " colour or alpha value was"
                                               : " colour or alpha values were") +
                       " NaN or infinite, rendered as 0");
    }
}

int runRender(const RenderArguments& args) {
    const auto start = std::chrono::steady_clock::now();
    RenderOptions options;
    std::string error;
    if (!parseRenderOptions(args, &options, &error)) {
        printError(error);
        return kExitBadArguments;
    }
    const std::vector<FrameFiles> files = expandFrames(
        options.frames, options.input, options.depthFile, options.output, options.cocMap);
    // Refused before anything is rendered: an output that would replace an
    // input or another output.
    error = outputClash(files, !options.frames.empty());
    if (!error.empty()) {
        printError(error);
        return kExitBadArguments;
    }
    auto library = dofrt::loadDepthOfField(&error, options.effectsDir);
    if (!library) {
        printError(error);
        return kExitFramesFailed;
    }
    std::vector<std::size_t> work;
    RunSummary summary = plannedFrames(options, files, &work);

    installInterruptHandlers();
    {
        Progress progress(!options.quiet && Progress::stderrIsTerminal(), int(work.size()));
        renderFrames(*library, options, work, summary.frames, progress);
    }
    restoreInterruptHandlers();
    summary.interrupted = interruptRequested();
    summary.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    int counts[4] = {0, 0, 0, 0};
    reportFrames(summary, counts);
    if (options.json) std::fputs(jsonSummary(options, summary).c_str(), stdout);
    if (!options.frames.empty()) {
        std::fprintf(stderr, "dof3d: %d rendered, %d skipped (output exists), %d failed",
                     counts[int(FrameStatus::Rendered)], counts[int(FrameStatus::Skipped)],
                     counts[int(FrameStatus::Failed)]);
        if (counts[int(FrameStatus::Interrupted)] > 0)
            std::fprintf(stderr, ", %d interrupted", counts[int(FrameStatus::Interrupted)]);
        std::fputc('\n', stderr);
    }
    if (summary.interrupted) {
        // A signal that came after the last frame was written stopped nothing.
        printError(counts[int(FrameStatus::Interrupted)] > 0
                       ? "interrupted: frames in progress were not written"
                       : "interrupted after every frame was written");
        return interruptExitStatus();
    }
    return counts[int(FrameStatus::Failed)] > 0 ? kExitFramesFailed : 0;
}

}  // namespace

void addRenderCommand(CLI::App& app) {
    CLI::App* cmd = app.add_subcommand(
        "render",
        "Depth of field on a rendered frame or sequence with its depth (EXR Z, a depth "
        "image, or deep EXR)");
    // The options live as long as the callback that reads them, owned by the app.
    auto a = std::make_shared<RenderArguments>();
    cmd->add_option("input", a->input, "Input image; #### or %04d for a sequence");
    cmd->add_option("-o,--output", a->output, "Output image; #### or %04d for a sequence");
    cmd->add_option("--depth", a->depthFile, "Separate depth image (same size as the input)");
    cmd->add_option("--depth-channel", a->depthChannel, "Depth channel name (default: Z, depth.Z)");
    cmd->add_option(
        "--depth-convention", a->depthConvention,
        "distance (positive camera distance), negative (camera-space z) or inverse (1/z)");
    cmd->add_option("--no-hit", a->noHit,
                    "Where pixels that hit nothing go: far (fully blurred) or focus (kept sharp)");
    cmd->add_option("--no-hit-above", a->noHitAbove,
                    "Distances at or above this mean nothing was hit (default 1e9)");
    cmd->add_option("--focus", a->focus, "Focus depth, in the file's depth units and convention");
    cmd->add_option("--focus-at", a->focusAt, "Focus on the depth under pixel X,Y");
    cmd->add_option("--sharp-until", a->sharpUntil,
                    "Far end of the zone kept sharp behind the focus");
    cmd->add_option("--radius", a->radius, "Largest blur radius in pixels, 0 to 64 (default 8)");
    cmd->add_option("--method", a->method, "box (box averaging) or splat (splatting, default)");
    cmd->add_option("--pixel-aspect", a->pixelAspect, "Pixel aspect ratio (default: the file's)");
    cmd->add_option("--scale", a->scale,
                    "Render scale S or SX,SY applied to the radius (default 1)");
    cmd->add_option("--format", a->format, "Working pixel format: auto, 8, 10, 12, 16 or float");
    cmd->add_option("-d,--data-type", a->dataType,
                    "Output data type: uint8, uint16, half or float (default: the input's)");
    cmd->add_flag("--rgba-only", a->rgbaOnly, "Write only R, G, B and A");
    cmd->add_option("--frames", a->frames, "Frames of a sequence, e.g. 1001-1100 or 1,5,10-20x2");
    cmd->add_option("-j,--jobs", a->jobs, "Frames rendered at a time (default 1)");
    cmd->add_flag("--overwrite", a->overwrite, "Render sequence frames whose output exists");
    cmd->add_option("--coc-map", a->cocMap, "Also write the blur radius map as a picture");
    cmd->add_flag("--json", a->json, "Print a JSON summary on standard output");
    cmd->add_flag("-q,--quiet", a->quiet, "No progress bar");
    cmd->add_option("--effects", a->effectsDir, "Effects folder (default: beside this program)");
    cmd->callback([a] { exitStatus() = runRender(*a); });
}

}  // namespace dof3d
