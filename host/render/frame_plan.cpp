#include "render/frame_plan.h"

#include <cmath>
#include <sstream>

#include "model/blur_fraction.h"

namespace dof {

namespace {

// The focus distance of this frame: given, the file's own, or read under a
// pixel.
bool focusForFrame(const Frame& frame, const PlanOptions& options, double* focus,
                   std::string* error) {
    if (options.focusDistance) {
        *focus = *options.focusDistance;
        return true;
    }
    if (!options.focusAt) {
        *focus = frame.focusMetres / options.lens.metresPerUnit;
        if (isHit(*focus, frame.noHitAbove)) return true;
        std::ostringstream text;
        text << frame.path << ": no focus: give --focus DIST (in the file's depth units) or "
             << "--focus-at X,Y (the file's focus attribute ";
        if (frame.focusMetres > 0.0)
            text << frame.focusMetres << " m lies at or beyond --no-hit-above)";
        else
            text << "is not there)";
        *error = text.str();
        return false;
    }
    const Rect& data = frame.parts.front().dataWindow;
    const PixelPosition at = *options.focusAt;
    const std::string where = std::to_string(at.x) + "," + std::to_string(at.y);
    if (!data.contains(at.x, at.y)) {
        *error = frame.path + ": --focus-at " + where + " lies outside the image's pixels (" +
                 std::to_string(data.x) + "," + std::to_string(data.y) + " to " +
                 std::to_string(data.xend() - 1) + "," + std::to_string(data.yend() - 1) + ")";
        return false;
    }
    *focus = frame.pixelDistance(data.index(at.x, at.y));
    if (!isHit(*focus, frame.noHitAbove)) {
        *error = frame.path + ": --focus-at " + where + ": nothing was hit under that pixel";
        return false;
    }
    return true;
}

// The sharp zone lies behind the frame's focus.
bool sharpZoneBehind(const Frame& frame, const PlanOptions& options, double focus,
                     std::string* error) {
    if (!options.sharpUntilDistance || *options.sharpUntilDistance > focus) return true;
    std::ostringstream text;
    text << frame.path << ": --sharp-until is not farther than the focus distance " << focus;
    if (options.focusAt)
        text << " under --focus-at " << options.focusAt->x << "," << options.focusAt->y;
    *error = text.str();
    return false;
}

// Whether the largest blur, in pixels across and down, stays within what the
// frame can use: its size and the largest radius. A larger one changes
// nothing a frame shows but costs time without end (a scale of 1e6 makes
// every footprint millions of pixels wide).
bool blurFitsFrame(const Frame& frame, const PlanOptions& options, double radius,
                   double pixelAspect, std::string* error) {
    const double across = radius * options.scaleX / pixelAspect;
    const double down = radius * options.scaleY;
    const double acrossLimit = frame.width() + kMaximumRadius;
    const double downLimit = frame.height() + kMaximumRadius;
    if (across <= acrossLimit && down <= downLimit) return true;
    std::ostringstream text;
    text << frame.path << ": a blur of " << across << " x " << down << " pixels (radius " << radius
         << ", --scale " << options.scaleX << "," << options.scaleY << ", pixel aspect "
         << pixelAspect << (options.pixelAspect ? "" : " from the file")
         << ") is more than this " << frame.width() << "x" << frame.height() << " frame can use ("
         << acrossLimit << " x " << downLimit << ")";
    *error = text.str();
    return false;
}

// Every part's output window: the parts the render writes (every view's
// colour and its colour layers) grow by the blur's reach.
std::vector<Rect> outputWindows(const Frame& frame, int padX, int padY) {
    std::vector<bool> rendered(frame.parts.size(), false);
    for (const ViewLayers& view : frame.layers.views) {
        rendered[std::size_t(view.part)] = true;
        for (const ChannelAt& at : view.layerChannels) rendered[std::size_t(at.part)] = true;
    }
    std::vector<Rect> windows;
    for (std::size_t part = 0; part < frame.parts.size(); ++part) {
        const FramePart& p = frame.parts[part];
        windows.push_back(rendered[part] ? grownWithin(p.dataWindow, padX, padY, p.displayWindow)
                                         : p.dataWindow);
    }
    return windows;
}

// The aperture's plan: each fragment's own radius, from the lens or the
// effect's formula, without the effect's limit; the windows grow by the
// largest shape.
void planAperture(const Frame& frame, const PlanOptions& options, double pixelAspect,
                  double largest, FramePlan* plan) {
    AperturePlan& aperture = plan->aperture;
    aperture.shape = options.aperture;
    aperture.slabs = options.slabs;
    ApertureBlur& blur = aperture.blur;
    blur.lens = plan->lens.active;
    blur.lensBlur = plan->lens.blur;
    blur.depth = plan->effect.depth;
    blur.focus = FocusDepths{plan->effect.depth.scale.focalDepth,
                             plan->effect.depth.scale.focusRangeDepth};
    blur.radius = options.radius.value_or(kDefaultRadius);
    blur.across = options.scaleX / pixelAspect;
    blur.down = options.scaleY;
    plan->lens.clamped = 0;
    plan->windows =
        outputWindows(frame, int(std::ceil(largest * blur.across)),
                      int(std::ceil(largest * blur.down * options.aperture.squeeze)));
}

}  // namespace

bool planFrame(const Frame& frame, const PlanOptions& options, FramePlan* plan,
               std::string* error) {
    *plan = FramePlan();
    double focus = 0.0;
    if (!focusForFrame(frame, options, &focus, error) ||
        !sharpZoneBehind(frame, options, focus, error))
        return false;
    plan->focusDistance = focus;
    EffectPlan& effect = plan->effect;
    effect.depth.noHitAbove = frame.noHitAbove;
    effect.depth.noHit = options.noHit;
    const double pixelAspect = options.pixelAspect.value_or(frame.pixelAspect);
    double sharpUntil = options.sharpUntilDistance.value_or(0.0);
    // Every view is blurred by the one lens, for one radius.
    if (!placeLens(frame, options.lens, focus, sharpUntil, pixelAspect, frame.noHitAbove,
                   options.noHit, &plan->lens, &effect.depth.lens, error) ||
        !checkIncompleteFileLens(frame, options.lens, !options.lens.fromFileAllowed,
                                 options.radius.value_or(kDefaultRadius), &plan->lens, error))
        return false;
    const double radius =
        plan->lens.active ? plan->lens.radius : options.radius.value_or(kDefaultRadius);
    if (effect.depth.lens) sharpUntil = plan->lens.sharpUntil;
    if (!chooseDepthScale(focus, sharpUntil, &effect.depth.scale, error)) {
        *error = frame.path + ": " + *error;
        return false;
    }
    effect.method = options.method;
    // The effect's limit on the radius binds the effect's methods only.
    const bool aperture = plan->throughAperture();
    const double largest = aperture && plan->lens.active ? plan->lens.largestBlur : radius;
    if (!blurFitsFrame(frame, options, largest, pixelAspect, error)) return false;
    if (aperture)
        planAperture(frame, options, pixelAspect, largest, plan);
    else  // the hat of a fully blurred fragment reaches twice the radius
        plan->windows = outputWindows(frame, hatReach(radius * options.scaleX / pixelAspect),
                                      hatReach(radius * options.scaleY));
    const QVBitmapType stored = frame.integerBits == 8    ? kQVBitmapRGBA8
                                : frame.integerBits == 16 ? kQVBitmapRGBA16
                                                          : kQVBitmapRGBAFloat;
    effect.format = options.format != kQVBitmapNone ? options.format : stored;
    // Slabs are composited: float unless a format was asked for.
    effect.slabFormat = options.format != kQVBitmapNone ? options.format : kQVBitmapRGBAFloat;
    plan->slabs = options.slabs;

    runtime::RenderSettings& settings = effect.settings;
    settings.radius = radius;
    settings.method = FilterMethod(options.method);
    settings.focalDepth = effect.depth.scale.focalDepth;
    settings.focusRangeDepth = effect.depth.scale.focusRangeDepth;
    settings.pixelAspect = pixelAspect;
    settings.scaleX = options.scaleX;
    settings.scaleY = options.scaleY;
    return true;
}

}  // namespace dof
