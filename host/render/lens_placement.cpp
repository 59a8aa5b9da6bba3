#include "render/lens_placement.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace dof {

namespace {

// Calls `visit` with every distance of the frame: each pixel's, or each deep
// fragment's, and each of the other views'.
void forEachDistance(const Frame& frame, const std::function<void(double)>& visit) {
    for (double distance : frame.distance) visit(distance);
    for (std::size_t v = 1; v < frame.layers.views.size(); ++v)
        for (double distance : frame.layers.views[v].distance) visit(distance);
    for (const PixelFragments& pixel : frame.fragments)
        for (const Fragment& fragment : pixel.fragments) visit(fragment.distance);
}

}  // namespace

double lensBlurAt(const ThinLensBlur& blur, double distance, double noHitAbove,
                  NoHitPolicy noHit) {
    if (isHit(distance, noHitAbove)) return blur.radius(distance);
    return noHit == NoHitPolicy::Far ? blur.radius(INFINITY) : 0.0;
}

bool placeLens(const Frame& frame, const LensOptions& options, double focus, double sharpUntil,
               double pixelAspect, double noHitAbove, NoHitPolicy noHit, LensFrameReport* report,
               std::optional<LensDepthRemap>* remap, std::string* error) {
    *report = LensFrameReport();
    remap->reset();
    const LensSpec& fromFile = frame.lens;
    const LensSpec& given = options.given;
    const bool anyGiven =
        given.fNumber > 0.0 || given.focalLengthMm > 0.0 || given.sensorWidthMm > 0.0;
    if (!anyGiven && !(options.fromFileAllowed && fromFile.complete())) return true;
    if (!completeLens(given, fromFile, &report->lens, error)) {
        *error = frame.path + ": " + *error;
        return false;
    }
    report->active = true;
    report->deep = frame.deep;
    report->fromFile =
        given.fNumber <= 0.0 || given.focalLengthMm <= 0.0 || given.sensorWidthMm <= 0.0;

    // The sensor spans the display window's width; a pixel's height is its
    // width over the pixel aspect, and the effect's radius counts heights.
    const double pixelsPerMm =
        double(frame.parts.front().displayWindow.width) * pixelAspect / report->lens.sensorWidthMm;
    ThinLensBlur& blur = report->blur;
    if (!blur.setUp(report->lens, focus, sharpUntil, options.metresPerUnit, pixelsPerMm, error)) {
        *error = frame.path + ": " + *error;
        return false;
    }
    forEachDistance(frame, [&](double distance) {
        const double radius = lensBlurAt(blur, distance, noHitAbove, noHit);
        report->largestBlur = std::max(report->largestBlur, radius);
        ++report->depths;
        if (radius > kMaximumRadius) ++report->clamped;
    });
    report->radius = std::min(report->largestBlur, kMaximumRadius);
    if (report->radius == 0.0) return true;  // nothing blurs; depths as they are
    remap->emplace(blur, report->radius);
    report->sharpUntil = (*remap)->sharpUntil();
    return true;
}

bool checkIncompleteFileLens(const Frame& frame, const LensOptions& options, bool radiusGiven,
                             double radius, LensFrameReport* report, std::string* error) {
    const LensSpec& file = frame.lens;
    const LensSpec& given = options.given;
    const bool anyGiven =
        given.fNumber > 0.0 || given.focalLengthMm > 0.0 || given.sensorWidthMm > 0.0;
    const bool anyInFile = file.fNumber > 0.0 || file.focalLengthMm > 0.0 || file.sensorWidthMm > 0.0;
    if (anyGiven || !anyInFile || file.complete()) return true;
    std::string has, lacks, completing;
    const auto add = [](std::string* list, const std::string& item) {
        *list += (list->empty() ? "" : ", ") + item;
    };
    char text[64];
    const struct {
        double value;
        const char *format, *name, *option;
    } values[] = {{file.fNumber, "f/%g", "f-number", "--fstop"},
                  {file.focalLengthMm, "%g mm", "focal length", "--focal-length"},
                  {file.sensorWidthMm, "sensor %g mm wide", "sensor width", "--sensor-width"}};
    for (const auto& v : values) {
        if (v.value > 0.0) {
            std::snprintf(text, sizeof text, v.format, v.value);
            add(&has, text);
        } else {
            add(&lacks, v.name);
            add(&completing, v.option);
        }
    }
    const std::string what = frame.path + ": the file's lens (" + has + ") has no " + lacks;
    if (!radiusGiven) {
        *error = what + ": give " + completing + " to blur by it, or --radius to blur without it";
        return false;
    }
    std::snprintf(text, sizeof text, "a radius of %g px", radius);
    report->incompleteFileLens =
        what + " (" + completing + " would complete it): blurred by " + text + " instead";
    return true;
}

std::string clampWarning(const LensFrameReport& report, const std::string& path) {
    if (report.clamped == 0) return std::string();
    char text[256];
    std::snprintf(text, sizeof text,
                  ": the lens blurs up to %.4g px, beyond the effect's %.0f px: %.1f%% of the "
                  "%s are blurred by %.0f px only",
                  report.largestBlur, kMaximumRadius,
                  100.0 * double(report.clamped) / double(report.depths),
                  report.deep ? "fragments" : "pixels", kMaximumRadius);
    return path + text;
}

}  // namespace dof
