// Large buffers backed by huge pages where the system offers them: a
// fraction of the page faults on their first touch, and of the address
// translations after.
#pragma once

#include <cstddef>
#include <vector>

namespace dof::runtime {

// Advises the system to back the whole huge pages inside [data, data + bytes).
void preferHugePages(void* data, std::size_t bytes);

// `v` resized to `n` copies of `value`, its storage advised before it is
// first touched.
template <typename T>
void assignLarge(std::vector<T>& v, std::size_t n, const T& value) {
    std::vector<T>().swap(v);
    v.reserve(n);
    preferHugePages(v.data(), n * sizeof(T));
    v.assign(n, value);
}

}  // namespace dof::runtime
