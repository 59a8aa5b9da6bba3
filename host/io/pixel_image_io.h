// Between image files (through OpenImageIO) and the host's pixel buffers.
#pragma once

#include <OpenImageIO/imagebuf.h>

#include <string>

#include "runtime/PixelImage.h"

namespace dof {

// The RGBA of `image` as a float ImageBuf of its size (fractions of full
// scale; float pixels as they are). The effect's buffers hold colour not
// multiplied by alpha, and the buffer says so, so that writers of formats
// that store straight colour do not divide it by alpha once more.
OIIO::ImageBuf toImageBuf(const runtime::PixelImage& image);

}  // namespace dof
