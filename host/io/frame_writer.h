// A rendered frame written as its output, with its circle of confusion pass
// beside it when one is asked for: both are written and checked under temporary names
// first, then put in place together, so that no partial or damaged file ever
// takes an output's name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/frame_reader.h"
#include "io/output_encoding.h"
#include "model/rendered_frame.h"
#include "util/frame_sequence.h"

namespace dof {

// Whether a file can be created at `path`: its folder exists and takes
// files, and its extension names a file type we can write. False with a
// one-line `error` naming the file.
bool canWrite(const std::string& path, std::string* error);

enum class WriteOutcome { Written, Failed, Interrupted };

// The writer of one frame's output, made once when the frame starts: it
// decides the output's file type, and with it what of the frame the output
// holds and how it is written.
class OutputWriter {
public:
    // Null with a one-line `error` naming the file when no writer can be
    // made for `path` (a type we do not write, or no memory).
    static std::unique_ptr<OutputWriter> create(const std::string& path, std::string* error);
    ~OutputWriter();

    // Which channels of each of the frame's parts (the first its own image)
    // the output holds.
    std::vector<std::vector<bool>> writtenChannels(const Frame& frame, const FileRecord& file,
                                                   const OutputEncoding& encoding) const;

    // Writes the frame's output to files.output as `encoding` says, and the
    // circle of confusion pass `coc` (over the first part's output window)
    // to files.cocMap when that is named: a float channel "coc" in an
    // OpenEXR, an 8-bit grey picture in other file types (128 in focus, 0 at
    // encoding.cocScale pixels in front of the focus, 255 at as many
    // behind). Takes the frame, the render and the pass, and lets go of them
    // once the files' images are made, so that the files are written with
    // those alone in memory. Interrupted, with nothing in place, when a stop
    // is asked for before the files are put in place; failed with a
    // one-line `error`. `leftOut` receives what of the frame the output's
    // file type does not hold.
    WriteOutcome write(Frame&& frame, const FileRecord& file, RenderedFrame&& rendered,
                       std::vector<float>&& coc, const FrameFiles& files,
                       const OutputEncoding& encoding, std::vector<std::string>* leftOut,
                       std::string* error);

private:
    struct Library;  // the image library's writer
    explicit OutputWriter(std::unique_ptr<Library> library);
    std::unique_ptr<Library> library_;
};

}  // namespace dof
