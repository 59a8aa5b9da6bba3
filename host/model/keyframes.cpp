#include "model/keyframes.h"

#include <algorithm>

namespace dof {

const char* interpolationName(Interpolation interpolation) {
    return interpolation == Interpolation::Smooth ? "smooth" : "linear";
}

Keyframes Keyframes::constant(std::vector<double> values) {
    Keyframes keys;
    keys.keys_.push_back(Key{0, std::move(values)});
    return keys;
}

Keyframes::Keyframes(std::vector<Key> keys) : keys_(std::move(keys)), keyed_(true) {
    std::sort(keys_.begin(), keys_.end(),
              [](const Key& a, const Key& b) { return a.frame < b.frame; });
}

double Keyframes::at(int frame, Interpolation interpolation, std::size_t component) const {
    if (keys_.empty()) return 0.0;
    if (frame <= keys_.front().frame) return keys_.front().values[component];
    if (frame >= keys_.back().frame) return keys_.back().values[component];
    // The first key after the frame, and the one before it.
    const auto next = std::upper_bound(keys_.begin(), keys_.end(), frame,
                                       [](int f, const Key& key) { return f < key.frame; });
    const Key& a = *(next - 1);
    const Key& b = *next;
    double t = double(frame - a.frame) / double(b.frame - a.frame);
    if (interpolation == Interpolation::Smooth) t = t * t * (3.0 - 2.0 * t);
    const double from = a.values[component], to = b.values[component];
    // Written so that t = 0 and t = 1 give each key's value exactly.
    return t < 0.5 ? from + (to - from) * t : to - (to - from) * (1.0 - t);
}

}  // namespace dof
