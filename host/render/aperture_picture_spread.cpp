#include "render/aperture_picture_spread.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <new>

#include "render/aperture_spread.h"
#include "util/interrupt.h"

namespace dof {

namespace {

// Rungs of the ladder of radii, each this much larger than the one below:
// a fragment's blur is a mix of two pictures at most 6 % apart in size.
constexpr double kRungRatio = 1.06;

// The smallest size from n up that the transforms handle fast: 2^a 3^b 5^c 7^d.
int transformSize(int n) {
    for (;; ++n) {
        int m = n;
        for (int f : {2, 3, 5, 7})
            while (m % f == 0) m /= f;
        if (m == 1) return n;
    }
}

struct FftwFree {
    void operator()(void* p) const { fftwf_free(p); }
};
template <typename T>
using FftwArray = std::unique_ptr<T[], FftwFree>;

// An array aligned as the transforms want it, all zero.
template <typename T>
FftwArray<T> fftwArray(std::size_t count) {
    T* p = static_cast<T*>(fftwf_malloc(count * sizeof(T)));
    if (!p) throw std::bad_alloc();
    std::fill(reinterpret_cast<float*>(p), reinterpret_cast<float*>(p + count), 0.0f);
    return FftwArray<T>(p);
}

// Making and destroying plans is not safe on two threads at once; running
// them on arrays of their own is.
std::mutex& plannerMutex() {
    static std::mutex mutex;
    return mutex;
}

// The forward (real to complex) and inverse transforms of one size.
class Transforms {
public:
    Transforms(int width, int height) : spectrum_(std::size_t(width / 2 + 1) * height) {
        const FftwArray<float> real = fftwArray<float>(std::size_t(width) * height);
        const FftwArray<fftwf_complex> complex = fftwArray<fftwf_complex>(spectrum_);
        std::lock_guard<std::mutex> lock(plannerMutex());
        forward_ = fftwf_plan_dft_r2c_2d(height, width, real.get(), complex.get(), FFTW_ESTIMATE);
        inverse_ = fftwf_plan_dft_c2r_2d(height, width, complex.get(), real.get(), FFTW_ESTIMATE);
        if (!forward_ || !inverse_) throw std::bad_alloc();
    }
    ~Transforms() {
        std::lock_guard<std::mutex> lock(plannerMutex());
        if (forward_) fftwf_destroy_plan(forward_);
        if (inverse_) fftwf_destroy_plan(inverse_);
    }
    Transforms(const Transforms&) = delete;
    Transforms& operator=(const Transforms&) = delete;

    std::size_t spectrum() const { return spectrum_; }
    void forward(float* in, fftwf_complex* out) const { fftwf_execute_dft_r2c(forward_, in, out); }
    // Overwrites `in`.
    void inverse(fftwf_complex* in, float* out) const { fftwf_execute_dft_c2r(inverse_, in, out); }

private:
    std::size_t spectrum_;
    fftwf_plan forward_ = nullptr, inverse_ = nullptr;
};

// Calls visit(x, y, fragment) for every fragment of the slab and its fill.
template <typename Visit>
void forEachFragment(const ApertureFragments& fragments, int slab, const SlabFill* fill,
                     const Visit& visit) {
    for (int y = 0; y < fragments.height(); ++y) {
        for (auto f = fragments.begin(slab, y); f != fragments.end(slab, y); ++f) visit(y, *f);
        if (!fill) continue;
        for (auto f = fill->begin(y); f != fill->end(y); ++f) visit(y, *f);
    }
}

}  // namespace

// A frame's planes of R, G, B, A with `margin` pixels all round, as wide and
// high as the transforms are.
struct PictureSpread::Planes {
    int width, height, margin;
    FftwArray<float> channel[4];

