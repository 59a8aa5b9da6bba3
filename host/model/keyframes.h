// Values that change from frame to frame: keys at frames, interpolated
// between them and held before the first and after the last.
#pragma once

#include <vector>

namespace dof {

enum class Interpolation {
    Linear,  // a straight line from key to key
    // A cubic from key to key with zero slope at both ends, (3 - 2t) t^2 of
    // the way: it eases out of each key and into the next, and never leaves
    // the range of the two keys, so a focus pull never overshoots its mark.
    Smooth,
};

const char* interpolationName(Interpolation interpolation);

struct Key {
    int frame = 0;
    std::vector<double> values;  // one per component: a distance, or a pixel's x and y
};

class Keyframes {
public:
    Keyframes() = default;
    // The same values on every frame.
    static Keyframes constant(std::vector<double> values);
    // Keys at distinct frames, kept in frame order; every key holds as many
    // values as the first.
    explicit Keyframes(std::vector<Key> keys);

    bool empty() const { return keys_.empty(); }
    // More than one key: the values may differ between frames.
    bool animated() const { return keys_.size() > 1; }
    bool keyed() const { return keyed_; }  // given as keys, not as one plain value
    const std::vector<Key>& keys() const { return keys_; }

    // Component `component` at `frame`; 0 when there are no keys.
    double at(int frame, Interpolation interpolation, std::size_t component = 0) const;

private:
    std::vector<Key> keys_;
    bool keyed_ = false;
};

}  // namespace dof
