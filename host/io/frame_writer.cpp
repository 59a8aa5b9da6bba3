#include "io/frame_writer.h"

#include <OpenImageIO/filesystem.h>
#include <unistd.h>

#include <cstdio>

#include "io/output_images.h"
#include "io/staged_image.h"
#include "util/interrupt.h"

namespace dof {

namespace {

// The radius map as an 8-bit grey picture over the output's windows.
OIIO::ImageBuf radiusMapImage(const std::vector<std::uint8_t>& map, const Rect& window,
                              const Rect& display) {
    OIIO::ImageSpec imageSpec(window.width, window.height, 1, OIIO::TypeDesc::UINT8);
    imageSpec.x = window.x;
    imageSpec.y = window.y;
    imageSpec.full_x = display.x;
    imageSpec.full_y = display.y;
    imageSpec.full_width = display.width;
    imageSpec.full_height = display.height;
    imageSpec.channelnames = {"Y"};
    imageSpec.attribute("ImageDescription",
                        "blur radius as a share of the largest radius, 255 = full");
    OIIO::ImageBuf buf(imageSpec);
    buf.set_pixels(buf.roi(), OIIO::TypeUInt8, map.data());
    return buf;
}

}  // namespace

bool canWrite(const std::string& path, std::string* error) {
    std::string folder = OIIO::Filesystem::parent_path(path);
    if (folder.empty()) folder = ".";
    if (OIIO::Filesystem::is_directory(path)) {
        *error = path + ": cannot write: it is a folder";
        return false;
    }
    if (!OIIO::Filesystem::is_directory(folder)) {
        *error = path + ": cannot write: folder " + folder + " does not exist";
        return false;
    }
    if (access(folder.c_str(), W_OK) != 0) {
        *error = path + ": cannot write: folder " + folder + " is not writable";
        return false;
    }
    return createWriter(path, error) != nullptr;
}

// The render goes last, since its file marks the frame done for a rerun;
// should it fail to move, the map just put in place goes too.
WriteOutcome writeFrame(const Frame& frame, const FileRecord& file, const RenderedFrame& rendered,
                        const std::vector<std::uint8_t>& radiusMap, const FrameFiles& files,
                        const OutputEncoding& encoding, std::vector<std::string>* leftOut,
                        std::string* error) {
    OIIO::ImageBuf image;
    std::vector<OIIO::ImageBuf> otherParts;
    if (!encodeOutput(frame, file, rendered, encoding, files.output, &image, error) ||
        !encodeOtherParts(frame, file, rendered, encoding, files.output, &otherParts, leftOut,
                          error))
        return WriteOutcome::Failed;
    std::vector<const OIIO::ImageBuf*> parts{&image};
    for (const OIIO::ImageBuf& part : otherParts) parts.push_back(&part);
    StagedImage render, map;
    if (!render.write(parts, files.output, OIIO::TypeUnknown, error)) return WriteOutcome::Failed;
    const bool withMap = !files.cocMap.empty();
    if (withMap && !map.write(radiusMapImage(radiusMap, rendered.windows.front(),
                                             frame.parts.front().displayWindow),
                              files.cocMap, OIIO::TypeDesc::UINT8, error))
        return WriteOutcome::Failed;
    if (interruptRequested()) return WriteOutcome::Interrupted;
    if (withMap && !map.commit(error)) return WriteOutcome::Failed;
    if (!render.commit(error)) {
        if (withMap) std::remove(files.cocMap.c_str());
        return WriteOutcome::Failed;
    }
    return WriteOutcome::Written;
}

}  // namespace dof
