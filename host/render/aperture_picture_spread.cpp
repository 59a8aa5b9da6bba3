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

// Rungs whose kernels reach this many pixels or fewer are added fragment by
// fragment: a transform of the frame costs more than a few dozen taps each.
constexpr int kDirectReach = 3;

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

// A region of a frame's planes of R, G, B, A: the pixels a slab's
// transformed rungs reach, beyond the frame's edges too, inside planes as wide
// and high as the transforms are.
struct PictureSpread::Planes {
    int width, height;  // of the transforms
    int left, top;      // the frame pixel at the planes' (0, 0)
    int columns, rows;  // of the region
    FftwArray<float> channel[4];

    Planes(int w, int h, int l, int t, int c, int r)
        : width(w), height(h), left(l), top(t), columns(c), rows(r) {
        for (auto& plane : channel) plane = fftwArray<float>(std::size_t(w) * h);
    }
    float& at(int c, int x, int y) const {
        return channel[c][std::size_t(y - top) * std::size_t(width) + std::size_t(x - left)];
    }
    // Where the region lies beyond the frame (`frameWidth` x `frameHeight`),
    // the frame goes on as its edge pixels.
    void extendEdges(int frameWidth, int frameHeight) {
        const int y0 = std::max(0, top), y1 = std::min(frameHeight, top + rows);
        for (int c = 0; c < 4; ++c) {
            for (int y = y0; y < y1; ++y) {
                for (int x = left; x < 0; ++x) at(c, x, y) = at(c, 0, y);
                for (int x = frameWidth; x < left + columns; ++x)
                    at(c, x, y) = at(c, frameWidth - 1, y);
            }
            for (int y = top; y < top + rows; ++y) {
                if (y >= y0 && y < y1) continue;
                const int from = y < 0 ? 0 : frameHeight - 1;
                std::copy(&at(c, left, from), &at(c, left, from) + columns, &at(c, left, y));
            }
        }
    }
    void clear() {
        for (auto& c : channel) std::fill(c.get(), c.get() + std::size_t(width) * height, 0.0f);
    }
};

PictureSpread::PictureSpread(const AperturePicture& picture, double across, double down)
    : picture_(picture), across_(across), down_(down), sharpRadius_(0.5 / std::max(across, down)) {
    direct_.emplace_back();  // rung 0 stays in its pixel
    for (;;) {
        PictureKernel k = kernelOf(int(direct_.size()));
        if (k.reach > kDirectReach) break;
        direct_.push_back(std::move(k));
    }
}

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

PictureKernel PictureSpread::kernelOf(int rung) const {
    return pictureKernel(picture_, rungRadius(rung) * across_, rungRadius(rung) * down_);
}

namespace {

// Marks in `reached` (per frame pixel) the pixels within `reach` pixels,
// across or down, of a pixel of `planes` that holds light: beyond them a
// rung adds nothing, and the transforms' rounding is not let in there.
void markReached(const PictureSpread::Planes& planes, int frameWidth, int frameHeight, int reach,
                 std::vector<std::uint8_t>* reached) {
    const int w = planes.columns, h = planes.rows;
    std::vector<std::uint32_t> sums(std::size_t(w + 1) * std::size_t(h + 1), 0);
    const auto at = [&](int x, int y) -> std::uint32_t& {
        return sums[std::size_t(y) * std::size_t(w + 1) + std::size_t(x)];
    };
    for (int y = 0; y < h; ++y) {
        std::uint32_t row = 0;
        for (int x = 0; x < w; ++x) {
            bool lit = false;
            for (int c = 0; c < 4; ++c)
                lit = lit || planes.at(c, x + planes.left, y + planes.top) != 0.0f;
            row += lit ? 1 : 0;
            at(x + 1, y + 1) = at(x + 1, y) + row;
        }
    }
    for (int y = std::max(0, planes.top); y < std::min(frameHeight, planes.top + h); ++y)
        for (int x = std::max(0, planes.left); x < std::min(frameWidth, planes.left + w); ++x) {
            // The box around (x, y) in the region, clipped to it.
            const int i = x - planes.left, j = y - planes.top;
            const int x0 = std::max(0, i - reach), x1 = std::min(w, i + reach + 1);
            const int y0 = std::max(0, j - reach), y1 = std::min(h, j + reach + 1);
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
                k.weights[std::size_t(dy + k.reach) * std::size_t(side) +
                          std::size_t(dx + k.reach)] *
                gain;
        }
}

// Adds `share` of `rgba` at (x, y), spread by `k`, to `frame` (`w` x `h`
// R, G, B, A), and on the frame's edges its copies beyond them.
void addDirect(const PictureKernel& k, int x, int y, const float rgba[4], float share, int w, int h,
               float* frame) {
    const int r = k.reach, side = 2 * r + 1;
    const int x0 = x == 0 ? -r : x, x1 = x == w - 1 ? w - 1 + r : x;
    const int y0 = y == 0 ? -r : y, y1 = y == h - 1 ? h - 1 + r : y;
    float v[4];
    for (int c = 0; c < 4; ++c) v[c] = rgba[c] * share;
    for (int sy = y0; sy <= y1; ++sy)
        for (int sx = x0; sx <= x1; ++sx)
            for (int dy = std::max(-r, -sy); dy <= std::min(r, h - 1 - sy); ++dy) {
                const float* weights = &k.weights[std::size_t(dy + r) * std::size_t(side)];
                float* to = frame + (std::size_t(sy + dy) * std::size_t(w)) * 4;
                for (int dx = std::max(-r, -sx); dx <= std::min(r, w - 1 - sx); ++dx)
                    for (int c = 0; c < 4; ++c)
                        to[std::size_t(sx + dx) * 4 + std::size_t(c)] += v[c] * weights[dx + r];
            }
}

}  // namespace

