// A rendered frame written as its output, with the radius map beside it when
// one is asked for: both are written and checked under temporary names
// first, then put in place together, so that no partial or damaged file ever
// takes an output's name.
#pragma once

#include <cstdint>
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

// Writes the frame's output to files.output as `encoding` says and
// `radiusMap` (bytes over the first part's output window) to files.cocMap
// when that is named. Interrupted, with nothing in place, when a stop is
// asked for before the files are put in place; failed with a one-line
// `error`. `leftOut` receives what of the frame the output's file type does
// not hold.
WriteOutcome writeFrame(const Frame& frame, const FileRecord& file, const RenderedFrame& rendered,
                        const std::vector<std::uint8_t>& radiusMap, const FrameFiles& files,
                        const OutputEncoding& encoding, std::vector<std::string>* leftOut,
                        std::string* error);

}  // namespace dof
