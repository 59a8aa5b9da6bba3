// Pictures dof3d writes besides its renders (the built-in scene and its
// results): float colour, R, G, B and, with a fourth channel, alpha not
// multiplied into the colour.
#pragma once

#include <string>
#include <vector>

namespace dof {

struct Picture {
    int width = 0, height = 0;
    int channels = 4;           // 3 or 4; 1 for a grey picture
    std::vector<float> values;  // channels per pixel, row by row
};

// Writes `picture` at 8 or 16 `bits` per channel, in place only once whole.
// False with a one-line `error` naming the file.
bool writePicture(const Picture& picture, const std::string& path, int bits, std::string* error);

// Reads `path` as grey values (`channels` 1): its first channel, or with
// three or more channels the luminance of the first three (Rec. 709
// weights), as stored. False with a one-line `error` naming the file: empty,
// unreadable or not two-dimensional.
bool readGreyPicture(const std::string& path, Picture* picture, std::string* error);

}  // namespace dof
