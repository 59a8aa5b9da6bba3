// Deliberately slow, literal line blurs: every output is worked out afresh
// from the formula for its own window, with no runs and no running sums, so
// that the tests of the exported line blurs compare against values reached
// another way. Each writes the same bytes the routine under test should write
// and no other.
#pragma once

#include <cstddef>
#include <vector>

#include "host/HostTypes.h"

namespace blurref {

// Nearest integer with halves to the even neighbour, then the low 8 bits.
unsigned char wrappedRound(double value);

// Premultiplied RGBA planes into bytes (alpha in byte 0); weights holds 2R + 1
// taps, centre at index R.
void stdBlur(double alpha, std::vector<double> const& c1, std::vector<double> const& c2,
             std::vector<double> const& c3, int n, unsigned char* out, std::ptrdiff_t stride,
             std::vector<double> const& weights);
void awBlur(std::vector<double> const& alpha, std::vector<double> const& c1,
            std::vector<double> const& c2, std::vector<double> const& c3, int n, unsigned char* out,
            std::ptrdiff_t stride, std::vector<double> const& weights);

// Integer box mean; alpha holds one value when weighted is false.
void boxBlur(std::vector<QVLong> const& alpha, std::vector<QVLong> const& c1,
             std::vector<QVLong> const& c2, std::vector<QVLong> const& c3, long n,
             unsigned char* out, std::ptrdiff_t stride, long R, bool weighted);

// Interleaved RGBA bytes through a product table of (2R + 1) x 256 entries.
void stdLutBlur(unsigned char const* src, std::ptrdiff_t srcStride, std::ptrdiff_t outStride, int n,
                unsigned char* out, std::vector<double> const& weights,
                std::vector<QVULong> const& lut);

// Single-channel lines. The source is read in full before anything is
// written, so out may overlap src.
void grayscaleBlur(unsigned char const* src, unsigned char* out, std::ptrdiff_t srcStride,
                   std::ptrdiff_t outStride, int n, std::vector<double> const& weights);
void grayscaleMaxBlur(unsigned char const* src, unsigned char* out, std::ptrdiff_t srcStride,
                      std::ptrdiff_t outStride, int n, std::vector<double> const& weights);
void grayscaleLutBlur(unsigned char const* src, unsigned char* out, std::ptrdiff_t srcStride,
                      std::ptrdiff_t outStride, int n, std::vector<double> const& weights,
                      std::vector<QVULong> const& lut);

// How a product table turns weight x value x 65536 into an integer.
enum class TableRounding { Nearest, Truncate };

// The product table of the LUT blurs: entry k x 256 + v = weights[k] x v x 65536.
std::vector<QVULong> productTable(std::vector<double> const& weights, TableRounding rounding);

}  // namespace blurref
