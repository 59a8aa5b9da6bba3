// Inside a file record: the image library's descriptions of the parts.
#pragma once

#include <OpenImageIO/imageio.h>

#include <string>
#include <vector>

#include "io/frame_reader.h"

namespace dof {

struct FileRecord::Contents {
    std::string formatName;              // the reader's name for the file type
    std::vector<OIIO::ImageSpec> parts;  // one per part of the frame, as stored
    // Per part and channel: what pixels beyond the data window hold (0; for a
    // deep file's flattened depth, "infinitely far" in the file's convention).
    std::vector<std::vector<float>> beyond;
};

}  // namespace dof
