// Between image files (through OpenImageIO) and the host's pixel buffers.
#pragma once

#include <OpenImageIO/imagebuf.h>

#include <memory>
#include <string>

#include "runtime/PixelImage.h"

namespace dof3d {

// The RGBA of `image` as a float ImageBuf of its size (fractions of full
// scale; float pixels as they are).
OIIO::ImageBuf toImageBuf(const dofrt::PixelImage& image);

// A pixel buffer of `format` holding channels 0-3 of `buf` (a missing alpha
// is opaque, a single channel is grey), converted from fractions with
// rounding and limits for the integer formats. Null if the host refuses it.
std::unique_ptr<dofrt::PixelImage> fromImageBuf(const OIIO::ImageBuf& buf, QVBitmapType format);

// Writes `buf` to `path` through a temporary file in the same folder that is
// renamed over `path` only when the whole image is written, so no partial
// file is ever left. `dataFormat` unknown keeps the buffer's own. False with
// a one-line `error` naming the file.
bool writeImageAtomically(const OIIO::ImageBuf& buf, const std::string& path,
                          std::string* error, OIIO::TypeDesc dataFormat = OIIO::TypeUnknown);

}  // namespace dof3d
