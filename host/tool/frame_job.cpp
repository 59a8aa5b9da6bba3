#include "tool/frame_job.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebufalgo.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

#include "io/output_encoding.h"
#include "io/render_settings_metadata.h"
#include "io/staged_image.h"
#include "model/blur_fraction.h"
#include "model/channel_layers.h"
#include "model/frame.h"
#include "render/channel_layer_render.h"
#include "render/effect_buffers.h"
#include "render/frame_render.h"
#include "render/lens_placement.h"
#include "render/radius_map.h"
#include "runtime/RenderSession.h"
#include "tool/render_notes.h"
#include "util/interrupt.h"

namespace dof {

const char* frameStatusName(FrameStatus status) {
    switch (status) {
        case FrameStatus::Rendered:
            return "rendered";
        case FrameStatus::Skipped:
            return "skipped";
        case FrameStatus::Interrupted:
            return "interrupted";
        default:
            return "failed";
    }
}

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Whether a file can be created at `path`: its folder exists and takes
// files, and its extension names a file type we can write.
bool canCreate(const std::string& path, std::string* error) {
    std::string folder = OIIO::Filesystem::parent_path(path);
    if (folder.empty()) folder = ".";
    if (OIIO::Filesystem::is_directory(path)) {
        *error = path + ": cannot write: it is a folder";
        return false;
    }
    if (!OIIO::Filesystem::is_directory(folder)) {
        *error = path + ": cannot write: folder " + folder + " does not exist";
        return false;
    }
    if (access(folder.c_str(), W_OK) != 0) {
        *error = path + ": cannot write: folder " + folder + " is not writable";
        return false;
    }
    return createWriter(path, error) != nullptr;
}

// The radius map as an 8-bit grey picture over the frame's windows.
OIIO::ImageBuf cocMapImage(const std::vector<std::uint8_t>& map, const Frame& frame) {
    OIIO::ImageSpec imageSpec(frame.width(), frame.height(), 1, OIIO::TypeDesc::UINT8);
    imageSpec.x = frame.imageSpec.x;
    imageSpec.y = frame.imageSpec.y;
    imageSpec.full_x = frame.imageSpec.full_x;
    imageSpec.full_y = frame.imageSpec.full_y;
    imageSpec.full_width = frame.imageSpec.full_width;
    imageSpec.full_height = frame.imageSpec.full_height;
    imageSpec.channelnames = {"Y"};
    imageSpec.attribute("ImageDescription",
                        "blur radius as a share of the largest radius, 255 = full");
    OIIO::ImageBuf buf(imageSpec);
    buf.set_pixels(buf.roi(), OIIO::TypeUInt8, map.data());
    return buf;
}

// The focus distance of this frame: given, or read under a pixel.
bool focusForFrame(const Frame& frame, const RenderOptions& options, double* focus,
                   std::string* error) {
    if (!options.hasFocusAt) {
        *focus = options.focusDistance;
        return true;
    }
    const int x = options.focusAtX - frame.imageSpec.x, y = options.focusAtY - frame.imageSpec.y;
    const std::string where =
        std::to_string(options.focusAtX) + "," + std::to_string(options.focusAtY);
    if (x < 0 || y < 0 || x >= frame.width() || y >= frame.height()) {
        *error = frame.path + ": --focus-at " + where + " lies outside the image's pixels (" +
                 std::to_string(frame.imageSpec.x) + "," + std::to_string(frame.imageSpec.y) +
                 " to " + std::to_string(frame.imageSpec.x + frame.width() - 1) + "," +
                 std::to_string(frame.imageSpec.y + frame.height() - 1) + ")";
        return false;
    }
    *focus = frame.pixelDistance(std::size_t(y) * std::size_t(frame.width()) + std::size_t(x));
    if (!isHit(*focus, options.noHitAbove)) {
        *error = frame.path + ": --focus-at " + where + ": nothing was hit under that pixel";
        return false;
    }
    if (options.hasSharpUntil && !(options.sharpUntilDistance > *focus)) {
        *error =
            frame.path + ": --sharp-until is not farther than the depth under --focus-at " + where;
        return false;
    }
    return true;
}

// A frame's render as it goes: what is known of it so far, and its three
// ways to end.
class FrameRun {
public:
    explicit FrameRun(const FrameFiles& files) : start_(Clock::now()) { result_.files = files; }

    FrameResult& result() { return result_; }
    FrameResult failed(const std::string& error) {
        result_.error = error;
        return end(FrameStatus::Failed);
    }
    FrameResult interrupted() { return end(FrameStatus::Interrupted); }
    FrameResult rendered() { return end(FrameStatus::Rendered); }
    double seconds() const { return secondsSince(start_); }

private:
    FrameResult end(FrameStatus status) {
        result_.status = status;
        result_.totalSeconds = seconds();
        return result_;
    }

