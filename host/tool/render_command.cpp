// dof3d render: depth of field on rendered frames (flat images with depth,
// deep images, sequences) through the effect, as a compositing host runs it.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#include "runtime/EffectInstance.h"
#include "runtime/EffectLibrary.h"
#include "tool/commands.h"
#include "tool/frame_job.h"
#include "tool/frame_skipping.h"
#include "tool/json_summary.h"
#include "tool/progress.h"
#include "tool/render_options.h"
#include "util/error_line.h"
#include "util/file_identity.h"
#include "util/frame_sequence.h"
#include "util/interrupt.h"
#include "util/task_pool.h"

namespace dof {

namespace {

// Exit statuses besides 0 and the 128 + signal of an interrupted run.
constexpr int kExitFramesFailed = 1;
constexpr int kExitBadArguments = 2;

// One frame, with whatever a library throws (no memory, no thread to be
// had under a memory limit) failing that frame alone, as one line.
FrameResult renderFrameCaught(runtime::EffectInstance& instance, const FrameFiles& files,
                              const RenderOptions& options, Progress* progress, TaskPool* pool) {
    std::string why;
    try {
        return runFrameJob(instance, files, options, progress, pool);
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
// effect instance each, taking frames in order as threads come free; each
// frame renders on up to options.threads threads of its own.
void renderFrames(const runtime::EffectLibrary& library, const RenderOptions& options,
                  const std::vector<std::size_t>& work, std::vector<FrameResult>& results,
                  Progress& progress) {
    const int jobs = int(std::min<std::size_t>(std::size_t(options.jobs), work.size()));
    TaskPool framePool(jobs - 1);
    // Each frame's own thread is one of its threads.
    TaskPool renderPool(jobs * (options.threads - 1));
    framePool.run(int(work.size()), jobs, [&](int i) {
        FrameResult& result = results[work[std::size_t(i)]];
        runtime::EffectInstance instance(library);
        std::string startError;
        if (!instance.start(&startError)) {
            result.status = FrameStatus::Failed;
            result.error = startError;
        } else {
            const std::string rerender = result.rerender;
            result = renderFrameCaught(instance, result.files, options, &progress, &renderPool);
            result.rerender = rerender;
        }
        progress.frameDone(result.files.frame);
    });
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

// The line that ends a run: what became of the frames, and on a terminal
// the method and the time taken.
std::string summaryLine(const int counts[4], const RenderOptions& options, double seconds,
                        bool timed) {
    std::string line = std::to_string(counts[int(FrameStatus::Rendered)]) + " rendered, " +
                       std::to_string(counts[int(FrameStatus::Skipped)]) +
                       " skipped (made with these settings), " +
                       std::to_string(counts[int(FrameStatus::Failed)]) + " failed";
    if (counts[int(FrameStatus::Interrupted)] > 0)
        line += ", " + std::to_string(counts[int(FrameStatus::Interrupted)]) + " interrupted";
    if (timed) {
        char text[64];
        std::snprintf(text, sizeof text, " (%s, %.1f s)", methodName(options.method), seconds);
        line += text;
    }
    return line;
}

int runRender(const RenderArguments& args) {
    const auto start = std::chrono::steady_clock::now();
    // Ctrl-C is heard from the start: asked while the run is set up, it ends
    // the run before any frame.
    installInterruptHandlers();
    struct RestoreHandlers {
        ~RestoreHandlers() { restoreInterruptHandlers(); }
    } restoreHandlers;
    RenderOptions options;
    std::string error;
    if (!parseRenderOptions(args, &options, &error)) {
        printError(error);
        if (args.json) std::fputs(jsonError(error).c_str(), stdout);
        return kExitBadArguments;
    }
    const bool sequence = !options.frames.empty();
    if (!options.framesFound.empty())
        std::fprintf(stderr, "dof3d: %s: frames found: %s\n", options.input.c_str(),
                     options.framesFound.c_str());
    if (options.focusFrom == FocusSource::File)
        std::fputs("dof3d: no --focus or --focus-at: each frame focuses at its file's focus "
                   "attribute\n",
                   stderr);
    const std::vector<FrameFiles> files = expandFrames(
        options.frames, options.input, options.depthFile, options.output, options.cocMap);
    // Refused before anything is rendered: an output that would replace an
    // input or another output.
    error = outputClash(files, sequence);
    if (!error.empty()) {
        printError(error);
        return kExitBadArguments;
    }
    auto library = runtime::loadDepthOfField(&error, options.effectsDir);
    if (!library) {
        printError(error);
        if (args.json) std::fputs(jsonError(error).c_str(), stdout);
        return kExitFramesFailed;
    }
    std::vector<std::size_t> work;
    RunSummary summary;
    planFrames(options, files, sequence, &summary, &work);
    // Every thread of the run is started before the first frame.
    const long jobs = long(std::min<std::size_t>(std::size_t(options.jobs), work.size()));
    error = threadRoomProblem(jobs - 1 + jobs * (options.threads - 1));
    if (!error.empty()) {
        printError(error);
        if (args.json) std::fputs(jsonError(error).c_str(), stdout);
        return kExitFramesFailed;
    }

    const bool bar = !options.quiet && Progress::stderrIsTerminal();
    Progress progress(bar, int(work.size()), methodName(options.method));
    renderFrames(*library, options, work, summary.frames, progress);
    summary.interrupted = interruptRequested();
    summary.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    int counts[4] = {0, 0, 0, 0};
    // Failures and warnings are listed once the bar is gone, each on its own line.
    progress.finish();
    reportFrames(summary, counts);
    if (options.json) std::fputs(jsonSummary(options, summary).c_str(), stdout);
    if (sequence || bar) printError(summaryLine(counts, options, summary.seconds, bar));
    if (summary.interrupted) {
        // A signal that came after the last frame was written stopped nothing.
        printError(counts[int(FrameStatus::Interrupted)] > 0
                       ? "interrupted: frames in progress were not written"
                       : "interrupted after every frame was written");
        return interruptExitStatus();
    }
    return counts[int(FrameStatus::Failed)] > 0 ? kExitFramesFailed : 0;
}

// The files, and how their depth is read.
void addFileOptions(CLI::App* cmd, RenderArguments* a) {
    cmd->add_option("input", a->input, "Input image; #### or %04d for a sequence")->type_name("IN");
    cmd->add_option("-o,--output", a->output,
                    "Output image; #### or %04d for a sequence. Its file type follows the "
                    "extension: PNG, JPEG and 8/16-bit TIFF hold colour encoded for display "
                    "(--colorspace), OpenEXR and float TIFF hold linear colour")
        ->type_name("OUT");
    cmd->add_option("--depth", a->depthFile, "Separate depth image (same size as the input)")
        ->type_name("FILE");
    cmd->add_option("--depth-channel", a->depthChannel, "Depth channel (default: Z, then depth.Z)")
        ->type_name("NAME");
    cmd->add_option("--depth-convention", a->depthConvention,
                    "How the file stores depth: distance (positive camera distance), negative "
                    "(camera-space z) or inverse (1/z)")
        ->type_name("C")
        ->capture_default_str();
    cmd->add_option("--depth-unit", a->depthUnit,
                    "Unit of the file's distances, for a lens: m, cm, mm, in or ft")
        ->type_name("U")
        ->capture_default_str();
    cmd->add_option("--no-hit", a->noHit,
                    "Where pixels that hit nothing go: far (fully blurred) or focus (kept sharp)")
        ->type_name("far|focus")
        ->capture_default_str();
    cmd->add_option("--no-hit-above", a->noHitAbove,
                    "Distances at or above this mean nothing was hit")
        ->type_name("D")
        ->capture_default_str();
}

// The focus, the blur and the method.
void addBlurOptions(CLI::App* cmd, RenderArguments* a) {
    cmd->add_option("--focus", a->focus,
                    "Focus depth, in the file's depth units and convention, or keys "
                    "FRAME:D,FRAME:D,... (default: the file's focus attribute)")
        ->type_name("D");
    cmd->add_option("--focus-at", a->focusAt,
                    "Focus on the depth under pixel X,Y, or keys FRAME:X,Y,FRAME:X,Y,...")
        ->type_name("X,Y");
    cmd->add_option("--focus-file", a->focusFile,
                    "Keys of the focus depth from a file: FRAME D a line, # comments")
        ->type_name("FILE");
    cmd->add_option("--focus-at-file", a->focusAtFile,
                    "Keys of the focus pixel from a file (a track): FRAME X Y a line")
        ->type_name("FILE");
    cmd->add_option("--focus-interp", a->focusInterpolation,
                    "Between keys: linear, or smooth (eases out of and into each key, never "
                    "overshoots)")
        ->type_name("linear|smooth")
        ->default_str("linear");
    cmd->add_option("--sharp-until", a->sharpUntil,
                    "Far end of the zone kept sharp behind the focus")
        ->type_name("D");
    cmd->add_option("--radius", a->radius,
                    "Largest blur radius in pixels (0 to 64 for box and splat); blur grows with "
                    "|1 - depth/focus| (default 8 without a lens)")
        ->type_name("PX");
    cmd->add_option("--fstop", a->fstop,
                    "Lens f-number, or keys FRAME:N,...: blur as a thin lens does (default: the "
                    "file's aperture attribute)")
        ->type_name("N");
    cmd->add_option("--focal-length", a->focalLength,
                    "Lens focal length in mm, or keys FRAME:MM,... (default: the file's "
                    "pinholeFocalLength or nominalFocalLength attribute)")
        ->type_name("MM");
    cmd->add_option("--sensor-width", a->sensorWidth,
                    "Sensor width in mm, spanning the image's width (default: the file's "
                    "sensorOverallDimensions attribute)")
        ->type_name("MM");
    cmd->add_option("--method", a->method,
                    "aperture (every fragment spread evenly over the image of the lens's "
                    "aperture), splat (the effect's splatting in depth slabs) or box (the "
                    "effect's box averaging); default aperture, splat with --slabs 1")
        ->type_name("aperture|splat|box");
    cmd->add_option("--aperture", a->aperture,
                    "Shape of the aperture: disc, or blades:N, a polygon of 3 to 16 blades")
        ->type_name("disc|blades:N")
        ->default_str("disc");
    cmd->add_option("--blade-rotation", a->bladeRotation,
                    "Rotation of the blades, degrees counter-clockwise from a corner at the right")
        ->type_name("DEG")
        ->default_str("0");
    cmd->add_option("--blade-curvature", a->bladeCurvature,
                    "Curvature of the blades: 0 straight to 1 round")
        ->type_name("C")
        ->default_str("0");
    cmd->add_option("--anamorphic", a->anamorphic,
                    "Anamorphic squeeze of the aperture: its height over its width, 0.25 to 4")
        ->type_name("S")
        ->default_str("1");
    cmd->add_option("--cats-eye", a->catsEye,
                    "Optical vignetting: toward the corners the aperture is cut by a disc moved "
                    "this many radii toward the centre, 0 to 2")
        ->type_name("A")
        ->default_str("0");
    cmd->add_option("--aperture-image", a->apertureImage,
                    "A grey picture of the aperture in place of its shape: the circle of "
                    "confusion touches the picture's edges (slower: spread by FFT)")
        ->type_name("FILE");
    cmd->add_option("--pixel-aspect", a->pixelAspect, "Pixel aspect ratio (default: the file's)")
        ->type_name("A");
    cmd->add_option("--scale", a->scale, "Render scale applied to the radius")
        ->type_name("S|SX,SY")
        ->default_str("1");
}

// The working format and what the output holds.
void addOutputOptions(CLI::App* cmd, RenderArguments* a) {
    cmd->add_option("--format", a->format, "Working pixel format: auto, 8, 10, 12, 16 or float")
        ->type_name("F")
        ->capture_default_str();
    cmd->add_option("-d,--data-type", a->dataType,
                    "Output data type: uint8, uint16, half or float (default: the input's, "
                    "per channel, as far as the file type stores it)")
        ->type_name("T");
    cmd->add_flag("--rgba-only", a->rgbaOnly, "Write only R, G, B and A");
    cmd->add_option("--colorspace", a->colourSpace,
                    "Colour space of integer (display-referred) pixels, read and written; "
                    "OpenColorIO's names where $OCIO names a configuration")
        ->type_name("NAME")
        ->capture_default_str();
}

// Sequences, farm tasks, threads, slabs and what is printed.
void addRunOptions(CLI::App* cmd, RenderArguments* a) {
    cmd->add_option("--frames", a->frames,
                    "Frames of a sequence, e.g. 1001-1100 or 1,5,10-20x2 (default: those whose "
                    "input is there)")
        ->type_name("LIST");
    cmd->add_option("--chunk", a->chunk,
                    "Frames per farm task: the list cut into chunks of N frames, only chunk "
                    "--task is rendered")
        ->type_name("N");
    cmd->add_option("--task", a->task,
                    "Which chunk of --chunk frames, from 0 (default: $SLURM_ARRAY_TASK_ID)")
        ->type_name("N");
    cmd->add_option("-j,--jobs", a->jobs, "Frames rendered at a time")
        ->type_name("N")
        ->capture_default_str();
    cmd->add_option("--threads", a->threads,
                    "Threads per frame, each rendering bands or tiles of it (default: the "
                    "machine's cores shared among the jobs)")
        ->type_name("N");
    cmd->add_option("--slabs,--layers", a->slabs,
                    "Depth slabs, composited front to back; with splatting, 1 is the effect's "
                    "own single render (--layers is the same option; default 16 for the "
                    "aperture, 8 for splatting)")
        ->type_name("N");
    cmd->add_flag("--overwrite", a->overwrite,
                  "Render sequence frames whose output exists (otherwise those made with the same "
                  "settings are skipped)");
    cmd->add_option("--coc-map", a->cocMap,
                    "Also write the circle of confusion: a float channel coc (signed radius in "
                    "pixels) in an OpenEXR, an 8-bit picture in other file types")
        ->type_name("FILE");
    cmd->add_option("--coc-channel", a->cocChannel,
                    "Add the circle of confusion to the output as a float channel of this name")
        ->type_name("NAME");
    cmd->add_option("--coc-scale", a->cocScale,
                    "Blur in pixels at 0 and 255 of an 8-bit --coc-map (128 is in focus)")
        ->type_name("PX")
        ->default_str("64");
    cmd->add_flag("--json", a->json, "Print a JSON summary on standard output");
    cmd->add_flag("-q,--quiet", a->quiet, "No progress bar");
    cmd->add_option("--effects", a->effectsDir, "Effects folder (default: beside this program)")
        ->type_name("DIR");
}

}  // namespace

void addRenderCommand(CLI::App& app) {
    CLI::App* cmd = app.add_subcommand(
        "render",
        "Depth of field on a rendered frame or sequence with its depth (EXR Z, a depth "
        "image, or deep EXR)");
    // The options live as long as the callback that reads them, owned by the app.
    auto a = std::make_shared<RenderArguments>();
    // Added in the order the help lists them.
    addFileOptions(cmd, a.get());
    addBlurOptions(cmd, a.get());
    addOutputOptions(cmd, a.get());
    addRunOptions(cmd, a.get());
    cmd->callback([a] {
        if (const char* id = std::getenv("SLURM_ARRAY_TASK_ID")) a->arrayTaskId = id;
        exitStatus() = runRender(*a);
    });
}

}  // namespace dof
