#include "io/render_settings_metadata.h"

#include <OpenImageIO/imageio.h>

namespace dof {

namespace {

constexpr const char* kRecordPrefix = "dof3d ";
constexpr const char* kRecordCommand = " render ";

}  // namespace

const char* programVersion() { return DOF3D_VERSION; }

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

}  // namespace dof
