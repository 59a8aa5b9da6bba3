// grayscale_LUT_blur: one line of single-channel bytes blurred through a
// caller-built product table.
#include <cstddef>
#include <cstdint>

#include "blur/byte_conversion.h"
#include "blur/line_blur.h"
#include "blur/line_runs.h"
#include "blur/scratch_line.h"

using dof::line_blur::cutWindow;
using dof::line_blur::fixedPointByte;
using dof::line_blur::fixedPointScale;
using dof::line_blur::lineElement;
using dof::line_blur::LineRuns;
using dof::line_blur::roundedByte;
using dof::line_blur::ScratchLine;
using dof::line_blur::splitLine;
using dof::line_blur::TapWindow;

namespace {

// The strides are the host's 32-bit unsigned values; on its 32-bit platform
// an address wraps, so 0xFFFFFFFF steps back one byte. Reading them as signed
// gives the same addresses on a 64-bit build.
inline std::ptrdiff_t byteStep(unsigned int stride) { return static_cast<std::int32_t>(stride); }

// Table sum over samples first..last; the first tap reads table row `row`,
// each later tap the next row.
inline std::uint32_t sumTable(unsigned char const* src, std::ptrdiff_t srcStep, unsigned int first,
                              unsigned int last, QVULong const* row) {
    std::uint32_t S = 0;
    for (unsigned int j = first; j <= last; ++j, row += 256)
        S += static_cast<std::uint32_t>(row[*lineElement(src, j, srcStep)]);
    return S;
}

}  // namespace

void grayscale_LUT_blur(unsigned char const* src, unsigned char* out, unsigned int srcStride,
                        unsigned int outStride, unsigned int n, unsigned int R,
                        double const* weights, QVULong const* lut) {
    if (n == 0 || weights == nullptr || lut == nullptr) return;
    std::ptrdiff_t srcStep = byteStep(srcStride);
    const std::ptrdiff_t outStep = byteStep(outStride);

    // Filtering in place reads a copy of the line: outputs written early would
    // otherwise feed the windows of later ones.
    ScratchLine copy(src == out ? n : 0u, 1);  // nothing is allocated for 0 bytes
    if (src == out) {
        unsigned char* bytes = static_cast<unsigned char*>(copy.data());
        if (bytes == nullptr) return;
        for (unsigned int j = 0; j < n; ++j) bytes[j] = *lineElement(src, j, srcStep);
        src = bytes;
        srcStep = 1;
    }

    const LineRuns<unsigned int> runs = splitLine(n, R);

    // A cut window: the table sum is renormalised by the weights that remain.
    auto writeCut = [&](unsigned int i) {
        const TapWindow<unsigned int> window = cutWindow(i, n, R);
        const std::uint32_t S = sumTable(src, srcStep, window.first, window.last,
                                         lut + std::ptrdiff_t(window.firstWeight) * 256);
        double const* w = weights + window.firstWeight;
        double W = 0.0;
        for (unsigned int j = window.first; j <= window.last; ++j, ++w) W += *w;
        *lineElement(out, i, outStep) = roundedByte(double(S) * fixedPointScale(W));
    };

    unsigned int i = 0;
    for (; i < runs.leadingEnd; ++i) writeCut(i);
    // The whole window: weights summing to 1 need no renormalising.
    for (; i < runs.interiorEnd; ++i)
        *lineElement(out, i, outStep) = fixedPointByte(sumTable(src, srcStep, i - R, i + R, lut));
    for (; i < n; ++i) writeCut(i);
}
