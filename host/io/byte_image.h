// Images read and written at 8 bits per channel, for dof3d blur: the bytes
// as the file stores them, and the file's description kept for writing the
// result back.
#pragma once

#include <string>
#include <vector>

#include "io/frame_reader.h"

namespace dof {

struct ByteImage {
    int width = 0, height = 0, channels = 0;
    std::vector<unsigned char> bytes;  // channels per pixel, row after row
    FileRecord record;                 // the file it was read from
};

// Reads `path` with its colour as stored (not divided by alpha). False with
// a one-line `error` naming the file: unreadable, not two-dimensional, or too
// large for the line blurs, whose strides and line lengths are 32-bit
// integers (the whole image is kept below 2 GiB a copy).
bool readByteImage(const std::string& path, ByteImage* image, std::string* error);

// Writes `image` (its first channels, as many as it has) with the
// description of the file it was read from, colour as it is; in place only
// once whole.
bool writeByteImage(const ByteImage& image, const std::string& path, std::string* error);

}  // namespace dof
