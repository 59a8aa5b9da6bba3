#include "io/output_types.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <cctype>

namespace dof {

namespace {

using OIIO::TypeDesc;

// Texture, environment and shadow-map extensions of TIFF, 1-bit and float
// PNM, and the other writers' types are left out: the file would not be what
// its name promises, the writer goes to the disk itself (FITS, HEIF, ICO,
// RLA, SGI, zfile), keeps a palette (GIF), takes no frame (null, term) or
// is not found by the extension (.dib).
const std::vector<OutputType>& outputTypes() {
    static const std::vector<OutputType> types = {
        {"openexr", "exr,sxr,mxr", {TypeDesc::HALF, TypeDesc::FLOAT, TypeDesc::UINT32},
         ChannelRule::Any, true},
        // The TIFF writer loses its directory when it adds Exif data (an sRGB
        // tag) in memory; its library hands every failure back, so it
        // writes the temporary itself, which is then flushed and read back.
        {"tiff", "tif,tiff", {TypeDesc::UINT8, TypeDesc::UINT16, TypeDesc::FLOAT},
         ChannelRule::Any, false},
        {"png", "png", {TypeDesc::UINT8, TypeDesc::UINT16}, ChannelRule::UpToFour, true},
        {"jpeg", "jpg,jpe,jpeg,jif,jfif,jfi", {TypeDesc::UINT8}, ChannelRule::UpToFour, true},
        {"dpx", "dpx", {TypeDesc::UINT8, TypeDesc::UINT16}, ChannelRule::UpToFour, true},
        {"bmp", "bmp", {TypeDesc::UINT8}, ChannelRule::UpToFour, true},
        {"targa", "tga,tpic", {TypeDesc::UINT8}, ChannelRule::UpToFour, true},
        {"pnm", "ppm,pnm", {TypeDesc::UINT8}, ChannelRule::UpToFour, true},
        {"hdr", "hdr,rgbe", {TypeDesc::FLOAT}, ChannelRule::ThreeOnly, true},
    };
    return types;
}

bool listed(const std::string& list, const std::string& word) {
    return ("," + list + ",").find("," + word + ",") != std::string::npos;
}

// The image library's writer for an extension ("openexr:exr,sxr,mxr;..."),
// or empty.
std::string writerFor(const std::string& extension) {
    const std::string writers(OIIO::get_string_attribute("output_format_list"));
    const std::string types(OIIO::get_string_attribute("extension_list"));
    for (std::size_t start = 0; start < types.size();) {
        std::size_t end = types.find(';', start);
        if (end == std::string::npos) end = types.size();
        const std::string entry = types.substr(start, end - start);
        const std::size_t colon = entry.find(':');
        if (colon != std::string::npos && listed(entry.substr(colon + 1), extension) &&
            listed(writers, entry.substr(0, colon)))
            return entry.substr(0, colon);
        start = end + 1;
    }
    return std::string();
}

std::string writtenExtensions() {
    std::string names;
    const std::vector<OutputType>& types = outputTypes();
    for (std::size_t i = 0; i < types.size(); ++i) {
        std::string first(types[i].extensions);
        first = first.substr(0, first.find(','));
        names += (i == 0 ? "." : i + 1 == types.size() ? " or ." : ", .") + first;
    }
    return names;
}

}  // namespace

const OutputType* outputTypeNamed(const std::string& format) {
    for (const OutputType& type : outputTypes())
        if (format == type.format) return &type;
    return nullptr;
}

const OutputType* outputTypeFor(const std::string& path, bool greyMap, std::string* problem) {
    if (OIIO::Filesystem::is_directory(path)) {
        *problem = path + ": cannot write: it is a folder";
        return nullptr;
    }
    std::string extension = OIIO::Filesystem::extension(path, false);
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    const std::string writer = extension.empty() ? std::string() : writerFor(extension);
    if (writer.empty()) {
        *problem = path + ": cannot write: no writer for this file type";
        return nullptr;
    }
    for (const OutputType& type : outputTypes()) {
        if (writer != type.format || !listed(type.extensions, extension)) continue;
        if (greyMap && type.channels == ChannelRule::ThreeOnly) {
            *problem = path + ": cannot write: " + writer +
                       " files hold three colour channels, not a one-channel map";
            return nullptr;
        }
        return &type;
    }
    *problem = path + ": cannot write: not a file type dof3d writes (write " +
               writtenExtensions() + ")";
    return nullptr;
}

}  // namespace dof
