// Opening a two-dimensional image for reading, the way every reader of
// pictures beside the frames (aperture pictures, 8-bit images) refuses what
// it cannot use: in one line naming the file.
#pragma once

#include <OpenImageIO/imageio.h>

#include <memory>
#include <string>

namespace dof {

// The image at `path` opened with `config` (null: the library's defaults),
// or null with a one-line `error` naming the file when it cannot be read or
// is not a two-dimensional image with at least one channel.
std::unique_ptr<OIIO::ImageInput> openFlatImage(const std::string& path,
                                                const OIIO::ImageSpec* config,
                                                std::string* error);

}  // namespace dof
