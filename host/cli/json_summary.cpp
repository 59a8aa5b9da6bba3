#include "cli/json_summary.h"

#include <cmath>
#include <cstdio>

namespace dof3d {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += char(c);
                }
        }
    }
    return out + "\"";
}

std::string jsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

namespace {

std::string field(const char* name, const std::string& value) {
    return jsonString(name) + ": " + value;
}

std::string settingsObject(const RenderOptions& o) {
    std::string s = "{";
    s += field("radius", jsonNumber(o.radius)) + ", ";
    s += field("method", jsonString(methodName(o.method))) + ", ";
    s += field("focus", o.hasFocus ? jsonNumber(o.focus) : "null") + ", ";
    s += field("focusAt", o.hasFocusAt ? "[" + std::to_string(o.focusAtX) + ", " +
                                             std::to_string(o.focusAtY) + "]"
                                       : "null") +
         ", ";
    s += field("sharpUntil", o.hasSharpUntil ? jsonNumber(o.sharpUntil) : "null") + ", ";
    s += field("depthConvention", jsonString(depthConventionName(o.convention))) + ", ";
    s += field("noHit", jsonString(noHitPolicyName(o.noHit))) + ", ";
    s += field("noHitAbove", jsonNumber(o.noHitAbove)) + ", ";
    s += field("pixelAspect", o.hasPixelAspect ? jsonNumber(o.pixelAspect) : "null") + ", ";
    s += field("scale", "[" + jsonNumber(o.scaleX) + ", " + jsonNumber(o.scaleY) + "]") + ", ";
    s += field("format", jsonString(formatName(o.format))) + ", ";
    const LensSpec& lens = o.lens.given;
    s += field("fstop", lens.fNumber > 0.0 ? jsonNumber(lens.fNumber) : "null") + ", ";
    s += field("focalLength", lens.focalLengthMm > 0.0 ? jsonNumber(lens.focalLengthMm) : "null") +
         ", ";
    s += field("sensorWidth", lens.sensorWidthMm > 0.0 ? jsonNumber(lens.sensorWidthMm) : "null") +
         ", ";
    s += field("depthUnit", jsonString(o.depthUnit)) + ", ";
    s += field("colorspace", jsonString(o.colourSpace)) + ", ";
    s += field("jobs", std::to_string(o.jobs)) + ", ";
    s += field("threads", std::to_string(o.threads)) + ", ";
    s += field("layers", std::to_string(o.layers));
    return s + "}";
}

std::string lensObject(const LensFrameReport& l) {
    if (!l.active) return "null";
    return "{" + field("fstop", jsonNumber(l.lens.fNumber)) + ", " +
           field("focalLength", jsonNumber(l.lens.focalLengthMm)) + ", " +
           field("sensorWidth", jsonNumber(l.lens.sensorWidthMm)) + ", " +
           field("fromFile", l.fromFile ? "true" : "false") + ", " +
           field("largestBlur", jsonNumber(l.largestBlur)) + ", " +
           field("clampedShare",
                 jsonNumber(l.depths > 0 ? double(l.clamped) / double(l.depths) : 0.0)) +
           "}";
}

std::string frameObject(const FrameResult& f) {
    std::string s = "{";
    s += field("frame", std::to_string(f.files.frame)) + ", ";
    s += field("input", jsonString(f.files.input)) + ", ";
    s += field("output", jsonString(f.files.output)) + ", ";
    s += field("status", jsonString(frameStatusName(f.status)));
    if (!f.error.empty()) s += ", " + field("error", jsonString(f.error));
    if (!f.rerender.empty()) s += ", " + field("renderedAgainBecause", jsonString(f.rerender));
    if (f.status == FrameStatus::Rendered) {
        s += ", " + field("width", std::to_string(f.width));
        s += ", " + field("height", std::to_string(f.height));
        s += ", " + field("deep", f.deep ? "true" : "false");
        s += ", " + field("workingFormat", jsonString(f.workingFormat));
        s += ", " + field("focusDistance", jsonNumber(f.focusDistance));
        s += ", " + field("depthFactor", jsonNumber(f.depthFactor));
        s += ", " + field("radius", jsonNumber(f.radius));
        s += ", " + field("lens", lensObject(f.lens));
        s += ", " + field("seconds", "{" + field("load", jsonNumber(f.loadSeconds)) + ", " +
                                         field("passes", "[" + jsonNumber(f.passSeconds[0]) + ", " +
                                                             jsonNumber(f.passSeconds[1]) + ", " +
                                                             jsonNumber(f.passSeconds[2]) + ", " +
                                                             jsonNumber(f.passSeconds[3]) + ", " +
                                                             jsonNumber(f.passSeconds[4]) + "]") +
                                         ", " + field("write", jsonNumber(f.writeSeconds)) + ", " +
                                         field("total", jsonNumber(f.totalSeconds)) + "}");
    }
    return s + "}";
}

}  // namespace

std::string jsonSummary(const RenderOptions& options, const RunSummary& summary) {
    int counts[4] = {0, 0, 0, 0};
    for (const FrameResult& f : summary.frames) ++counts[int(f.status)];
    std::string s = "{";
    s += field("command", jsonString("render")) + ", ";
    s += field("settings", settingsObject(options)) + ", ";
    s += jsonString("frames") + ": [";
    for (std::size_t i = 0; i < summary.frames.size(); ++i)
        s += (i ? ", " : "") + frameObject(summary.frames[i]);
    s += "], ";
    s += field("totals",
               "{" + field("rendered", std::to_string(counts[int(FrameStatus::Rendered)])) + ", " +
                   field("skipped", std::to_string(counts[int(FrameStatus::Skipped)])) + ", " +
                   field("failed", std::to_string(counts[int(FrameStatus::Failed)])) + ", " +
                   field("interrupted", std::to_string(counts[int(FrameStatus::Interrupted)])) +
                   ", " + field("seconds", jsonNumber(summary.seconds)) + "}") +
         ", ";
    s += field("interrupted", summary.interrupted ? "true" : "false");
    return s + "}\n";
}

std::string jsonError(const std::string& message) {
    return "{" + field("command", jsonString("render")) + ", " +
           field("error", jsonString(message)) + "}\n";
}

}  // namespace dof3d