    Planes(int w, int h, int m) : width(w), height(h), margin(m) {
        for (auto& c : channel) c = fftwArray<float>(std::size_t(w) * h);
    }
    float& at(int c, int x, int y) {
        return channel[c][std::size_t(y + margin) * std::size_t(width) + std::size_t(x + margin)];
    }
    // The frame (`frameWidth` x `frameHeight`) goes on as its edge pixels.
    void extendEdges(int frameWidth, int frameHeight) {
        for (auto& c : channel) {
            float* p = c.get();
            const auto row = [&](int y) { return p + std::size_t(y) * std::size_t(width); };
            for (int y = margin; y < margin + frameHeight; ++y) {
                std::fill(row(y), row(y) + margin, row(y)[margin]);
                std::fill(row(y) + margin + frameWidth, row(y) + 2 * margin + frameWidth,
                          row(y)[margin + frameWidth - 1]);
            }
            for (int y = 0; y < margin; ++y) {
                std::copy(row(margin), row(margin) + width, row(y));
                std::copy(row(margin + frameHeight - 1), row(margin + frameHeight - 1) + width,
                          row(margin + frameHeight + y));
            }
        }
    }
    void clear() {
        for (auto& c : channel) std::fill(c.get(), c.get() + std::size_t(width) * height, 0.0f);
    }
};

PictureSpread::PictureSpread(const AperturePicture& picture, double across, double down)
    : picture_(picture), across_(across), down_(down), sharpRadius_(0.5 / std::max(across, down)) {}

void PictureSpread::rungsOf(int key, int* rung, float* upper) const {
    const double r = keyRadius(key);
    if (!(r > sharpRadius_)) {
        *rung = 0, *upper = 0.0f;
        return;
    }
    const double t = std::log(r / sharpRadius_) / std::log(kRungRatio);
    *rung = int(std::floor(t));
    *upper = float(t - *rung);
}

double PictureSpread::rungRadius(int rung) const {
    return sharpRadius_ * std::pow(kRungRatio, rung);
}

namespace {

// Marks in `reached` (per frame pixel) the pixels within `reach` pixels,
// across or down, of a pixel of `planes` that holds light: beyond them a
// rung adds nothing, and the transforms' rounding is not let in there.
void markReached(const PictureSpread::Planes& planes, int frameWidth, int frameHeight, int reach,
                 std::vector<std::uint8_t>* reached) {
    const int w = planes.width, h = planes.height;
    std::vector<std::uint32_t> sums(std::size_t(w + 1) * std::size_t(h + 1), 0);
    const auto at = [&](int x, int y) -> std::uint32_t& {
        return sums[std::size_t(y) * std::size_t(w + 1) + std::size_t(x)];
    };
    for (int y = 0; y < h; ++y) {
        std::uint32_t row = 0;
        for (int x = 0; x < w; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(w) + std::size_t(x);
            bool lit = false;
            for (const auto& c : planes.channel) lit = lit || c[i] != 0.0f;
            row += lit ? 1 : 0;
            at(x + 1, y + 1) = at(x + 1, y) + row;
        }
    }
    const int m = planes.margin;
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < frameWidth; ++x) {
            // The box around (x, y) in the planes, clipped to them.
            const int x0 = std::max(0, x + m - reach), x1 = std::min(w, x + m + reach + 1);
            const int y0 = std::max(0, y + m - reach), y1 = std::min(h, y + m + reach + 1);
            if (at(x1, y1) - at(x0, y1) - at(x1, y0) + at(x0, y0) != 0)
                (*reached)[std::size_t(y) * std::size_t(frameWidth) + std::size_t(x)] = 1;
        }
}

// The kernel of one rung, wrapped round the transforms' planes (its centre
// at the origin), scaled by 1 / their size to undo the inverse's gain.
void placeKernel(const PictureKernel& k, int width, int height, float* plane) {
    std::fill(plane, plane + std::size_t(width) * height, 0.0f);
    const float gain = float(1.0 / (double(width) * double(height)));
    const int side = 2 * k.reach + 1;
    for (int dy = -k.reach; dy <= k.reach; ++dy)
        for (int dx = -k.reach; dx <= k.reach; ++dx) {
            const int x = (dx + width) % width, y = (dy + height) % height;
            plane[std::size_t(y) * std::size_t(width) + std::size_t(x)] =
                k.weights[std::size_t(dy + k.reach) * std::size_t(side) + std::size_t(dx + k.reach)] *
                gain;
        }
}

}  // namespace

