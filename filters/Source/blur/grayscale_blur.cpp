// grayscale_blur and grayscale_max_blur: one line of single-channel bytes
// filtered through a scratch line of doubles, so the output may overlap the
// source in any way.
#include "blur/byte_conversion.h"
#include "blur/kernel_check.h"
#include "blur/line_blur.h"
#include "blur/line_runs.h"
#include "blur/scratch_line.h"
#include "kernels/Kernel.h"

using dof::line_blur::cutWindow;
using dof::line_blur::lineElement;
using dof::line_blur::LineRuns;
using dof::line_blur::roundedByte;
using dof::line_blur::ScratchLine;
using dof::line_blur::splitLine;
using dof::line_blur::TapWindow;
using dof::line_blur::usableKernel;

namespace {

// Weighted sum over samples first..last, the first tap weighted by w[0].
inline double weightedSum(double const* x, int first, int last, double const* w) {
    double S = 0.0;
    for (int j = first; j <= last; ++j, ++w) S += *w * x[j];
    return S;
}

// Largest weighted sample over first..last, never below 0.0.
inline double weightedMax(double const* x, int first, int last, double const* w) {
    const double p0 = w[0] * x[first];
    double M = p0 > 0.0 ? p0 : 0.0;
    ++w;
    for (int j = first + 1; j <= last; ++j, ++w) {
        const double p = *w * x[j];
        if (p > M) M = p;
    }
    return M;
}

// Converts the whole source line before a byte is written. Null when the
// line cannot be allocated; the caller then leaves its output as it is.
class SourceLine {
public:
    SourceLine(unsigned char const* src, int srcStride, int n) : scratch_(QVULong(n), 8) {
        double* x = samples();
        if (x == nullptr) return;
        for (int j = 0; j < n; ++j) x[j] = double(*lineElement(src, j, srcStride));
    }
    double* samples() const { return static_cast<double*>(scratch_.data()); }

private:
    ScratchLine scratch_;
};

}  // namespace

void grayscale_blur(unsigned char const* src, unsigned char* out, int srcStride, int outStride,
                    int n, Kernel const* kernel) {
    if (n <= 0 || !usableKernel(kernel)) return;
    const SourceLine line(src, srcStride, n);
    double const* x = line.samples();
    if (x == nullptr) return;
    const int R = kernel->radius;
    double const* weights = kernel->weights;
    const LineRuns<int> runs = splitLine(n, R);

    // A cut window is renormalised by the weights that remain.
    auto writeCut = [&](int i) {
        const TapWindow<int> window = cutWindow(i, n, R);
        double const* w = weights + window.firstWeight;
        const double S = weightedSum(x, window.first, window.last, w);
        double W = 0.0;
        for (int j = window.first; j <= window.last; ++j, ++w) W += *w;
        *lineElement(out, i, outStride) = roundedByte(S * (1.0 / W));
    };

    int i = 0;
    for (; i < runs.leadingEnd; ++i) writeCut(i);
    // The whole window: the kernel sums to 1, so S is the mean.
    for (; i < runs.interiorEnd; ++i)
        *lineElement(out, i, outStride) = roundedByte(weightedSum(x, i - R, i + R, weights));
    for (; i < n; ++i) writeCut(i);
}

void grayscale_max_blur(unsigned char const* src, unsigned char* out, int srcStride, int outStride,
                        int n, Kernel const* kernel) {
    if (n <= 0 || !usableKernel(kernel)) return;
    const SourceLine line(src, srcStride, n);
    double const* x = line.samples();
    if (x == nullptr) return;
    const int R = kernel->radius;
    double const* weights = kernel->weights;
    const LineRuns<int> runs = splitLine(n, R);

    auto writeCut = [&](int i) {
        const TapWindow<int> window = cutWindow(i, n, R);
        *lineElement(out, i, outStride) =
            roundedByte(weightedMax(x, window.first, window.last, weights + window.firstWeight));
    };

    int i = 0;
    for (; i < runs.leadingEnd; ++i) writeCut(i);
    for (; i < runs.interiorEnd; ++i)
        *lineElement(out, i, outStride) = roundedByte(weightedMax(x, i - R, i + R, weights));
    for (; i < n; ++i) writeCut(i);
}
