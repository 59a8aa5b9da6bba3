// The settings that made an output, kept in its metadata, so that a rerun of
// a sequence skips the outputs made with the same settings and renders the
// others again.
#pragma once

#include <string>

namespace dof {

const char* programVersion();

// What an output keeps: "dof3d <version> render <settings>".
std::string settingsRecord(const std::string& settings);

// The attribute that keeps the record in files of a writer (by its name):
// "dof3d:settings" in OpenEXR and PNG, the Exif "ImageHistory" in JPEG; null
// for file types whose writer keeps neither (TIFF).
const char* settingsAttributeFor(const std::string& formatName);

enum class RecordedSettings {
    Same,        // made with these settings (by any version)
    Other,       // made with other settings
    None,        // no record: made otherwise, or a file type that keeps none
    Unreadable,  // not a readable image
};

// What the existing output at `path` records, against `settings`.
RecordedSettings recordedSettings(const std::string& path, const std::string& settings);

// Why an output is rendered again, for messages and the JSON summary.
const char* rerenderReason(RecordedSettings recorded);

// Why the existing output at `output` cannot stand for this run's render of
// `input` (with `depth`, a separate depth image or empty); empty when it can.
// It stands when it is no older than its input and depth image, records
// `settings`, is as large as the render of its input can be (its input's
// data window, grown by the blur at most to the display window, whose size
// it keeps where its file type holds one) and every pixel of it decodes.
// The reasons start with "stale", "wrong size" or "unreadable", or are
// rerenderReason's, or say the output is not a regular file.
std::string reasonToRenderAgain(const std::string& output, const std::string& input,
                                const std::string& depth, const std::string& settings);

}  // namespace dof
