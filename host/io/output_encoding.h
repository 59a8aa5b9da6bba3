// How a rendered frame's values become an output file's pixels: the channels
// the file type takes, their data types, colour linear or encoded for display,
// and colour premultiplied by alpha or straight.
//
// Integer pixels (8 and 16 bits) are display-referred: their colour is
// encoded for a display (sRGB unless another colour space is named).
// Floating-point pixels (half, float) are linear. A frame is read in the
// class of its own data type and converted to that of the output's, so
// linear OpenEXR renders become sRGB in a PNG and back.
#pragma once

#include <string>

namespace dof {

struct OutputEncoding {
    std::string dataType;  // uint8, uint16, half, float; empty keeps the input's
    bool rgbaOnly = false;
    std::string displayColourSpace = "sRGB";  // of integer pixels, read and written
    std::string settingsRecord;               // stored in the file when not empty
    std::string cocChannel;  // the name of a circle of confusion channel to add; empty: none
    // Pixels of blur at either end of an 8-bit circle of confusion picture.
    double cocScale = 64.0;
};

// What is wrong with writing `path`'s file type (`greyMap`: as the
// one-channel radius map): one line naming the file, or empty when dof3d
// writes it.
std::string outputTypeProblem(const std::string& path, bool greyMap = false);

// What is wrong with writing `dataType` (empty: any) to `path`'s file type,
// or empty when the file type stores it.
std::string dataTypeProblem(const std::string& path, const std::string& dataType);

// What is wrong with a colour space name, or empty when OpenImageIO's colour
// configuration (OpenColorIO's, where one is set) knows it.
std::string colourSpaceProblem(const std::string& name);

}  // namespace dof
