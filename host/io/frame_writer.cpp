#include "io/frame_writer.h"

#include <OpenImageIO/filesystem.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "io/output_images.h"
#include "io/output_types.h"
#include "io/staged_image.h"
#include "util/interrupt.h"

namespace dof {

namespace {

// The 8-bit code of a circle of confusion on a picture's fixed scale: 128 in
// focus, 0 at `scale` pixels in front of the focus, 255 at `scale` behind,
// in a straight line between, held beyond.
std::uint8_t cocByte(float coc, double scale) {
    const double share = std::clamp(double(coc) / scale, -1.0, 1.0);
    return std::uint8_t(std::lround(128.0 + share * (share < 0.0 ? 128.0 : 127.0)));
}

// The circle of confusion over the output's window, as the file type at
// `path` takes it: a float channel "coc" in an OpenEXR, else an 8-bit grey
// picture on the fixed scale.
OIIO::ImageBuf cocImage(const std::vector<float>& coc, const Rect& window, const Rect& display,
                        const std::string& path, double scale, OIIO::TypeDesc* stored) {
    std::string problem;
    const OutputType* type = outputTypeFor(path, true, &problem);
    const bool exr = type != nullptr && std::string(type->format) == "openexr";
    *stored = exr ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8;
    OIIO::ImageSpec imageSpec(window.width, window.height, 1, *stored);
    imageSpec.x = window.x;
    imageSpec.y = window.y;
    imageSpec.full_x = display.x;
    imageSpec.full_y = display.y;
    imageSpec.full_width = display.width;
    imageSpec.full_height = display.height;
    imageSpec.channelnames = {exr ? "coc" : "Y"};
    char text[160];
    std::snprintf(text, sizeof text,
                  exr ? "circle of confusion: signed blur radius in pixels, negative in front of "
                        "the focus"
                      : "circle of confusion: 128 in focus, 0 at %g pixels in front, 255 at %g "
                        "pixels behind",
                  scale, scale);
    imageSpec.attribute("ImageDescription", text);
    OIIO::ImageBuf buf(imageSpec);
    if (exr) {
        buf.set_pixels(buf.roi(), OIIO::TypeFloat, coc.data());
        return buf;
    }
    std::vector<std::uint8_t> bytes(coc.size());
    for (std::size_t p = 0; p < coc.size(); ++p) bytes[p] = cocByte(coc[p], scale);
    buf.set_pixels(buf.roi(), OIIO::TypeUInt8, bytes.data());
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
    return outputTypeFor(path, false, error) != nullptr;
}

struct OutputWriter::Library {
    std::unique_ptr<OIIO::ImageOutput> writer;
};

std::unique_ptr<OutputWriter> OutputWriter::create(const std::string& path, std::string* error) {
    std::unique_ptr<Library> library(new Library{createWriter(path, error)});
    if (!library->writer) return nullptr;
    return std::unique_ptr<OutputWriter>(new OutputWriter(std::move(library)));
}

OutputWriter::OutputWriter(std::unique_ptr<Library> library) : library_(std::move(library)) {}

OutputWriter::~OutputWriter() = default;

std::vector<std::vector<bool>> OutputWriter::writtenChannels(
    const Frame& frame, const FileRecord& file, const OutputEncoding& encoding) const {
    return dof::writtenChannels(frame, file, encoding, *library_->writer);
}

// The render goes last, since its file marks the frame done for a rerun;
// should it fail to move, the map just put in place goes too.
WriteOutcome OutputWriter::write(Frame&& frame, const FileRecord& file, RenderedFrame&& rendered,
                                 std::vector<float>&& coc, const FrameFiles& files,
                                 const OutputEncoding& encoding,
                                 std::vector<std::string>* leftOut, std::string* error) {
    OIIO::ImageOutput* writer = library_->writer.get();
    OIIO::ImageBuf image, map;
    std::vector<OIIO::ImageBuf> otherParts;
    if (!encodeOutput(frame, file, rendered, coc, encoding, files.output, *writer, &image,
                      error) ||
        !encodeOtherParts(frame, file, rendered, encoding, files.output, *writer, &otherParts,
                          leftOut, error))
        return WriteOutcome::Failed;
    const bool withMap = !files.cocMap.empty();
    OIIO::TypeDesc mapType;
    if (withMap)
        map = cocImage(coc, rendered.windows.front(), frame.parts.front().displayWindow,
                       files.cocMap, encoding.cocScale, &mapType);
    // What is written is in the images now.
    frame = Frame();
    rendered = RenderedFrame();
    coc = std::vector<float>();
    std::vector<const OIIO::ImageBuf*> parts{&image};
    for (const OIIO::ImageBuf& part : otherParts) parts.push_back(&part);
    StagedImage render, staged;
    if (!render.write(parts, files.output, OIIO::TypeUnknown, *writer, error))
        return WriteOutcome::Failed;
    if (withMap && !staged.write(map, files.cocMap, mapType, error)) return WriteOutcome::Failed;
    if (interruptRequested()) return WriteOutcome::Interrupted;
    if (withMap && !staged.commit(error)) return WriteOutcome::Failed;
    if (!render.commit(error)) {
        if (withMap) std::remove(files.cocMap.c_str());
        return WriteOutcome::Failed;
    }
    return WriteOutcome::Written;
}

}  // namespace dof
