// Image files written so that no partial or damaged file ever takes an
// output's name: the image goes to a temporary file beside the output, is
// flushed to disk and read back, and only then is renamed into place.
//
// A temporary is named ".NAME.dof3d-PID-N.tmp" beside NAME: the leading dot
// and the suffix keep it out of the output's pattern (`*.exr` globs, frame
// lists). It is removed on every failure, when its owner is destroyed
// unrenamed, and when a second signal ends the program; temporaries a killed
// run left behind are removed when their output is written again.
#pragma once

#include <OpenImageIO/imagebuf.h>

#include <memory>
#include <string>
#include <vector>

namespace dof {

// Whether every pixel of the current part of `in` decodes; false with the
// reader's one-line `problem`.
bool decodesWhole(OIIO::ImageInput& in, std::string* problem);

// The writer for `path`'s file type; null with a one-line `error` naming the
// file when there is none.
std::unique_ptr<OIIO::ImageOutput> createWriter(const std::string& path, std::string* error);

class StagedImage {
public:
    StagedImage() = default;
    ~StagedImage() { discard(); }
    StagedImage(const StagedImage&) = delete;
    StagedImage& operator=(const StagedImage&) = delete;

    // Writes `buf` (in `dataFormat`; unknown keeps the buffer's) under a
    // temporary name beside `path`. Complete only when the writer, the close
    // and the flush to disk succeeded and the file reads back as an image of
    // the buffer's size; otherwise false with a one-line `error` naming
    // `path`, and the temporary is gone.
    bool write(const OIIO::ImageBuf& buf, const std::string& path, OIIO::TypeDesc dataFormat,
               std::string* error);
    // The same for a file of several parts (a multi-part OpenEXR), in order.
    bool write(const std::vector<const OIIO::ImageBuf*>& parts, const std::string& path,
               OIIO::TypeDesc dataFormat, std::string* error);
    // The same through `writer`, made by createWriter for `path`.
    bool write(const std::vector<const OIIO::ImageBuf*>& parts, const std::string& path,
               OIIO::TypeDesc dataFormat, OIIO::ImageOutput& writer, std::string* error);
    // Renames the written temporary over `path`.
    bool commit(std::string* error);
    // Removes the temporary, if one is there.
    void discard();

private:
    std::string path_;
    std::string temporary_;
    int slot_ = -1;  // in the signal handler's list
};

// Writes and commits one image: no partial file is ever left at `path`.
bool writeImageAtomically(const OIIO::ImageBuf& buf, const std::string& path, std::string* error,
                          OIIO::TypeDesc dataFormat = OIIO::TypeUnknown);

// Removes temporaries of ours for `path` whose program is no longer running.
void removeStaleTemporaries(const std::string& path);

}  // namespace dof
