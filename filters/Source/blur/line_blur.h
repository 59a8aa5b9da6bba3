// The exported one-line blurs. Each filters one row or column; the strides let
// a caller walk either, and the caller orders the two passes of a separable
// blur.
#pragma once

#include "host/HostTypes.h"

class Kernel;
class GaussianKernel;

// Premultiplied RGBA planes of doubles into 8-bit pixels (alpha in byte 0).
DOF_EXPORT void std_blur(double const* alpha, double const* c1, double const* c2, double const* c3,
                         int n, unsigned char* out, QVLong stride, Kernel const* kernel);
DOF_EXPORT void aw_blur(double const* alpha, double const* c1, double const* c2, double const* c3,
                        int n, unsigned char* out, QVLong stride, Kernel const* kernel);

// Integer box blur with running sums.
DOF_EXPORT void boxBlur(QVLong const* alpha, QVLong const* c1, QVLong const* c2, QVLong const* c3,
                        QVLong n, unsigned char* out, QVLong stride, QVLong R, QVLong weighted);

// Interleaved RGBA bytes through a product table of (2R + 1) x 256 entries.
DOF_EXPORT void std_LUT_blur(unsigned char const* src, int srcStride, int outStride, int n,
                             unsigned char* out, GaussianKernel const* kernel, QVULong const* lut);

// Single-channel lines; the output may overlap the source.
DOF_EXPORT void grayscale_blur(unsigned char const* src, unsigned char* out, int srcStride,
                               int outStride, int n, Kernel const* kernel);
DOF_EXPORT void grayscale_max_blur(unsigned char const* src, unsigned char* out, int srcStride,
                                   int outStride, int n, Kernel const* kernel);
DOF_EXPORT void grayscale_LUT_blur(unsigned char const* src, unsigned char* out,
                                   unsigned int srcStride, unsigned int outStride, unsigned int n,
                                   unsigned int R, double const* weights, QVULong const* lut);
