#include "support/blur_reference.h"

#include <cmath>
#include <cstdint>

namespace blurref {

namespace {

// The window of output i: samples lo to hi. It is whole when it reaches R on
// both sides without leaving the line.
struct Window {
    long long lo;
    long long hi;
    bool whole;
};

Window windowOf(long long i, long long n, long long R) {
    Window w;
    w.lo = i - R < 0 ? 0 : i - R;
    w.hi = i + R > n - 1 ? n - 1 : i + R;
    w.whole = i - R >= 0 && i + R <= n - 1;
    return w;
}

// Weight of tap j for output i.
double weightOf(std::vector<double> const& weights, long long R, long long i, long long j) {
    return weights[static_cast<std::size_t>(R + j - i)];
}

unsigned char* at(unsigned char* base, long long i, std::ptrdiff_t stride) {
    return base + static_cast<std::ptrdiff_t>(i) * stride;
}

unsigned char const* at(unsigned char const* base, long long i, std::ptrdiff_t stride) {
    return base + static_cast<std::ptrdiff_t>(i) * stride;
}

long long radiusOf(std::vector<double> const& weights) {
    return static_cast<long long>(weights.size() / 2);
}

// The low 32 bits as a signed value.
long long wrap32(long long v) { return std::int32_t(std::uint32_t(std::uint64_t(v))); }

// Truncating quotient of the box mean, low 8 bits.
unsigned char truncatedByte(long long numerator, long long denominator) {
    return static_cast<unsigned char>(static_cast<std::uint64_t>(numerator / denominator));
}

}  // namespace

unsigned char wrappedRound(double value) {
    // The default rounding mode sends halves to the even neighbour.
    const double rounded = std::nearbyint(value);
    return static_cast<unsigned char>(static_cast<std::uint64_t>(static_cast<long long>(rounded)));
}

void stdBlur(double alpha, std::vector<double> const& c1, std::vector<double> const& c2,
             std::vector<double> const& c3, int n, unsigned char* out, std::ptrdiff_t stride,
             std::vector<double> const& weights) {
    const long long R = radiusOf(weights);
    for (long long i = 0; i < n; ++i) {
        unsigned char* pixel = at(out, i, stride);
        if (alpha == 0.0) {
            pixel[0] = 0;
            continue;
        }
        const Window w = windowOf(i, n, R);
        double s1 = 0.0, s2 = 0.0, s3 = 0.0, W = 0.0;
        for (long long j = w.lo; j <= w.hi; ++j) {
            const double wt = weightOf(weights, R, i, j);
            s1 = s1 + wt * c1[j];
            s2 = s2 + wt * c2[j];
            s3 = s3 + wt * c3[j];
            W = W + wt;
        }
        const double k = w.whole ? 1.0 / alpha : 1.0 / (W * alpha);
        pixel[0] = wrappedRound(alpha);
        pixel[1] = wrappedRound(s1 * k);
        pixel[2] = wrappedRound(s2 * k);
        pixel[3] = wrappedRound(s3 * k);
    }
}

void awBlur(std::vector<double> const& alpha, std::vector<double> const& c1,
            std::vector<double> const& c2, std::vector<double> const& c3, int n, unsigned char* out,
            std::ptrdiff_t stride, std::vector<double> const& weights) {
    const long long R = radiusOf(weights);
    for (long long i = 0; i < n; ++i) {
        const Window w = windowOf(i, n, R);
        double sa = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0, W = 0.0;
        for (long long j = w.lo; j <= w.hi; ++j) {
            const double wt = weightOf(weights, R, i, j);
            sa = sa + wt * alpha[j];
            s1 = s1 + wt * c1[j];
            s2 = s2 + wt * c2[j];
            s3 = s3 + wt * c3[j];
            W = W + wt;
        }
        unsigned char* pixel = at(out, i, stride);
        pixel[0] = wrappedRound(sa / W);
        if (sa > 0) {
            const double k = 1.0 / sa;
            pixel[1] = wrappedRound(s1 * k);
            pixel[2] = wrappedRound(s2 * k);
            pixel[3] = wrappedRound(s3 * k);
        }
    }
}

void boxBlur(std::vector<QVLong> const& alpha, std::vector<QVLong> const& c1,
             std::vector<QVLong> const& c2, std::vector<QVLong> const& c3, long n,
             unsigned char* out, std::ptrdiff_t stride, long R, bool weighted) {
    for (long long i = 0; i < n; ++i) {
        unsigned char* pixel = at(out, i, stride);
        const Window w = windowOf(i, n, R);
        long long sa = 0, s1 = 0, s2 = 0, s3 = 0;
        for (long long j = w.lo; j <= w.hi; ++j) {
            if (weighted) sa += alpha[j];
            s1 += c1[j];
            s2 += c2[j];
            s3 += c3[j];
        }
        // The sums and the divisor are 32-bit integers; only input outside
        // the byte ranges makes them wrap, and a divisor wrapped to 0 leaves
        // the colour bytes.
        const long long count = w.hi - w.lo + 1;
        const long long divisor = wrap32(weighted ? sa : count * alpha[0]);
        pixel[0] = weighted ? truncatedByte(divisor, count) : (unsigned char)alpha[0];
        if (weighted ? divisor <= 0 : divisor == 0) continue;
        pixel[1] = truncatedByte(wrap32(s1), divisor);
        pixel[2] = truncatedByte(wrap32(s2), divisor);
        pixel[3] = truncatedByte(wrap32(s3), divisor);
    }
}

void stdLutBlur(unsigned char const* src, std::ptrdiff_t srcStride, std::ptrdiff_t outStride, int n,
                unsigned char* out, std::vector<double> const& weights,
                std::vector<QVULong> const& lut) {
    const long long R = radiusOf(weights);
    const unsigned char a = n > 0 ? src[0] : 0;
    for (long long i = 0; i < n; ++i) {
        unsigned char* pixel = at(out, i, outStride);
        pixel[0] = a;
        if (a == 0) continue;
        const Window w = windowOf(i, n, R);
        for (int c = 1; c <= 3; ++c) {
            std::uint64_t S = 0;
            double W = 0.0;
            for (long long j = w.lo; j <= w.hi; ++j) {
                const unsigned char v = at(src, j, srcStride)[c];
                S += lut[static_cast<std::size_t>((R + j - i) * 256 + v)];
                W = W + weightOf(weights, R, i, j);
            }
            S &= 0xFFFFFFFFu;
            if (w.whole)
                pixel[c] = static_cast<unsigned char>(((S + 32767) & 0xFFFFFFFFu) / 65536);
            else
                pixel[c] = wrappedRound((1.52587890625e-05 / W) * static_cast<double>(S));
        }
    }
}

void grayscaleBlur(unsigned char const* src, unsigned char* out, std::ptrdiff_t srcStride,
                   std::ptrdiff_t outStride, int n, std::vector<double> const& weights) {
    const long long R = radiusOf(weights);
    std::vector<double> x;
    for (long long j = 0; j < n; ++j) x.push_back(*at(src, j, srcStride));
    for (long long i = 0; i < n; ++i) {
        const Window w = windowOf(i, n, R);
        double S = 0.0, W = 0.0;
        for (long long j = w.lo; j <= w.hi; ++j) {
            S = S + weightOf(weights, R, i, j) * x[j];
            W = W + weightOf(weights, R, i, j);
        }
        *at(out, i, outStride) = wrappedRound(w.whole ? S : S * (1.0 / W));
    }
}

void grayscaleMaxBlur(unsigned char const* src, unsigned char* out, std::ptrdiff_t srcStride,
                      std::ptrdiff_t outStride, int n, std::vector<double> const& weights) {
    const long long R = radiusOf(weights);
    std::vector<double> x;
    for (long long j = 0; j < n; ++j) x.push_back(*at(src, j, srcStride));
    for (long long i = 0; i < n; ++i) {
        const Window w = windowOf(i, n, R);
        double M = 0.0;
        for (long long j = w.lo; j <= w.hi; ++j)
            M = std::fmax(M, weightOf(weights, R, i, j) * x[j]);
        *at(out, i, outStride) = wrappedRound(M);
    }
}

void grayscaleLutBlur(unsigned char const* src, unsigned char* out, std::ptrdiff_t srcStride,
                      std::ptrdiff_t outStride, int n, std::vector<double> const& weights,
                      std::vector<QVULong> const& lut) {
    const long long R = radiusOf(weights);
    std::vector<unsigned char> x;
    for (long long j = 0; j < n; ++j) x.push_back(*at(src, j, srcStride));
    for (long long i = 0; i < n; ++i) {
        const Window w = windowOf(i, n, R);
        std::uint64_t S = 0;
        double W = 0.0;
        for (long long j = w.lo; j <= w.hi; ++j) {
            S += lut[static_cast<std::size_t>((R + j - i) * 256 + x[j])];
            W = W + weightOf(weights, R, i, j);
        }
        S &= 0xFFFFFFFFu;
        if (w.whole)
            *at(out, i, outStride) =
                static_cast<unsigned char>(((S + 32767) & 0xFFFFFFFFu) / 65536);
        else
            *at(out, i, outStride) = wrappedRound((1.52587890625e-05 / W) * static_cast<double>(S));
    }
}

std::vector<QVULong> productTable(std::vector<double> const& weights, TableRounding rounding) {
    std::vector<QVULong> table;
    for (double w : weights) {
        for (int v = 0; v < 256; ++v) {
            const double product = w * v * 65536.0;
            const double whole = rounding == TableRounding::Nearest ? std::floor(product + 0.5)
                                                                    : std::trunc(product);
            table.push_back(static_cast<QVULong>(whole));
        }
    }
    return table;
}

}  // namespace blurref
