// A frame's plan: what its render needs besides the frame, worked out once
// from the frame and the options: the focus, how a lens moves the depths,
// the depth scale, the window each part's output holds, the working format
// and the effect's settings. The frame is read, never changed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/frame.h"
#include "model/rect.h"
#include "render/aperture_render.h"
#include "render/frame_render.h"
#include "render/lens_placement.h"

namespace dof {

// Depth slabs unless told otherwise: splatting's, the aperture's.
constexpr int kSplatSlabs = 8;
constexpr int kApertureSlabs = 16;
// The largest blur radius in pixels when neither a radius nor a lens is given.
constexpr double kDefaultRadius = 8.0;

// A pixel of the frame's data window, in the file's coordinates.
struct PixelPosition {
    int x = 0, y = 0;
};

// The options that decide a frame's render. The focus is a camera distance
// given, or the distance under a pixel, or (neither) the frame's own focus
// attribute.
struct PlanOptions {
    std::optional<double> focusDistance;      // in the file's units
    std::optional<PixelPosition> focusAt;     // the focus lies under this pixel
    std::optional<double> sharpUntilDistance;  // far end of the sharp zone
    std::optional<double> radius;             // none: kDefaultRadius, unless a lens sets it
    LensOptions lens;
    NoHitPolicy noHit = NoHitPolicy::Far;
    std::optional<double> pixelAspect;  // none: the file's
    double scaleX = 1.0, scaleY = 1.0;
    Method method = Method::Aperture;
    QVBitmapType format = kQVBitmapNone;  // none: follows the file
    int slabs = kApertureSlabs;           // with splatting, 1: the effect's single render
    ApertureSettings aperture;            // the aperture's shape, for Method::Aperture
};

struct FramePlan {
    double focusDistance = 0.0;  // in the file's units
    LensFrameReport lens;        // the lens that blurs the frame, if any
    EffectPlan effect;
    int slabs = 1;  // depth slabs of splatting; 1: the effect's single render
    AperturePlan aperture;  // for Method::Aperture
    // Each part's window as its output holds it: the data window, grown by
    // the blur's reach within the display window where the render writes.
    std::vector<Rect> windows;

    bool inSlabs() const { return effect.method == Method::Splat && slabs > 1; }
    bool throughAperture() const { return effect.method == Method::Aperture; }
    QVBitmapType workingFormat() const {
        return throughAperture() ? kQVBitmapRGBAFloat : inSlabs() ? effect.slabFormat : effect.format;
    }
};

// Plans the render of `frame`. False with a one-line `error` naming the file
// when the focus pixel lies outside the image or hits nothing, the focus is
// to come from the file and it has none, the lens is
// incomplete or cannot focus, no depth scale fits the effect's range, or the
// blur is larger than the frame can use.
bool planFrame(const Frame& frame, const PlanOptions& options, FramePlan* plan, std::string* error);

}  // namespace dof
