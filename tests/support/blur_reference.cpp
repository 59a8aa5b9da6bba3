#include "support/blur_reference.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernels/Kernel.h"

namespace dof::test::reference {

namespace {

// The window of output i: samples lo to hi. It is whole when it reaches R on
// both sides without leaving the line.
struct Window {
    long long lo, hi;
    bool whole;
};

Window windowOf(long long i, long long n, long long R) {
    return {i - R < 0 ? 0 : i - R, i + R > n - 1 ? n - 1 : i + R, i - R >= 0 && i + R <= n - 1};
}

std::vector<double> tapsOf(Kernel const* kernel) {
    return {kernel->weights, kernel->weights + 2 * kernel->radius + 1};
}

long long radiusOf(std::vector<double> const& weights) { return (long long)(weights.size() / 2); }

template <typename Byte>
Byte* at(Byte* base, long long i, long long stride) {
    return base + std::ptrdiff_t(i * stride);
}

// Nearest integer with halves to the even neighbour (the default rounding
// mode), then the low 8 bits.
unsigned char wrappedRound(double value) {
    return (unsigned char)std::uint64_t(std::int64_t(std::nearbyint(value)));
}

// The weighted sum of x over output i's window and the sum of the weights,
// each from 0.0 with the taps in increasing j.
struct Sums {
    double s = 0.0, w = 0.0;
};

Sums weightedSums(double const* x, std::vector<double> const& weights, long long i,
                  Window const& win) {
    const long long R = radiusOf(weights);
    Sums sums;
    for (long long j = win.lo; j <= win.hi; ++j) {
        sums.s = sums.s + weights[std::size_t(R + j - i)] * x[j];
        sums.w = sums.w + weights[std::size_t(R + j - i)];
    }
    return sums;
}

std::vector<double> samples(unsigned char const* src, long long stride, long long n) {
    std::vector<double> x;
    for (long long j = 0; j < n; ++j) x.push_back(*at(src, j, stride));
    return x;
}

long long wrap32(long long v) { return std::int32_t(std::uint32_t(std::uint64_t(v))); }

// Truncating quotient, low 8 bits.
unsigned char truncatedByte(long long numerator, long long denominator) {
    return (unsigned char)std::uint64_t(numerator / denominator);
}

// A LUT blur's byte from the table entries of its taps (sample(j) is the
// byte of tap j): a whole window rounds the 16.16 sum with an exact half
// going down, a cut one renormalises by the weights of its taps, halves to
// even. The sum is 32 bits wide.
template <typename Sample>
unsigned char tableByte(std::vector<double> const& weights, QVULong const* lut, long long i,
                        Window const& win, Sample sample) {
    const long long R = radiusOf(weights);
    std::uint64_t S = 0;
    double W = 0.0;
    for (long long j = win.lo; j <= win.hi; ++j) {
        S += lut[(R + j - i) * 256 + sample(j)];
        W = W + weights[std::size_t(R + j - i)];
    }
    S &= 0xFFFFFFFFu;
    if (win.whole) return (unsigned char)(((S + 32767) & 0xFFFFFFFFu) / 65536);
    return wrappedRound((1.52587890625e-05 / W) * double(S));
}

}  // namespace

void std_blur(double const* alpha, double const* c1, double const* c2, double const* c3, int n,
              unsigned char* out, QVLong stride, Kernel const* kernel) {
    const std::vector<double> weights = tapsOf(kernel);
    const double a = alpha[0];
    for (long long i = 0; i < n; ++i) {
        unsigned char* pixel = at(out, i, stride);
        pixel[0] = wrappedRound(a);
        if (a == 0.0) continue;
        const Window win = windowOf(i, n, radiusOf(weights));
        const double* planes[3] = {c1, c2, c3};
        for (int c = 0; c < 3; ++c) {
            const Sums sums = weightedSums(planes[c], weights, i, win);
            pixel[1 + c] = wrappedRound(sums.s * (win.whole ? 1.0 / a : 1.0 / (sums.w * a)));
        }
    }
}

void aw_blur(double const* alpha, double const* c1, double const* c2, double const* c3, int n,
             unsigned char* out, QVLong stride, Kernel const* kernel) {
    const std::vector<double> weights = tapsOf(kernel);
    for (long long i = 0; i < n; ++i) {
        unsigned char* pixel = at(out, i, stride);
        const Window win = windowOf(i, n, radiusOf(weights));
        const Sums a = weightedSums(alpha, weights, i, win);
        pixel[0] = wrappedRound(a.s / a.w);
        if (!(a.s > 0)) continue;
        const double* planes[3] = {c1, c2, c3};
        for (int c = 0; c < 3; ++c)
            pixel[1 + c] = wrappedRound(weightedSums(planes[c], weights, i, win).s * (1.0 / a.s));
    }
}

void boxBlur(QVLong const* alpha, QVLong const* c1, QVLong const* c2, QVLong const* c3, QVLong n,
             unsigned char* out, QVLong stride, QVLong R, QVLong weighted) {
    for (long long i = 0; i < n; ++i) {
        unsigned char* pixel = at(out, i, stride);
        const Window win = windowOf(i, n, R);
        long long sa = 0, s1 = 0, s2 = 0, s3 = 0;
        for (long long j = win.lo; j <= win.hi; ++j) {
            sa += weighted ? alpha[j] : 0;
            s1 += c1[j], s2 += c2[j], s3 += c3[j];
        }
        // The sums and the divisor are 32-bit integers; only input outside
        // the byte ranges makes them wrap, and a divisor wrapped to 0 leaves
        // the colour bytes.
        const long long count = win.hi - win.lo + 1;
        const long long divisor = wrap32(weighted ? sa : count * alpha[0]);
        pixel[0] = weighted ? truncatedByte(divisor, count) : (unsigned char)alpha[0];
        if (weighted ? divisor <= 0 : divisor == 0) continue;
        pixel[1] = truncatedByte(wrap32(s1), divisor);
        pixel[2] = truncatedByte(wrap32(s2), divisor);
        pixel[3] = truncatedByte(wrap32(s3), divisor);
    }
}

void std_LUT_blur(unsigned char const* src, int srcStride, int outStride, int n, unsigned char* out,
                  GaussianKernel const* kernel, QVULong const* lut) {
    const std::vector<double> weights = tapsOf(kernel);
    for (long long i = 0; i < n; ++i) {
        unsigned char* pixel = at(out, i, outStride);
        pixel[0] = src[0];
        if (src[0] == 0) continue;
        const Window win = windowOf(i, n, radiusOf(weights));
        for (int c = 1; c <= 3; ++c)
            pixel[c] = tableByte(weights, lut, i, win,
                                 [&](long long j) { return at(src, j, srcStride)[c]; });
    }
}

void grayscale_blur(unsigned char const* src, unsigned char* out, int srcStride, int outStride,
                    int n, Kernel const* kernel) {
    const std::vector<double> weights = tapsOf(kernel), x = samples(src, srcStride, n);
    for (long long i = 0; i < n; ++i) {
        const Window win = windowOf(i, n, radiusOf(weights));
        const Sums sums = weightedSums(x.data(), weights, i, win);
        *at(out, i, outStride) = wrappedRound(win.whole ? sums.s : sums.s * (1.0 / sums.w));
    }
}

void grayscale_max_blur(unsigned char const* src, unsigned char* out, int srcStride, int outStride,
                        int n, Kernel const* kernel) {
    const std::vector<double> weights = tapsOf(kernel), x = samples(src, srcStride, n);
    const long long R = radiusOf(weights);
    for (long long i = 0; i < n; ++i) {
        const Window win = windowOf(i, n, R);
        double M = 0.0;
        for (long long j = win.lo; j <= win.hi; ++j)
            M = std::fmax(M, weights[std::size_t(R + j - i)] * x[std::size_t(j)]);
        *at(out, i, outStride) = wrappedRound(M);
    }
}

void grayscale_LUT_blur(unsigned char const* src, unsigned char* out, unsigned int srcStride,
                        unsigned int outStride, unsigned int n, unsigned int R,
                        double const* weights, QVULong const* lut) {
    const std::vector<double> taps(weights, weights + 2 * R + 1);
    const std::vector<double> x = samples(src, std::int32_t(srcStride), n);
    for (long long i = 0; i < n; ++i)
        *at(out, i, std::int32_t(outStride)) = tableByte(
            taps, lut, i, windowOf(i, n, R), [&](long long j) { return int(x[std::size_t(j)]); });
}

std::vector<QVULong> productTable(std::vector<double> const& weights, TableRounding rounding) {
    std::vector<QVULong> table;
    for (double w : weights)
        for (int v = 0; v < 256; ++v) {
            const double product = w * v * 65536.0;
            table.push_back(QVULong(rounding == TableRounding::Nearest ? std::floor(product + 0.5)
                                                                       : std::trunc(product)));
        }
    return table;
}

}  // namespace dof::test::reference