bool PictureSpread::spread(const ApertureFragments& fragments, int slab, const SlabFill* fill,
                           TaskPool* pool, int threads,
                           const std::function<void(int y, const float* rgba)>& addRow) const {
    const int w = fragments.width(), h = fragments.height();
    // Rung 0 stays in the frame's pixels; the rungs above are transformed.
    std::vector<float> sharp(std::size_t(w) * std::size_t(h) * 4, 0.0f);
    std::vector<char> used(1, 0);
    forEachFragment(fragments, slab, fill, [&](int y, const SpreadFragment& f) {
        int rung;
        float upper;
        rungsOf(f.key, &rung, &upper);
        if (std::size_t(rung) + 2 > used.size()) used.resize(std::size_t(rung) + 2, 0);
        used[std::size_t(rung)] = used[std::size_t(rung)] || upper < 1.0f;
        used[std::size_t(rung) + 1] = used[std::size_t(rung) + 1] || upper > 0.0f;
        if (rung != 0) return;
        float* to = &sharp[(std::size_t(y) * std::size_t(w) + std::size_t(f.x)) * 4];
        for (int c = 0; c < 4; ++c) to[c] += f.rgba[c] * (1.0f - upper);
    });
    while (used.size() > 1 && !used.back()) used.pop_back();
    const int top = int(used.size()) - 1;
    std::unique_ptr<Planes> spread;
    std::vector<std::uint8_t> reached(std::size_t(w) * std::size_t(h), 0);
    if (top > 0) {
        spread = transformRungs(fragments, slab, fill, used, pool, threads, &reached);
        if (!spread) return false;
    }
    forEachTask(pool, threads, h, [&](int y) {
        std::vector<float> row(sharp.begin() + std::ptrdiff_t(y) * w * 4,
                               sharp.begin() + std::ptrdiff_t(y + 1) * w * 4);
        for (int x = 0; spread && x < w; ++x) {
            if (!reached[std::size_t(y) * std::size_t(w) + std::size_t(x)]) continue;
            for (int c = 0; c < 4; ++c) row[std::size_t(x) * 4 + std::size_t(c)] += spread->at(c, x, y);
        }
        addRow(y, row.data());
    });
    return true;
}

std::unique_ptr<PictureSpread::Planes> PictureSpread::transformRungs(const ApertureFragments& fragments, int slab,
                                                      const SlabFill* fill,
                                                      const std::vector<char>& used, TaskPool* pool,
                                                      int threads,
                                                      std::vector<std::uint8_t>* reached) const {
    const int w = fragments.width(), h = fragments.height(), top = int(used.size()) - 1;
    const auto kernelOf = [&](int rung) {
        return pictureKernel(picture_, rungRadius(rung) * across_, rungRadius(rung) * down_);
    };
    const int margin = kernelOf(top).reach;
    const int tw = transformSize(w + 2 * margin), th = transformSize(h + 2 * margin);
    const Transforms transforms(tw, th);
    const std::size_t spectrum = transforms.spectrum();
    std::unique_ptr<Planes> planes(new Planes(tw, th, margin));
    Planes& image = *planes;
    FftwArray<float> kernel = fftwArray<float>(std::size_t(tw) * th);
    FftwArray<fftwf_complex> sums[4], each[5];
    for (auto& s : sums) s = fftwArray<fftwf_complex>(spectrum);
    for (auto& e : each) e = fftwArray<fftwf_complex>(spectrum);
    for (int rung = 1; rung <= top; ++rung) {
        if (!used[std::size_t(rung)]) continue;
        if (interruptRequested()) return nullptr;
        image.clear();
        forEachFragment(fragments, slab, fill, [&](int y, const SpreadFragment& f) {
            int lower;
            float upper;
            rungsOf(f.key, &lower, &upper);
            const float share = lower == rung ? 1.0f - upper : lower + 1 == rung ? upper : 0.0f;
            if (share == 0.0f) return;
            for (int c = 0; c < 4; ++c) image.at(c, f.x, y) += f.rgba[c] * share;
        });
        image.extendEdges(w, h);
        const PictureKernel k = kernelOf(rung);
        markReached(image, w, h, k.reach, reached);
        placeKernel(k, tw, th, kernel.get());
        forEachTask(pool, threads, 5, [&](int c) {
            transforms.forward(c < 4 ? image.channel[c].get() : kernel.get(), each[c].get());
        });
        forEachTask(pool, threads, 4, [&](int c) {
            fftwf_complex* s = sums[c].get();
            const fftwf_complex *e = each[c].get(), *kf = each[4].get();
            for (std::size_t i = 0; i < spectrum; ++i) {
                s[i][0] += e[i][0] * kf[i][0] - e[i][1] * kf[i][1];
                s[i][1] += e[i][0] * kf[i][1] + e[i][1] * kf[i][0];
            }
        });
    }
    forEachTask(pool, threads, 4,
                [&](int c) { transforms.inverse(sums[c].get(), image.channel[c].get()); });
    return planes;
}

}  // namespace dof
