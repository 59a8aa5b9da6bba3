// The file types dof3d writes, by the output's extension: for each, the data
// types it stores and the channels it takes. Their writers encode into memory,
// so that a full disk is our error and never the writer's, and what they
// write reads back whole; every other type the image library offers is
// refused before anything is rendered.
#pragma once

#include <OpenImageIO/typedesc.h>

#include <string>
#include <vector>

namespace dof {

enum class ChannelRule {
    Any,          // every channel of the frame, named
    UpToFour,     // grey, R G B, or R G B A
    ThreeOnly,    // R G B, nothing else (the radius map cannot be one)
};

struct OutputType {
    const char* format;      // the image library's name for it
    const char* extensions;  // written under these, comma-separated
    std::vector<OIIO::TypeDesc> dataTypes;  // least precise first
    ChannelRule channels;
    bool throughMemory;  // encoded in memory; else by its writer into the temporary
};

// The type for `path`'s extension, or null with a one-line `problem`
// naming the file (`greyMap`: the file holds the one-channel radius map).
const OutputType* outputTypeFor(const std::string& path, bool greyMap, std::string* problem);

// The type the image library calls `format`, or null when dof3d does not
// write it.
const OutputType* outputTypeNamed(const std::string& format);

}  // namespace dof
