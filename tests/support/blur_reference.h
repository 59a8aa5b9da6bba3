// Deliberately slow, literal line blurs: every output is worked out afresh
// from the formula for its own window, with no runs and no running sums, so
// that the tests of the exported line blurs compare against values reached
// another way. Each takes the arguments of the routine of the same name,
// reads the kernel's taps and writes the same bytes the routine should write
// and no other. The single-channel blurs read the whole source before they
// write, so out may overlap src.
#pragma once

#include <vector>

#include "blur/line_blur.h"

namespace dof::test::reference {

void std_blur(double const* alpha, double const* c1, double const* c2, double const* c3, int n,
              unsigned char* out, QVLong stride, Kernel const* kernel);
void aw_blur(double const* alpha, double const* c1, double const* c2, double const* c3, int n,
             unsigned char* out, QVLong stride, Kernel const* kernel);
void boxBlur(QVLong const* alpha, QVLong const* c1, QVLong const* c2, QVLong const* c3, QVLong n,
             unsigned char* out, QVLong stride, QVLong R, QVLong weighted);
void std_LUT_blur(unsigned char const* src, int srcStride, int outStride, int n, unsigned char* out,
                  GaussianKernel const* kernel, QVULong const* lut);
void grayscale_blur(unsigned char const* src, unsigned char* out, int srcStride, int outStride,
                    int n, Kernel const* kernel);
void grayscale_max_blur(unsigned char const* src, unsigned char* out, int srcStride, int outStride,
                        int n, Kernel const* kernel);
// A stride past 2^31 is a step back.
void grayscale_LUT_blur(unsigned char const* src, unsigned char* out, unsigned int srcStride,
                        unsigned int outStride, unsigned int n, unsigned int R,
                        double const* weights, QVULong const* lut);

// How a product table turns weight x value x 65536 into an integer.
enum class TableRounding { Nearest, Truncate };

// The product table of the LUT blurs: entry k x 256 + v = weights[k] x v x 65536.
std::vector<QVULong> productTable(std::vector<double> const& weights, TableRounding rounding);

}  // namespace dof::test::reference
