#include "model/rendered_frame.h"

#include <utility>

namespace dof {

void RenderedFrame::store(int part, int channel, std::vector<float> values) {
    for (RenderedChannel& c : channels)
        if (c.part == part && c.channel == channel) {
            c.values = std::move(values);
            return;
        }
    channels.push_back(RenderedChannel{part, channel, std::move(values)});
}

const std::vector<float>* RenderedFrame::find(int part, int channel) const {
    for (const RenderedChannel& c : channels)
        if (c.part == part && c.channel == channel) return &c.values;
    return nullptr;
}

}  // namespace dof
