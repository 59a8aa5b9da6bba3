#include "kernels/Kernel.h"

#include <cmath>

#include "host/fi_memory.h"

namespace {

// Largest half-width whose 2R + 1 taps of 8 bytes a 32-bit allocation size
// can count.
constexpr int kMaxKernelRadius = (0x7FFFFFFF / 8 - 1) / 2;

}  // namespace

Kernel::~Kernel() {
    fi_FreeMem(weights);
    weights = nullptr;
}

bool Kernel::allocate(int R) {
    if (R < 0 || R > kMaxKernelRadius) return false;
    double* table = static_cast<double*>(fi_AllocMem(QVULong(2 * R + 1) * 8u, 0));
    if (table == nullptr) return false;
    weights = table;
    radius = R;
    return true;
}

void Kernel::normalize() {
    if (weights == nullptr) return;
    const int R = radius;
    double sum = 0.0;
    for (int k = 0; k < R; ++k) sum += weights[k];
    // The right half mirrors the left, so it is counted by doubling.
    sum = sum + sum + weights[R];
    const double f = 1.0 / sum;
    for (int k = 0; k < 2 * R + 1; ++k) weights[k] *= f;
}

void* Kernel::operator new(std::size_t size) noexcept { return fi_AllocMem(QVULong(size), 0); }

void Kernel::operator delete(void* block) noexcept { fi_FreeMem(block); }

bool hat_shape(double r, HatShape* shape) {
    double t, e;
    if (r > 0) {
        t = r + r;
        e = r + 0.000001;
    } else {
        t = 0.0;
        e = 0.000001;
    }
    if (!(t < double(kMaxKernelRadius) + 1.0)) return false;
    shape->radius = int(t);
    shape->step = 0.5 / e;
    return true;
}

// A radius too large to count (or infinite) gets no table, like a failed
// allocation: the kernel stays empty with radius 0 and readers see null taps.
HatKernel::HatKernel(double r) {
    HatShape shape;
    if (!hat_shape(r, &shape) || !allocate(shape.radius)) return;
    const int R = shape.radius;
    weights[R] = 1.0;
    // Each tap is k successive subtractions, not 1 - k * step.
    double w = 1.0;
    for (int k = 1; k <= R; ++k) {
        w = w - shape.step;
        weights[R - k] = w;
        weights[R + k] = w;
    }
}

HatKernel::~HatKernel() {}

GaussianKernel::GaussianKernel(double sigma_, double cutoff) : sigma(sigma_) {
    const double s = sigma_ > 0.01 ? sigma_ : 0.01;
    const double a = 1.0 / ((s + s) * s);
    double c = cutoff;
    if (c < 0.000001) c = 0.000001;
    if (c > 0.999999) c = 0.999999;
    const double extent = std::sqrt(-std::log(c) / a);
    // A cutoff that is not a number, or a sigma so large that the taps cannot
    // be counted, gets no table.
    if (!(extent < double(kMaxKernelRadius) + 1.0)) return;
    const int R = int(extent);
    if (!allocate(R)) return;
    weights[R] = 1.0;
    for (int k = 1; k <= R; ++k) {
        const double x = double(k);
        const double w = std::exp(-(x * x) * a);
        weights[R - k] = w;
        weights[R + k] = w;
    }
}

GaussianKernel::~GaussianKernel() {}
