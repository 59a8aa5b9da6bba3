// The exported line blurs on one 1920-sample line, over the kernel radius.
// Items are output pixels, so the rates read as pixels per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "blur/line_blur.h"
#include "kernels/Kernel.h"

namespace {

constexpr int kLine = 1920;

// Premultiplied planes of a soft ramp, the same for every run.
struct Planes {
    std::vector<double> alpha, c1, c2, c3;
    Planes() : alpha(kLine), c1(kLine), c2(kLine), c3(kLine) {
        for (int i = 0; i < kLine; ++i) {
            alpha[i] = 128 + (i * 7) % 128;
            c1[i] = alpha[i] * (i % 256);
            c2[i] = alpha[i] * ((i * 3) % 256);
            c3[i] = alpha[i] * ((i * 5) % 256);
        }
    }
};

// A normalised Gaussian whose half-width is about the benchmark's argument.
GaussianKernel* kernelOfRadius(int radius) {
    GaussianKernel* kernel = new GaussianKernel(radius / 3.0, 0.011);
    kernel->normalize();
    return kernel;
}

void BM_StdBlur(benchmark::State& state) {
    const Planes planes;
    GaussianKernel* kernel = kernelOfRadius(int(state.range(0)));
    std::vector<unsigned char> out(kLine * 4);
    const double alpha = 255.0;
    for (auto _ : state) {
        std_blur(&alpha, planes.c1.data(), planes.c2.data(), planes.c3.data(), kLine, out.data(), 4,
                 kernel);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kLine);
    delete kernel;
}

void BM_AwBlur(benchmark::State& state) {
    const Planes planes;
    GaussianKernel* kernel = kernelOfRadius(int(state.range(0)));
    std::vector<unsigned char> out(kLine * 4);
    for (auto _ : state) {
        aw_blur(planes.alpha.data(), planes.c1.data(), planes.c2.data(), planes.c3.data(), kLine,
                out.data(), 4, kernel);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kLine);
    delete kernel;
}

void BM_BoxBlur(benchmark::State& state) {
    std::vector<QVLong> alpha(kLine), c1(kLine), c2(kLine), c3(kLine);
    for (int i = 0; i < kLine; ++i) {
        alpha[i] = 255;
        c1[i] = 255 * (i % 256);
        c2[i] = 255 * ((i * 3) % 256);
        c3[i] = 255 * ((i * 5) % 256);
    }
    std::vector<unsigned char> out(kLine * 4);
    for (auto _ : state) {
        boxBlur(alpha.data(), c1.data(), c2.data(), c3.data(), kLine, out.data(), 4,
                QVLong(state.range(0)), 1);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kLine);
}

void BM_StdLUTBlur(benchmark::State& state) {
    GaussianKernel* kernel = kernelOfRadius(int(state.range(0)));
    const int taps = 2 * kernel->radius + 1;
    std::vector<QVULong> lut(std::size_t(taps) * 256);
    for (int k = 0; k < taps; ++k)
        for (int v = 0; v < 256; ++v)
            lut[std::size_t(k) * 256 + v] = QVULong(kernel->weights[k] * v * 65536.0 + 0.5);
    std::vector<unsigned char> src(kLine * 4), out(kLine * 4);
    for (int i = 0; i < kLine * 4; ++i) src[i] = static_cast<unsigned char>(i * 13);
    src[0] = 255;
    for (auto _ : state) {
        std_LUT_blur(src.data(), 4, 4, kLine, out.data(), kernel, lut.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kLine);
    delete kernel;
}

void BM_GrayscaleBlur(benchmark::State& state) {
    GaussianKernel* kernel = kernelOfRadius(int(state.range(0)));
    std::vector<unsigned char> src(kLine), out(kLine);
    for (int i = 0; i < kLine; ++i) src[i] = static_cast<unsigned char>(i * 7);
    for (auto _ : state) {
        grayscale_blur(src.data(), out.data(), 1, 1, kLine, kernel);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kLine);
    delete kernel;
}

BENCHMARK(BM_StdBlur)->RangeMultiplier(4)->Range(1, 64);
BENCHMARK(BM_AwBlur)->RangeMultiplier(4)->Range(1, 64);
BENCHMARK(BM_BoxBlur)->RangeMultiplier(4)->Range(1, 64);
BENCHMARK(BM_StdLUTBlur)->RangeMultiplier(4)->Range(1, 64);
BENCHMARK(BM_GrayscaleBlur)->RangeMultiplier(4)->Range(1, 64);

}  // namespace
