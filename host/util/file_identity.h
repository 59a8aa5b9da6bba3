// What a path names on disk: whether it is a regular file that can be read
// as an image, and whether two paths name the same file, so that no output
// of a run ever replaces one of its inputs or another of its outputs.
#pragma once

#include <string>
#include <vector>

#include "util/frame_sequence.h"

namespace dof {

// Empty when `path` is a regular file (or a link to one); otherwise what it
// is instead, for a message: "no such file", "not a regular file (...)".
// Devices and FIFOs are refused before they are opened: reading them may
// never end.
std::string regularFileProblem(const std::string& path);

// The first output among the frames' files that names the same file as an
// input, a depth image or another output (of the same frame or any other),
// as a one-line message naming it; empty when there is none. Two paths name
// the same file when they lead to the same device and inode, or, for files
// not there yet, to the same name in the same folder (else the same
// absolute, normalised path).
std::string outputClash(const std::vector<FrameFiles>& frames, bool sequence);

}  // namespace dof
