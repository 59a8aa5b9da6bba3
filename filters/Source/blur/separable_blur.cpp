// std_blur and aw_blur: one line of premultiplied RGBA planes of doubles into
// 8-bit pixels, alpha in byte 0.
#include "blur/byte_conversion.h"
#include "blur/kernel_check.h"
#include "blur/line_blur.h"
#include "blur/line_runs.h"
#include "kernels/Kernel.h"

using dof::line_blur::cutWindow;
using dof::line_blur::lineElement;
using dof::line_blur::LineRuns;
using dof::line_blur::roundedByte;
using dof::line_blur::splitLine;
using dof::line_blur::TapWindow;
using dof::line_blur::usableKernel;

namespace {

struct ColourSums {
    double s1 = 0.0;
    double s2 = 0.0;
    double s3 = 0.0;
};

// Colour sums over taps first..last, the first tap weighted by w[0]; every sum
// starts at 0.0 and takes the taps in increasing j.
inline ColourSums sumColour(double const* c1, double const* c2, double const* c3, int first,
                            int last, double const* w) {
    ColourSums sums;
    for (int j = first; j <= last; ++j, ++w) {
        sums.s1 += *w * c1[j];
        sums.s2 += *w * c2[j];
        sums.s3 += *w * c3[j];
    }
    return sums;
}

inline double sumWeights(int first, int last, double const* w) {
    double W = 0.0;
    for (int j = first; j <= last; ++j, ++w) W += *w;
    return W;
}

inline void writeColour(unsigned char* pixel, ColourSums const& sums, double k) {
    pixel[1] = roundedByte(sums.s1 * k);
    pixel[2] = roundedByte(sums.s2 * k);
    pixel[3] = roundedByte(sums.s3 * k);
}

}  // namespace

void std_blur(double const* alpha, double const* c1, double const* c2, double const* c3, int n,
              unsigned char* out, QVLong stride, Kernel const* kernel) {
    if (n <= 0 || !usableKernel(kernel)) return;
    const double a = *alpha;
    // A transparent line has no colour to recover: only the alpha is written.
    if (a == 0.0) {
        for (int i = 0; i < n; ++i) lineElement(out, i, stride)[0] = 0;
        return;
    }
    const unsigned char alphaByte = roundedByte(a);
    const int R = kernel->radius;
    double const* weights = kernel->weights;
    const LineRuns<int> runs = splitLine(n, R);

    // A cut window is renormalised by the weights that remain.
    auto writeCut = [&](int i) {
        const TapWindow<int> window = cutWindow(i, n, R);
        double const* w = weights + window.firstWeight;
        const ColourSums sums = sumColour(c1, c2, c3, window.first, window.last, w);
        const double W = sumWeights(window.first, window.last, w);
        unsigned char* pixel = lineElement(out, i, stride);
        pixel[0] = alphaByte;
        writeColour(pixel, sums, 1.0 / (W * a));
    };

    int i = 0;
    for (; i < runs.leadingEnd; ++i) writeCut(i);
    // The whole window: the kernel sums to 1, so no weight sum is formed.
    for (; i < runs.interiorEnd; ++i) {
        const ColourSums sums = sumColour(c1, c2, c3, i - R, i + R, weights);
        unsigned char* pixel = lineElement(out, i, stride);
        pixel[0] = alphaByte;
        writeColour(pixel, sums, 1.0 / a);
    }
    for (; i < n; ++i) writeCut(i);
}

void aw_blur(double const* alpha, double const* c1, double const* c2, double const* c3, int n,
             unsigned char* out, QVLong stride, Kernel const* kernel) {
    if (n <= 0 || !usableKernel(kernel)) return;
    const int R = kernel->radius;
    double const* weights = kernel->weights;
    const LineRuns<int> runs = splitLine(n, R);

    // Every window divides by its own weight and alpha sums, so the runs differ
    // only in how the window is bounded.
    auto writePixel = [&](int i, int first, int last, double const* w) {
        double Sa = 0.0;
        double W = 0.0;
        for (int j = first; j <= last; ++j) {
            Sa += w[j - first] * alpha[j];
            W += w[j - first];
        }
        const ColourSums sums = sumColour(c1, c2, c3, first, last, w);
        unsigned char* pixel = lineElement(out, i, stride);
        pixel[0] = roundedByte(Sa / W);
        // No alpha under the window (or a sum that is not a number): the colour
        // bytes keep what they held.
        if (Sa > 0) writeColour(pixel, sums, 1.0 / Sa);
    };
    auto writeCut = [&](int i) {
        const TapWindow<int> window = cutWindow(i, n, R);
        writePixel(i, window.first, window.last, weights + window.firstWeight);
    };

    int i = 0;
    for (; i < runs.leadingEnd; ++i) writeCut(i);
    for (; i < runs.interiorEnd; ++i) writePixel(i, i - R, i + R, weights);
    for (; i < n; ++i) writeCut(i);
}
