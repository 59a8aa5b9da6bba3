// std_LUT_blur: one line of interleaved 8-bit RGBA pixels blurred through a
// caller-built product table, alpha taken from the first pixel.
#include <cstddef>
#include <cstdint>

#include "blur/byte_conversion.h"
#include "blur/kernel_check.h"
#include "blur/line_blur.h"
#include "blur/line_runs.h"
#include "kernels/Kernel.h"

using dof::line_blur::cutWindow;
using dof::line_blur::fixedPointByte;
using dof::line_blur::fixedPointScale;
using dof::line_blur::lineElement;
using dof::line_blur::LineRuns;
using dof::line_blur::roundedByte;
using dof::line_blur::splitLine;
using dof::line_blur::TapWindow;
using dof::line_blur::usableKernel;

namespace {

struct TableSums {
    std::uint32_t s1 = 0;
    std::uint32_t s2 = 0;
    std::uint32_t s3 = 0;
};

// Table sums of the three colour bytes over source pixels first..last; the
// first tap reads table row `row`, each later tap the next row.
inline TableSums sumTable(unsigned char const* src, int srcStride, int first, int last,
                          QVULong const* row) {
    TableSums sums;
    for (int j = first; j <= last; ++j, row += 256) {
        unsigned char const* pixel = lineElement(src, j, srcStride);
        sums.s1 += static_cast<std::uint32_t>(row[pixel[1]]);
        sums.s2 += static_cast<std::uint32_t>(row[pixel[2]]);
        sums.s3 += static_cast<std::uint32_t>(row[pixel[3]]);
    }
    return sums;
}

}  // namespace

void std_LUT_blur(unsigned char const* src, int srcStride, int outStride, int n, unsigned char* out,
                  GaussianKernel const* kernel, QVULong const* lut) {
    if (n <= 0 || !usableKernel(kernel) || lut == nullptr) return;
    // The whole line takes the alpha of its first pixel.
    const unsigned char a = src[0];
    if (a == 0) {
        for (int i = 0; i < n; ++i) lineElement(out, i, outStride)[0] = 0;
        return;
    }
    const int R = kernel->radius;
    double const* weights = kernel->weights;
    const LineRuns<int> runs = splitLine(n, R);

    // A cut window: the table sums are renormalised by the weights that remain.
    auto writeCut = [&](int i) {
        const TapWindow<int> window = cutWindow(i, n, R);
        const TableSums sums = sumTable(src, srcStride, window.first, window.last,
                                        lut + std::ptrdiff_t(window.firstWeight) * 256);
        double const* w = weights + window.firstWeight;
        double W = 0.0;
        for (int j = window.first; j <= window.last; ++j, ++w) W += *w;
        const double scale = fixedPointScale(W);
        unsigned char* pixel = lineElement(out, i, outStride);
        pixel[0] = a;
        pixel[1] = roundedByte(double(sums.s1) * scale);
        pixel[2] = roundedByte(double(sums.s2) * scale);
        pixel[3] = roundedByte(double(sums.s3) * scale);
    };

    int i = 0;
    for (; i < runs.leadingEnd; ++i) writeCut(i);
    // The whole window: weights summing to 1 need no renormalising, so the
    // table sums are only rounded out of 16.16.
    for (; i < runs.interiorEnd; ++i) {
        const TableSums sums = sumTable(src, srcStride, i - R, i + R, lut);
        unsigned char* pixel = lineElement(out, i, outStride);
        pixel[0] = a;
        pixel[1] = fixedPointByte(sums.s1);
        pixel[2] = fixedPointByte(sums.s2);
        pixel[3] = fixedPointByte(sums.s3);
    }
    for (; i < n; ++i) writeCut(i);
}
