// A rendered frame as the images of its output file, in the encoding
// output_encoding.h describes: the render's values over each part's output
// window, the frame's where the render wrote nothing.
#pragma once

#include <OpenImageIO/imagebuf.h>

#include <string>
#include <vector>

#include "io/frame_reader.h"
#include "io/output_encoding.h"
#include "model/rendered_frame.h"

namespace dof {

// Which channels of each of the frame's parts (the first its own image) the
// output `writer` writes holds.
std::vector<std::vector<bool>> writtenChannels(const Frame& frame, const FileRecord& file,
                                               const OutputEncoding& encoding,
                                               const OIIO::ImageOutput& writer);

// The image to write to `path` through `writer`: its description gives the
// channels and data types of the file, its pixels are already in them; with
// a circle of confusion channel (encoding.cocChannel), `coc` holds its values
// over the first part's window. False with a one-line `error`.
bool encodeOutput(const Frame& frame, const FileRecord& file, const RenderedFrame& rendered,
                  const std::vector<float>& coc, const OutputEncoding& encoding,
                  const std::string& path, const OIIO::ImageOutput& writer, OIIO::ImageBuf* image,
                  std::string* error);

// The frame's other parts as further parts of `path`: every flat part, as
// stored, where the file type holds several parts (OpenEXR) and not only R,
// G, B and A are asked for; none otherwise. `leftOut` receives what of the
// frame the output does not hold: channels of the first part the file type
// drops, parts, deep parts.
bool encodeOtherParts(const Frame& frame, const FileRecord& file, const RenderedFrame& rendered,
                      const OutputEncoding& encoding, const std::string& path,
                      const OIIO::ImageOutput& writer, std::vector<OIIO::ImageBuf>* parts,
                      std::vector<std::string>* leftOut, std::string* error);

}  // namespace dof
