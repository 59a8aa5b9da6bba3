// The tests' one random generator: raw outputs of a fixed engine, reduced by
// integer arithmetic only, so that native and i386 builds see the same values
// for the same seed.
#pragma once

#include <cstdint>
#include <random>

namespace dof::test {

class Random {
public:
    explicit Random(std::uint32_t seed) : gen_(seed) {}
    std::uint32_t next() { return std::uint32_t(gen_()); }
    // 0 to n - 1.
    int below(int n) { return int(next() % std::uint32_t(n)); }
    // lo to hi, both included.
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    // [0, 1).
    double unit() { return double(next()) / 4294967296.0; }
    std::uint8_t byte() { return std::uint8_t(next() >> 24); }
    bool chance(int percent) { return below(100) < percent; }

private:
    std::mt19937 gen_;
};

}  // namespace dof::test
