// Frame numbers in file names: `####` (one digit per #) or printf's `%04d`,
// frame lists such as 1001-1100 or 1,5,10-20x2, and the frames left to do.
#pragma once

#include <string>
#include <vector>

namespace dof {

// Whether a path holds a frame field (a run of '#', or %d / %0Nd).
bool hasFramePattern(const std::string& path);

// The path with every frame field replaced by `frame`, zero-padded to the
// field's width (a run of n '#' or the N of %0Nd; %d pads nothing). Frames
// wider than their field are written in full.
std::string framePath(const std::string& pattern, int frame);

// Parses a frame list: comma-separated items, each N, A-B or A-BxS (every
// S-th frame from A to B), frames 0 or above, A not above B. Frames keep
// their first order and appear once. False with a one-line `error`.
bool parseFrameList(const std::string& text, std::vector<int>* frames, std::string* error);

// The frames whose files are on disk for a pattern whose frame fields lie in
// its file name: every entry of the folder that the pattern names with some
// frame (framePath of that frame gives its name), sorted. Empty when none is
// there, the folder cannot be read, or a frame field lies in a folder's name.
std::vector<int> framesOnDisk(const std::string& pattern);

// Frames as a frame list: runs of consecutive frames as A-B, others alone,
// in the list's order ("1001-1024", "1,3-5").
std::string frameListText(const std::vector<int>& frames);

// The frames task `task` of a farm renders: the list cut in order into chunks
// of `chunk` frames (chunk >= 1), task 0 taking the first. The chunks cover
// the list once, the last one shorter when the size is not a multiple;
// empty for a task below 0 or beyond the last chunk (task ceil(size / chunk)
// and up).
std::vector<int> frameChunk(const std::vector<int>& frames, int chunk, int task);

// One frame's files.
struct FrameFiles {
    int frame = 0;  // 0 for a single image
    std::string input;
    std::string depth;  // separate depth image, or empty
    std::string output;
    std::string cocMap;  // or empty
};

// The files of each frame, from patterns (or plain paths for one image).
std::vector<FrameFiles> expandFrames(const std::vector<int>& frames, const std::string& input,
                                     const std::string& depth, const std::string& output,
                                     const std::string& cocMap);

}  // namespace dof
