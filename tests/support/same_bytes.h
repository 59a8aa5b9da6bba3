// Byte-for-byte comparison that names the first differing offset.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace dof::test {

inline ::testing::AssertionResult sameBytes(const void* actual, const void* expected,
                                            std::size_t size) {
    const unsigned char* a = static_cast<const unsigned char*>(actual);
    const unsigned char* e = static_cast<const unsigned char*>(expected);
    for (std::size_t b = 0; b < size; ++b)
        if (a[b] != e[b])
            return ::testing::AssertionFailure()
                   << "byte " << b << " is " << int(a[b]) << ", expected " << int(e[b]);
    return ::testing::AssertionSuccess();
}

template <typename T>
::testing::AssertionResult sameBytes(const std::vector<T>& actual, const std::vector<T>& expected) {
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure()
               << "sizes " << actual.size() << " and " << expected.size();
    return sameBytes(actual.data(), expected.data(), actual.size() * sizeof(T));
}

}  // namespace dof::test
