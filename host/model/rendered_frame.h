// What a render gives a frame: for every part, the window its output holds
// (grown by the blur's reach where the render writes the part), and the
// values of every channel the render wrote, over that window. The channels
// it did not write keep the frame's values; the frame itself stays as it was
// read.
#pragma once

#include <vector>

#include "model/rect.h"

namespace dof {

// One channel as the render left it, over its part's window, row by row.
struct RenderedChannel {
    int part = 0;
    int channel = 0;
    std::vector<float> values;
};

struct RenderedFrame {
    std::vector<Rect> windows;  // one per part of the frame
    std::vector<RenderedChannel> channels;

    // Keeps `values` as the channel's, in place of any it had.
    void store(int part, int channel, std::vector<float> values);
    // The channel's values, or null where the render did not write it.
    const std::vector<float>* find(int part, int channel) const;
};

}  // namespace dof
