// A frame's plan: what its render needs besides the frame, worked out once
// from the frame and the options: the focus, how a lens moves the depths,
// the depth scale, the window each part's output holds, the working format
// and the effect's settings. The frame is read, never changed.
#pragma once

#include <string>
#include <vector>

#include "model/frame.h"
#include "model/rect.h"
#include "render/frame_render.h"
#include "render/lens_placement.h"

namespace dof {

// The options that decide a frame's render.
struct PlanOptions {
    bool hasFocusAt = false;  // the focus lies under a pixel
    int focusAtX = 0, focusAtY = 0;
    bool focusFromFile = false;  // the frame's own focus attribute
    double focusDistance = 0.0;  // otherwise, in the file's units
    bool hasSharpUntil = false;
    double sharpUntilDistance = 0.0;
    double radius = 8.0;  // unless a lens sets it
    LensOptions lens;
    NoHitPolicy noHit = NoHitPolicy::Far;
    double noHitAbove = 1e9;
    bool hasPixelAspect = false;  // otherwise the file's
    double pixelAspect = 1.0;
    double scaleX = 1.0, scaleY = 1.0;
    Method method = Method::Splat;
    QVBitmapType format = kQVBitmapNone;  // none: follows the file
    int slabs = 8;                        // of splatting; 1: the effect's single render
};

struct FramePlan {
    double focusDistance = 0.0;  // in the file's units
    LensFrameReport lens;        // the lens that blurs the frame, if any
    EffectPlan effect;
    int slabs = 1;  // depth slabs of splatting; 1: the effect's single render
    // Each part's window as its output holds it: the data window, grown by
    // the blur's reach within the display window where the render writes.
    std::vector<Rect> windows;

    bool inSlabs() const { return effect.method == Method::Splat && slabs > 1; }
    QVBitmapType workingFormat() const { return inSlabs() ? effect.slabFormat : effect.format; }
};

// Plans the render of `frame`. False with a one-line `error` naming the file
// when the focus pixel lies outside the image or hits nothing, the focus is
// to come from the file and it has none, the lens is
// incomplete or cannot focus, no depth scale fits the effect's range, or the
// blur is larger than the frame can use.
bool planFrame(const Frame& frame, const PlanOptions& options, FramePlan* plan, std::string* error);

}  // namespace dof