bool PictureSpread::spread(const ApertureFragments& fragments, int slab, const SlabFill* fill,
                           TaskPool* pool, int threads,
                           const std::function<void(int y, const float* rgba)>& addRow) const {
    const int w = fragments.width(), h = fragments.height();
    // Rung 0 and the direct rungs add to the frame's pixels; the others are
    // transformed over the box their fragments span.
    std::vector<float> frame(std::size_t(w) * std::size_t(h) * 4, 0.0f);
    const int firstTransformed = int(direct_.size());
    Transformed t;
    t.left = w, t.right = -1, t.top = h, t.bottom = -1;
    forEachFragment(fragments, slab, fill, [&](int y, const SpreadFragment& f) {
        int rung;
        float upper;
        rungsOf(f.key, &rung, &upper);
        for (int k = rung; k <= rung + 1; ++k) {
            const float share = k == rung ? 1.0f - upper : upper;
            if (share == 0.0f) continue;
            if (k == 0) {
                float* to = &frame[(std::size_t(y) * std::size_t(w) + std::size_t(f.x)) * 4];
                for (int c = 0; c < 4; ++c) to[c] += f.rgba[c] * share;
            } else if (k < firstTransformed) {
                addDirect(direct_[std::size_t(k)], f.x, y, f.rgba, share, w, h, frame.data());
            } else {
                if (std::size_t(k) >= t.used.size()) t.used.resize(std::size_t(k) + 1, 0);
                t.used[std::size_t(k)] = 1;
                t.left = std::min(t.left, f.x), t.right = std::max(t.right, f.x);
                t.top = std::min(t.top, y), t.bottom = std::max(t.bottom, y);
            }
        }
    });
    std::unique_ptr<Planes> spread;
    std::vector<std::uint8_t> reached(std::size_t(w) * std::size_t(h), 0);
    if (!t.used.empty()) {
        spread = transformRungs(fragments, slab, fill, t, pool, threads, &reached);
        if (!spread) return false;
    }
    forEachTask(pool, threads, h, [&](int y) {
        float* row = &frame[std::size_t(y) * std::size_t(w) * 4];
        for (int x = 0; spread && x < w; ++x) {
            if (!reached[std::size_t(y) * std::size_t(w) + std::size_t(x)]) continue;
            for (int c = 0; c < 4; ++c)
                row[std::size_t(x) * 4 + std::size_t(c)] += spread->at(c, x, y);
        }
        addRow(y, row);
    });
    return true;
}

std::unique_ptr<PictureSpread::Planes> PictureSpread::transformRungs(
    const ApertureFragments& fragments, int slab, const SlabFill* fill, const Transformed& t,
    TaskPool* pool, int threads, std::vector<std::uint8_t>* reached) const {
    const int w = fragments.width(), h = fragments.height(), top = int(t.used.size()) - 1;
    const int margin = kernelOf(top).reach;
    // Light that wraps round the transforms' planes lands beyond the region
    // unless the region goes on beyond the frame on one side only.
    const int left = t.left - margin, right = t.right + margin + 1;
    const int high = t.top - margin, low = t.bottom + margin + 1;
    const int tw = transformSize(right - left + ((left < 0) != (right > w) ? margin : 0));
    const int th = transformSize(low - high + ((high < 0) != (low > h) ? margin : 0));
    const Transforms transforms(tw, th);
    const std::size_t spectrum = transforms.spectrum();
    std::unique_ptr<Planes> planes(new Planes(tw, th, left, high, right - left, low - high));
    Planes& image = *planes;
    FftwArray<float> kernel = fftwArray<float>(std::size_t(tw) * th);
    FftwArray<fftwf_complex> sums[4], each[5];
    for (auto& s : sums) s = fftwArray<fftwf_complex>(spectrum);
    for (auto& e : each) e = fftwArray<fftwf_complex>(spectrum);
    for (int rung = int(direct_.size()); rung <= top; ++rung) {
        if (!t.used[std::size_t(rung)]) continue;
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
