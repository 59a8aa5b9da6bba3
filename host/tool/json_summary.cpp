#include "tool/json_summary.h"

#include <optional>

#include <nlohmann/json.hpp>

namespace dof {

namespace {

// Keys stay in the order they are written.
using Json = nlohmann::ordered_json;

// Options not given are null.
Json optional(const std::optional<double>& value) { return value ? Json(*value) : Json(nullptr); }

// A plain value as itself (X,Y as [X, Y]), keys as [[FRAME, V...], ...];
// null when not given.
Json keysObject(const Keyframes& keys) {
    if (keys.empty()) return nullptr;
    const auto values = [](const Key& key, Json first) {
        Json list = first.is_null() ? Json::array() : Json::array({first});
        for (double v : key.values) list.push_back(v);
        return list.size() == 1 ? list[0] : list;
    };
    if (!keys.keyed()) return values(keys.keys().front(), nullptr);
    Json list = Json::array();
    for (const Key& key : keys.keys()) list.push_back(values(key, key.frame));
    return list;
}

// The radius given, or the one every frame used when no lens decided it;
// null where a lens set each frame's own (its `radius`).
Json radiusObject(const RenderOptions& o, const RunSummary& summary) {
    bool lens = lensGiven(o);
    for (const FrameResult& f : summary.frames) lens = lens || f.lens.active;
    return lens ? Json(nullptr) : Json(o.plan.radius.value_or(kDefaultRadius));
}

Json settingsObject(const RenderOptions& o, const RunSummary& summary) {
    const PlanOptions& plan = o.plan;
    Json s;
    s["radius"] = radiusObject(o, summary);
    s["method"] = methodName(plan.method);
    s["focusFrom"] = focusSourceName(o.focusFrom);
    s["focus"] = keysObject(o.focus);
    s["focusAt"] = keysObject(o.focusAt);
    s["focusFile"] = o.focusFile.empty() ? Json(nullptr) : Json(o.focusFile);
    s["focusInterpolation"] = interpolationName(o.interpolation);
    s["sharpUntil"] = optional(o.sharpUntil);
    s["depthConvention"] = depthConventionName(o.read.convention);
    s["noHit"] = noHitPolicyName(plan.noHit);
    s["noHitAbove"] = o.read.noHitAbove;
    s["pixelAspect"] = optional(plan.pixelAspect);
    s["scale"] = Json::array({plan.scaleX, plan.scaleY});
    s["format"] = formatName(plan.format);
    s["fstop"] = keysObject(o.fNumber);
    s["focalLength"] = keysObject(o.focalLength);
    const double sensor = plan.lens.given.sensorWidthMm;
    s["sensorWidth"] = sensor > 0.0 ? Json(sensor) : Json(nullptr);
    s["depthUnit"] = o.depthUnit;
    s["colorspace"] = o.encoding.displayColourSpace;
    s["jobs"] = o.jobs;
    s["threads"] = o.threads;
    s["layers"] = plan.slabs;  // the slabs, under the name the summary has always given them
    return s;
}

Json lensObject(const LensFrameReport& l) {
    if (!l.active) return nullptr;
    Json s;
    s["fstop"] = l.lens.fNumber;
    s["focalLength"] = l.lens.focalLengthMm;
    s["sensorWidth"] = l.lens.sensorWidthMm;
    s["fromFile"] = l.fromFile;
    s["largestBlur"] = l.largestBlur;
    s["clampedShare"] = l.depths > 0 ? double(l.clamped) / double(l.depths) : 0.0;
    return s;
}

Json frameObject(const FrameResult& f) {
    Json s;
    s["frame"] = f.files.frame;
    s["input"] = f.files.input;
    s["output"] = f.files.output;
    s["status"] = frameStatusName(f.status);
    if (!f.error.empty()) s["error"] = f.error;
    if (!f.rerender.empty()) s["renderedAgainBecause"] = f.rerender;
    if (f.status != FrameStatus::Rendered) return s;
    s["width"] = f.width;
    s["height"] = f.height;
    s["deep"] = f.deep;
    s["workingFormat"] = f.workingFormat;
    s["focusFrom"] = focusSourceName(f.focusFrom);
    if (f.focusFrom == FocusSource::Pixel) s["focusAt"] = Json::array({f.focusAtX, f.focusAtY});
    s["focusDistance"] = f.focusDistance;
    s["depthFactor"] = f.depthFactor;
    s["radius"] = f.radius;
    s["lens"] = lensObject(f.lens);
    s["nonFiniteValues"] = f.nonFiniteValues;
    if (!f.blurred.empty()) s["blurred"] = f.blurred;
    if (!f.blurred.empty()) s["keptSharp"] = f.keptSharp;
    if (!f.notWritten.empty()) s["notWritten"] = f.notWritten;
    Json& seconds = s["seconds"];
    seconds["load"] = f.loadSeconds;
    seconds["passes"] = Json::array();
    for (double pass : f.passSeconds) seconds["passes"].push_back(pass);
    seconds["write"] = f.writeSeconds;
    seconds["total"] = f.totalSeconds;
    return s;
}

// File names are bytes, not always UTF-8: invalid bytes become U+FFFD so
// that the text stays valid JSON. Numbers print in their shortest form that
// reads back as the same double; NaN and infinities as null.
std::string oneLineOf(const Json& object) {
    return object.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string jsonSummary(const RenderOptions& options, const RunSummary& summary) {
    int counts[4] = {0, 0, 0, 0};
    for (const FrameResult& f : summary.frames) ++counts[int(f.status)];
    Json s;
    s["command"] = "render";
    s["settings"] = settingsObject(options, summary);
    if (!options.framesFound.empty()) s["framesFound"] = options.framesFound;
    s["frames"] = Json::array();
    for (const FrameResult& f : summary.frames) s["frames"].push_back(frameObject(f));
    Json& totals = s["totals"];
    totals["rendered"] = counts[int(FrameStatus::Rendered)];
    totals["skipped"] = counts[int(FrameStatus::Skipped)];
    totals["failed"] = counts[int(FrameStatus::Failed)];
    totals["interrupted"] = counts[int(FrameStatus::Interrupted)];
    totals["seconds"] = summary.seconds;
    s["interrupted"] = summary.interrupted;
    return oneLineOf(s);
}

std::string jsonError(const std::string& message) {
    Json s;
    s["command"] = "render";
    s["error"] = message;
    return oneLineOf(s);
}

}  // namespace dof
