// Symmetric tables of one-dimensional filter weights.
#pragma once

#include <cstddef>

#include "host/HostTypes.h"

// 2R + 1 taps, the tap for signed distance d at index R + d. The table comes
// from the host allocator and is released by the destructor. Heap objects of
// the kernel classes also live in host memory.
class DOF_EXPORT Kernel {
public:
    virtual ~Kernel();

    // Scales the taps so that they sum to 1; the sum counts the left half
    // twice, so it holds for the symmetric tables the constructors build.
    void normalize();

    static void* operator new(std::size_t size) noexcept;
    static void operator delete(void* block) noexcept;

    double* weights;
    int radius;

protected:
    Kernel() : weights(nullptr), radius(0) {}

    // Allocates the 2R + 1 taps for radius R and stores R. On failure (or a
    // radius that cannot be counted) the kernel keeps R = 0 and no table.
    __attribute__((visibility("hidden"))) bool allocate(int R);

private:
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;
};

// Half-width and tap step of the hat of radius r: R is the whole part of 2r
// (0 for r <= 0 or not a number) and the tap at distance k is 1.0 less k
// successive subtractions of `step`. False when R cannot be counted (an
// infinite or huge r): such a hat gets no table.
struct HatShape {
    int radius;
    double step;
};
bool hat_shape(double r, HatShape* shape);

// Hat (tent) profile reaching 2r taps, not normalised: centre tap 1.0.
class DOF_EXPORT HatKernel : public Kernel {
public:
    explicit HatKernel(double r);
    ~HatKernel() override;
};

// Gaussian sampled up to where it falls below the cutoff, centre tap 1.0.
class DOF_EXPORT GaussianKernel : public Kernel {
public:
    GaussianKernel(double sigma, double cutoff);
    ~GaussianKernel() override;

    double sigma;
};
