#include "io/render_settings_metadata.h"

#include <OpenImageIO/imageio.h>
#include <sys/stat.h>

#include <algorithm>

#include "io/staged_image.h"
#include "util/error_line.h"
#include "util/file_identity.h"

namespace dof {

namespace {

constexpr const char* kRecordPrefix = "dof3d ";
constexpr const char* kRecordCommand = " render ";

// Whether the file at `later` was modified no earlier than the one at
// `earlier`; true when either cannot be looked at (the reads that follow
// tell).
bool noOlderThan(const std::string& later, const std::string& earlier) {
    struct stat a, b;
    if (stat(later.c_str(), &a) != 0 || stat(earlier.c_str(), &b) != 0) return true;
    if (a.st_mtim.tv_sec != b.st_mtim.tv_sec) return a.st_mtim.tv_sec > b.st_mtim.tv_sec;
    return a.st_mtim.tv_nsec >= b.st_mtim.tv_nsec;
}

// Empty when the output's first part is a size the render of `in` can have.
std::string sizeProblem(const OIIO::ImageSpec& out, const OIIO::ImageSpec& in,
                        bool keepsDisplayWindow) {
    const bool widthFits = out.width >= std::min(in.width, in.full_width) &&
                           out.width <= std::max(in.width, in.full_width);
    const bool heightFits = out.height >= std::min(in.height, in.full_height) &&
                            out.height <= std::max(in.height, in.full_height);
    const bool displayKept = !keepsDisplayWindow || (out.full_x == in.full_x &&
                                                     out.full_y == in.full_y &&
                                                     out.full_width == in.full_width &&
                                                     out.full_height == in.full_height);
    if (widthFits && heightFits && displayKept) return std::string();
    return "wrong size: " + std::to_string(out.width) + "x" + std::to_string(out.height) +
           " pixels in a " + std::to_string(out.full_width) + "x" +
           std::to_string(out.full_height) + " frame, its input is " +
           std::to_string(in.width) + "x" + std::to_string(in.height) + " in " +
           std::to_string(in.full_width) + "x" + std::to_string(in.full_height);
}

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
            return "unreadable: not an image file";
        default:
            return "";
    }
}

std::string reasonToRenderAgain(const std::string& output, const std::string& input,
                                const std::string& depth, const std::string& settings) {
    // Neither is opened unless it is a file: reading a FIFO may never end.
    const std::string notAFile = regularFileProblem(output);
    if (!notAFile.empty()) return notAFile;
    if (!regularFileProblem(input).empty()) return "its input cannot be read";
    if (!noOlderThan(output, input)) return "stale: older than its input";
    if (!depth.empty() && !noOlderThan(output, depth)) return "stale: older than its depth image";
    const RecordedSettings recorded = recordedSettings(output, settings);
    if (recorded != RecordedSettings::Same) return rerenderReason(recorded);
    auto source = OIIO::ImageInput::open(input);
    auto in = OIIO::ImageInput::open(output);
    std::string problem;
    if (!source || !in) {
        OIIO::geterror();
        // An input that cannot be read fails its frame with its own message.
        return source ? rerenderReason(RecordedSettings::Unreadable) : "its input cannot be read";
    }
    problem = sizeProblem(in->spec(), source->spec(), in->format_name() == std::string("openexr"));
    if (problem.empty() && !decodesWhole(*in, &problem))
        problem = "unreadable: its pixels do not read back whole (" + problem + ")";
    return problem;
}

}  // namespace dof