    Clock::time_point start_;
    FrameResult result_;
};

// Every output of the frame can be created.
bool checkOutputs(const FrameFiles& files, std::string* error) {
    if (!canCreate(files.output, error)) return false;
    return files.cocMap.empty() || canCreate(files.cocMap, error);
}

LoadOptions loadOptionsFor(const FrameFiles& files, const RenderOptions& options) {
    LoadOptions load;
    load.depthFile = files.depth;
    load.depthChannel = options.depthChannel;
    load.convention = options.convention;
    load.noHitAbove = options.noHitAbove;
    return load;
}

// Whether the largest blur, in pixels across and down, stays within what the
// frame can use: its size and the largest radius. A larger one changes
// nothing a frame shows but costs time without end (a scale of 1e6 makes
// every footprint millions of pixels wide).
bool blurFitsFrame(const Frame& frame, const RenderOptions& options, double radius,
                   double pixelAspect, std::string* error) {
    const double across = radius * options.scaleX / pixelAspect;
    const double down = radius * options.scaleY;
    const double acrossLimit = frame.width() + kLargestRadius;
    const double downLimit = frame.height() + kLargestRadius;
    if (across <= acrossLimit && down <= downLimit) return true;
    std::ostringstream text;
    text << frame.path << ": a blur of " << across << " x " << down << " pixels (radius " << radius
         << ", --scale " << options.scaleX << "," << options.scaleY << ", pixel aspect "
         << pixelAspect << (options.hasPixelAspect ? "" : " from the file")
         << ") is more than this " << frame.width() << "x" << frame.height() << " frame can use ("
         << acrossLimit << " x " << downLimit << ")";
    *error = text.str();
    return false;
}

// Works out the focus, the depth placement, the pixel aspect and the working
// format, and grows the frame's data window by the reach of the blur.
bool planFrame(Frame* frame, FrameLayers* layers, const RenderOptions& options, EffectPlan* plan,
               FrameResult* result, std::string* error) {
    double focus = 0.0;
    if (!focusForFrame(*frame, options, &focus, error)) return false;
    result->focusDistance = focus;
    plan->depth.noHitAbove = options.noHitAbove;
    plan->depth.noHit = options.noHit;
    const double pixelAspect = options.hasPixelAspect ? options.pixelAspect : frame->pixelAspect;
    double sharpUntil = options.hasSharpUntil ? options.sharpUntilDistance : 0.0;
    // Every view is blurred by the one lens, for one radius.
    std::vector<std::vector<double>*> otherViews;
    for (std::size_t v = 1; v < layers->views.size(); ++v)
        otherViews.push_back(&layers->views[v].distance);
    if (!placeDepthsForLens(frame, options.lens, focus, sharpUntil, pixelAspect, options.noHitAbove,
                            options.noHit, &result->lens, error, otherViews))
        return false;
    const double radius = result->lens.active ? result->lens.radius : options.radius;
    result->radius = radius;
    if (result->lens.active && radius > 0.0) {
        // The moved distances are all real; what hit nothing is placed already.
        plan->depth.noHitAbove = INFINITY;
        sharpUntil = result->lens.sharpUntil;
    }
    if (!chooseDepthScale(focus, sharpUntil, &plan->depth.scale, error)) {
        *error = frame->path + ": " + *error;
        return false;
    }
    result->depthFactor = plan->depth.scale.factor;

    if (!blurFitsFrame(*frame, options, radius, pixelAspect, error)) return false;
    // The hat of a fully blurred fragment reaches twice the radius.
    growRenderedParts(frame, layers, hatReach(radius * options.scaleX / pixelAspect),
                      hatReach(radius * options.scaleY), options.convention);
    result->width = frame->width();
    result->height = frame->height();
    plan->method = options.method;
    plan->format =
        options.format != kQVBitmapNone ? options.format : workingFormatFor(frame->imageSpec);
    plan->slabFormat = options.format != kQVBitmapNone ? options.format : kQVBitmapRGBAFloat;
    const bool slabs = options.method == Method::Splat && options.layers > 1;
    result->workingFormat = formatName(slabs ? plan->slabFormat : plan->format);

    runtime::RenderSettings& settings = plan->settings;
    settings.radius = radius;
    settings.method = double(int(options.method));
    settings.focalDepth = plan->depth.scale.focalDepth;
    settings.focusRangeDepth = plan->depth.scale.focusRangeDepth;
    settings.pixelAspect = pixelAspect;
    settings.scaleX = options.scaleX;
    settings.scaleY = options.scaleY;
    return true;
}

// Runs the effect over the frame's pixels and stores its result in the
// frame; adds the time of each pass to `passSeconds`.
RenderOutcome renderThroughEffect(runtime::EffectInstance& instance, Frame* frame,
                                  const EffectPlan& plan, const RenderOptions& options,
                                  Progress* progress, TaskPool* pool, int frameNumber,
                                  double passSeconds[kRenderPassCount], std::string* error) {
    FrameRenderContext context;
    context.library = &instance.library();
    context.pool = pool;
    context.threads = options.threads;
    context.progress = progress;
    context.frameNumber = frameNumber;
    double seconds[kRenderPassCount] = {};
    const RenderOutcome outcome =
        plan.method == Method::Splat && options.layers > 1
            ? renderInSlabs(frame, plan, options.layers, context, seconds, error)
            : renderInOneLayer(frame, plan, context, seconds, error);
    for (int pass = 0; pass < int(kRenderPassCount); ++pass) passSeconds[pass] += seconds[pass];
    return outcome;
}

// Renders the frame's other views and colour layers, then its own colour.
// The progress bar follows the last, the frame's main render.
RenderOutcome renderEveryView(runtime::EffectInstance& instance, Frame* frame,
                              const FrameLayers& layers, const EffectPlan& plan,
                              const RenderOptions& options, Progress* progress, TaskPool* pool,
                              FrameResult* result, std::string* error) {
    const int frameNumber = result->files.frame;
    const RenderOutcome others = renderOtherColour(
        frame, layers,
        [&](Frame* colour, std::string* why) {
            return renderThroughEffect(instance, colour, plan, options, nullptr, pool, frameNumber,
                                       result->passSeconds, why);
        },
        error);
    if (others != RenderOutcome::Done) return others;
    result->nonFiniteValues = frame->nonFiniteValues;
    return renderThroughEffect(instance, frame, plan, options, progress, pool, frameNumber,
                               result->passSeconds, error);
}

// Writes the render and, when asked, the radius map: both are written and
// checked under temporary names first, then put in place together. The
// render goes last, since its file marks the frame done for a rerun; should
// it fail to move, the map just put in place goes too.
RenderOutcome writeOutputs(const Frame& frame, const std::vector<std::uint8_t>& cocMap,
                           const FrameFiles& files, const RenderOptions& options,
                           std::vector<std::string>* notWritten, std::string* error) {
    OutputEncoding encoding;
    encoding.dataType = options.dataType;
    encoding.rgbaOnly = options.rgbaOnly;
    encoding.displayColourSpace = options.colourSpace;
    encoding.settingsRecord = settingsRecord(canonicalSettings(options));
    OIIO::ImageBuf image;
    std::vector<OIIO::ImageBuf> otherParts;
    if (!encodeOutput(frame, encoding, files.output, &image, error) ||
        !encodeOtherParts(frame, encoding, files.output, &otherParts, notWritten, error))
        return RenderOutcome::Failed;
    std::vector<const OIIO::ImageBuf*> parts{&image};
    for (const OIIO::ImageBuf& part : otherParts) parts.push_back(&part);
    StagedImage render, map;
    if (!render.write(parts, files.output, OIIO::TypeUnknown, error)) return RenderOutcome::Failed;
    if (!files.cocMap.empty() &&
        !map.write(cocMapImage(cocMap, frame), files.cocMap, OIIO::TypeDesc::UINT8, error))
        return RenderOutcome::Failed;
    if (interruptRequested()) return RenderOutcome::Interrupted;
    if (!files.cocMap.empty() && !map.commit(error)) return RenderOutcome::Failed;
    if (!render.commit(error)) {
        if (!files.cocMap.empty()) std::remove(files.cocMap.c_str());
        return RenderOutcome::Failed;
    }
    return RenderOutcome::Done;
}

}  // namespace

