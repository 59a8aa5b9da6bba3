// Shared pieces of the line-blur tests: sentinel-padded lines, kernels with
// chosen taps, and a small deterministic source of test values.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "kernels/Kernel.h"
#include "support/effect_fixture.h"
#include "support/same_bytes.h"

namespace blurtest {

// A fixed linear congruential sequence: the same values on every platform.
class TestValues {
public:
    explicit TestValues(std::uint32_t seed) : state_(seed) {}
    std::uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    // A whole number from lo to hi.
    int between(int lo, int hi) { return lo + int(next() % std::uint32_t(hi - lo + 1)); }
    // A fraction in (0, 1] with 16 bits of resolution.
    double fraction() { return double((next() & 0xFFFF) + 1) / 65536.0; }

private:
    std::uint32_t state_;
};

// n elements of elementSize bytes, element i at origin() + i x stride, inside
// a buffer whose every other byte holds a known pattern: a test compares the
// whole buffer, so a stray write anywhere shows.
class SentinelLine {
public:
    SentinelLine(int n, std::ptrdiff_t stride, std::size_t elementSize) {
        const std::size_t step = std::size_t(stride < 0 ? -stride : stride);
        const std::size_t count = n > 0 ? std::size_t(n) : 1;
        const std::size_t span = (count - 1) * step + elementSize;
        bytes.resize(span + 2 * kPad);
        for (std::size_t b = 0; b < bytes.size(); ++b) bytes[b] = (unsigned char)(b * 37 + 11);
        origin_ = kPad + (stride < 0 ? (count - 1) * step : 0);
    }
    unsigned char* origin() { return bytes.data() + origin_; }

    std::vector<unsigned char> bytes;

private:
    static constexpr std::size_t kPad = 24;
    std::size_t origin_;
};

using testsupport::sameBytes;

// A kernel of radius weights.size() / 2 with exactly these taps: a hat kernel
// of that radius, its taps overwritten.
inline std::unique_ptr<Kernel> kernelWith(std::vector<double> const& weights) {
    const int R = int(weights.size() / 2);
    std::unique_ptr<Kernel> kernel(new HatKernel(R / 2.0));
    if (!kernel || kernel->radius != R || kernel->weights == nullptr) {
        ADD_FAILURE() << "no hat kernel of radius " << R;
        return nullptr;
    }
    for (int k = 0; k <= 2 * R; ++k) kernel->weights[k] = weights[std::size_t(k)];
    return kernel;
}

// The same as a Gaussian kernel, for the routine that takes one: sigma R + 1/2
// with a cutoff of exp(-1/2) reaches exactly R taps.
inline std::unique_ptr<GaussianKernel> gaussianWith(std::vector<double> const& weights) {
    const int R = int(weights.size() / 2);
    std::unique_ptr<GaussianKernel> kernel(new GaussianKernel(R + 0.5, std::exp(-0.5)));
    if (!kernel || kernel->radius != R || kernel->weights == nullptr) {
        ADD_FAILURE() << "no Gaussian kernel of radius " << R;
        return nullptr;
    }
    for (int k = 0; k <= 2 * R; ++k) kernel->weights[k] = weights[std::size_t(k)];
    return kernel;
}

// 2R + 1 positive taps with no symmetry (so that a window read backwards
// shows), scaled to sum to about 1 by their own sum.
inline std::vector<double> lopsidedWeights(int R, TestValues& values) {
    std::vector<double> weights;
    double sum = 0.0;
    for (int k = 0; k <= 2 * R; ++k) {
        weights.push_back(values.fraction());
        sum += weights.back();
    }
    for (double& w : weights) w /= sum;
    return weights;
}

// Lengths and radii that reach every arrangement of the three runs.
struct LineShape {
    const char* name;
    int n;
    int R;
};

inline const std::vector<LineShape>& lineShapes() {
    static const std::vector<LineShape> shapes = {
        {"NegativeLength", -3, 2},       // nothing read or written
        {"EmptyLine", 0, 2},             // nothing read or written
        {"OneSampleRadius0", 1, 0},      // a single interior output
        {"Radius0", 9, 0},               // every output interior
        {"OneSampleWideWindow", 1, 3},   // window cut at both ends
        {"RadiusAboveLength", 4, 6},     // all in the leading run
        {"RadiusEqualsLength", 5, 5},    // all in the leading run
        {"LengthTwiceRadius", 8, 4},     // leading and trailing runs meet
        {"LengthBetweenRAnd2R", 5, 3},   // trailing run starts at R
        {"OneInteriorOutput", 7, 3},     // n = 2R + 1
        {"LongLine", 40, 3},             // mostly interior
        {"LongLineWideWindow", 61, 12},  // long ends and interior
    };
    return shapes;
}

inline std::string shapeName(int index) { return lineShapes()[std::size_t(index)].name; }

}  // namespace blurtest
