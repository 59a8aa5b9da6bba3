#include "cli/render_settings_metadata.h"

#include <OpenImageIO/imageio.h>

#include <charconv>

namespace dof3d {

namespace {

// The shortest decimal text that reads back as the same double.
std::string shortest(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

constexpr const char* kRecordPrefix = "dof3d ";
constexpr const char* kRecordCommand = " render ";

}  // namespace

const char* programVersion() { return DOF3D_VERSION; }

std::string canonicalSettings(const RenderOptions& o) {
    std::string s = std::string("--method ") + methodName(o.method);
    if (o.hasRadius) s += " --radius " + shortest(o.radius);
    const LensSpec& lens = o.lens.given;
    if (lens.fNumber > 0.0) s += " --fstop " + shortest(lens.fNumber);
    if (lens.focalLengthMm > 0.0) s += " --focal-length " + shortest(lens.focalLengthMm);
    if (lens.sensorWidthMm > 0.0) s += " --sensor-width " + shortest(lens.sensorWidthMm);
    s += " --depth-unit " + o.depthUnit;
    if (o.hasFocus) s += " --focus " + shortest(o.focus);
    if (o.hasFocusAt)
        s += " --focus-at " + std::to_string(o.focusAtX) + "," + std::to_string(o.focusAtY);
    if (o.hasSharpUntil) s += " --sharp-until " + shortest(o.sharpUntil);
    if (!o.depthChannel.empty()) s += " --depth-channel " + o.depthChannel;
    s += std::string(" --depth-convention ") + depthConventionName(o.convention);
    s += std::string(" --no-hit ") + noHitPolicyName(o.noHit);
    s += " --no-hit-above " + shortest(o.noHitAbove);
    if (o.hasPixelAspect) s += " --pixel-aspect " + shortest(o.pixelAspect);
    if (o.scaleX != 1.0 || o.scaleY != 1.0)
        s += " --scale " + shortest(o.scaleX) + "," + shortest(o.scaleY);
    s += std::string(" --format ") + formatName(o.format);
    if (!o.dataType.empty()) s += " --data-type " + o.dataType;
    if (o.rgbaOnly) s += " --rgba-only";
    return s + " --colorspace " + o.colourSpace;
}

std::string settingsRecord(const std::string& settings) {
    return kRecordPrefix + std::string(programVersion()) + kRecordCommand + settings;
}

const char* settingsAttributeFor(const std::string& formatName) {
    if (formatName == "openexr" || formatName == "png") return "dof3d:settings";
    if (formatName == "jpeg") return "Exif:ImageHistory";
    return nullptr;
}

RecordedSettings recordedSettings(const std::string& path, const std::string& settings) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) {
        OIIO::geterror();  // drop the reader's message: the output is rendered again
        return RecordedSettings::Unreadable;
    }
    const char* attribute = settingsAttributeFor(in->format_name());
    const std::string record =
        attribute != nullptr ? std::string(in->spec().get_string_attribute(attribute)) : "";
    in->close();
    const std::size_t command = record.find(kRecordCommand);
    if (record.rfind(kRecordPrefix, 0) != 0 || command == std::string::npos)
        return RecordedSettings::None;
    return record.substr(command + std::string(kRecordCommand).size()) == settings
               ? RecordedSettings::Same
               : RecordedSettings::Other;
}

const char* rerenderReason(RecordedSettings recorded) {
    switch (recorded) {
        case RecordedSettings::Other:
            return "made with other settings";
        case RecordedSettings::None:
            return "holds no settings record";
        case RecordedSettings::Unreadable:
            return "cannot be read";
        default:
            return "";
    }
}

}  // namespace dof3d
