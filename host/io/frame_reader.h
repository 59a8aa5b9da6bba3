// Frames read from image files: a flat image with its depth (a channel, a
// part of the same view, or a separate depth image), or a deep image whose
// samples become each pixel's fragments, as camera distances. What the frame
// leaves out and the output's writer needs again stays in a record beside it.
#pragma once

#include <memory>
#include <string>

#include "model/depth_conventions.h"
#include "model/frame.h"

namespace dof {

struct ReadOptions {
    std::string depthFile;     // separate depth image; empty = a channel of the input
    std::string depthChannel;  // channel name to use; empty = Z, then depth.Z
    DepthConvention convention = DepthConvention::Distance;
    double noHitAbove = kNoHitAbove;  // camera distances at or above it hit nothing
};

// What a file held besides its frame: each part's description as stored
// (attributes, channel data types), what a part holds beyond its data
// window, the reader's name for the file type. Only the image I/O looks
// inside.
class FileRecord {
public:
    struct Contents;
    FileRecord();
    ~FileRecord();
    FileRecord(FileRecord&&) noexcept;
    FileRecord& operator=(FileRecord&&) noexcept;

    Contents& contents() { return *contents_; }
    const Contents& contents() const { return *contents_; }

private:
    std::unique_ptr<Contents> contents_;
};

// Reads `path` (and the separate depth image). False with a one-line `error`
// that names the file: missing, not a regular file, unreadable, corrupt or
// truncated, larger than kMaxFramePixels, no depth channel, a depth image of
// another size. NaN and infinite values of the channels to be blurred are
// read as 0 and counted.
bool readFrame(const std::string& path, const ReadOptions& options, Frame* frame,
               FileRecord* record, std::string* error);

}  // namespace dof
