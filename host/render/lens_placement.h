// A frame's depths placed for a lens: the radius the effect gets, how much of
// the lens's blur lies beyond the effect's limit, and how every distance of
// the frame moves so that the effect blurs it as the lens would.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "host/Parameters.h"
#include "model/depth_conventions.h"
#include "model/frame.h"
#include "model/lens.h"

namespace dof {

struct LensOptions {
    LensSpec given;               // from the command line; 0 = from the file
    bool fromFileAllowed = true;  // a complete lens in the file is used
    double metresPerUnit = 1.0;   // the file's distance unit
};

struct LensFrameReport {
    bool active = false;    // the frame is blurred by a lens
    bool fromFile = false;  // some of the lens came from the file
    LensSpec lens;
    ThinLensBlur blur;         // the lens's blur by distance
    double radius = 0.0;       // handed to the effect
    double sharpUntil = 0.0;   // moved far end of the sharp zone, 0 = none
    double largestBlur = 0.0;  // the lens's largest radius in the frame
    std::size_t depths = 0;    // distances placed (pixels, or deep fragments)
    std::size_t clamped = 0;   // of them, blurred less than the lens would
    bool deep = false;         // the depths are deep fragments
    // A warning that the file's lens lacks a value and a radius blurs
    // instead; empty otherwise.
    std::string incompleteFileLens;
};

// The lens's blur radius for a camera distance; what hit nothing is blurred
// as the background tends to (NoHitPolicy::Far) or not at all.
double lensBlurAt(const ThinLensBlur& blur, double distance, double noHitAbove,
                  NoHitPolicy noHit);

// When the options or the file give a lens, reports what the effect is to
// be given for the focus distance `focus` and the far end of the sharp zone
// `sharpUntil` (0 = none), and how the frame's distances move (`remap`; none
// where nothing blurs). Pixels that hit nothing go infinitely far (blurred as
// the background tends to) or, under NoHitPolicy::Focus, stay where the
// effect puts them on the focal plane. The radius is the largest blur of
// every view's distances (or deep fragments), at most kMaximumRadius, so
// that the views share it. Not active without a lens; false with `error`
// when the lens is incomplete or cannot focus there.
bool placeLens(const Frame& frame, const LensOptions& options, double focus, double sharpUntil,
               double pixelAspect, double noHitAbove, NoHitPolicy noHit, LensFrameReport* report,
               std::optional<LensDepthRemap>* remap, std::string* error);

// A file whose lens lacks a value, with no lens given: fills
// `report->incompleteFileLens` where `radiusGiven` (a radius or render scale
// was asked for) and `radius` blurs instead, else false with `error` naming
// what the file has, what it lacks and the options that complete it.
bool checkIncompleteFileLens(const Frame& frame, const LensOptions& options, bool radiusGiven,
                             double radius, LensFrameReport* report, std::string* error);

// The warning for a frame whose lens blurs beyond the effect's limit, or
// empty.
std::string clampWarning(const LensFrameReport& report, const std::string& path);

}  // namespace dof