FrameResult renderFrame(runtime::EffectInstance& instance, const FrameFiles& files,
                        const RenderOptions& options, Progress* progress, TaskPool* pool) {
    FrameRun run(files);
    FrameResult& result = run.result();
    if (interruptRequested()) return run.interrupted();
    std::string error;
    if (!checkOutputs(files, &error)) return run.failed(error);

    Frame frame;
    // A signal ends a read that is stuck in the system with an error.
    if (!loadFrame(files.input, loadOptionsFor(files, options), &frame, &error))
        return interruptRequested() ? run.interrupted() : run.failed(error);
    result.deep = frame.deep;
    result.nonFiniteValues = frame.nonFiniteValues;
    result.width = frame.width();
    result.height = frame.height();
    result.loadSeconds = run.seconds();
    if (interruptRequested()) return run.interrupted();

    FrameLayers layers = describeLayers(frame, options.depthChannel, options.convention);
    result.blurred = layers.blurred;
    result.keptSharp = layers.keptSharp;
    result.keptSharpBesidesDepth = layers.keptSharpBesidesDepth;
    EffectPlan plan;
    if (!planFrame(&frame, &layers, options, &plan, &result, &error)) return run.failed(error);
    noteFramePlan(result, options, progress);
    // From the depths as they are before the render replaces the frame's pixels.
    std::vector<std::uint8_t> cocMap;
    if (!files.cocMap.empty()) cocMap = radiusMap(frame, plan.depth, plan.settings);
    // How a step that did not finish ends the frame.
    const auto ended = [&](RenderOutcome outcome) {
        return outcome == RenderOutcome::Failed ? run.failed(error) : run.interrupted();
    };
    const RenderOutcome rendered =
        renderEveryView(instance, &frame, layers, plan, options, progress, pool, &result, &error);
    if (rendered != RenderOutcome::Done) return ended(rendered);
    if (interruptRequested()) return run.interrupted();

    const auto writeStart = Clock::now();
    const RenderOutcome written =
        writeOutputs(frame, cocMap, files, options, &result.notWritten, &error);
    if (written != RenderOutcome::Done) return ended(written);
    result.writeSeconds = secondsSince(writeStart);
    noteNotWritten(result, progress);
    return run.rendered();
}

}  // namespace dof
