#include "render/aperture_spread.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dof {

namespace {

constexpr int kStripsPerRow = 8;

// Radii up to this are quantised to 1/kFineSteps pixel; beyond it, to
// 1/kFineSteps of the radius over this, by equal steps of the logarithm.
constexpr double kFineRadius = 16.0;
constexpr double kFineSteps = 64.0;
constexpr double kFineKeys = kFineRadius * kFineSteps;

}  // namespace

int radiusKey(double radius) {
    if (!(radius > 0.0)) return 0;
    if (radius <= kFineRadius) return int(std::lround(radius * kFineSteps));
    const double key = kFineKeys + std::round(kFineKeys * std::log(radius / kFineRadius));
    return int(std::min(key, 1e9));
}

double keyRadius(int key) {
    if (key <= int(kFineKeys)) return double(key) / kFineSteps;
    return kFineRadius * std::exp((double(key) - kFineKeys) / kFineKeys);
}

double extendedRadius(double radius, double slope, int distance) {
    constexpr double kMaxSlope = 0.5, kMaxGrowth = 1.5;
    const double change = std::max(-kMaxSlope, std::min(kMaxSlope, slope)) * distance;
    return std::min(kMaxGrowth * radius, std::max(0.0, radius + change));
}

bool withinPixel(const ApertureShape& shape, double across, double down) {
    return across <= 0.5 && down * shape.squeeze() <= 0.5;
}

ApertureFootprint::ApertureFootprint(const ApertureShape& shape, const ApertureShape::Cut& cut,
                                     double across, double down) {
    if (withinPixel(shape, across, down)) {
        sharp_ = true;
        return;
    }
    down *= shape.squeeze();
    double top, bottom;
    if (!shape.extent(cut, &top, &bottom)) return;  // the cut leaves nothing
    // The fragment sits at the centre of pixel (0, 0).
    const double shapeTop = 0.5 + top * down, shapeBottom = 0.5 + bottom * down;
    top_ = int(std::floor(shapeTop));
    const int last = int(std::floor(shapeBottom));
    std::vector<double> covered;  // each rim pixel's area, until the shares are known
    double area = 0.0;
    for (int row = top_; row <= last; ++row)
        area += addRow(shape, cut, row, shapeTop, shapeBottom, across, down, &covered);
    if (!(area > 0.0)) {
        rows_.clear();
        rims_.clear();
        return;
    }
    for (Row& r : rows_) {
        r.whole /= area;
        reach_ = std::max(reach_, std::max(-r.first, r.end - 1));
    }
    for (std::size_t i = 0; i < rims_.size(); ++i) {
        rims_[i].share = float(covered[i] / area);
        reach_ = std::max(reach_, std::abs(rims_[i].dx));
    }
    reach_ = std::max(reach_, std::max(-top_, last));
}

double ApertureFootprint::addRow(const ApertureShape& shape, const ApertureShape::Cut& cut,
                                 int row, double top, double bottom, double across, double down,
                                 std::vector<double>* covered) {
    // The strips' heights and spans, in columns from the fragment's pixel.
    double height[kStripsPerRow], left[kStripsPerRow], right[kStripsPerRow];
    int strips = 0;
    double area = 0.0, rowHeight = 0.0;
    for (int k = 0; k < kStripsPerRow; ++k) {
        const double y0 = std::max(top, row + double(k) / kStripsPerRow);
        const double y1 = std::min(bottom, row + double(k + 1) / kStripsPerRow);
        double l, r;
        if (!(y0 < y1) || !shape.span(cut, (0.5 * (y0 + y1) - 0.5) / down, &l, &r)) continue;
        height[strips] = y1 - y0;
        left[strips] = 0.5 + l * across;
        right[strips] = 0.5 + r * across;
        area += height[strips] * (right[strips] - left[strips]);
        rowHeight += height[strips];
        ++strips;
    }
    Row out;
    out.rimFirst = out.rimEnd = std::uint32_t(rims_.size());
    if (strips > 0) {
        const double leftmost = *std::min_element(left, left + strips);
        const double innerLeft = *std::max_element(left, left + strips);
        const double innerRight = *std::min_element(right, right + strips);
        const double rightmost = *std::max_element(right, right + strips);
        // Pixels inside every strip are covered whole; the others each by
        // what of the strips they hold.
        out.first = int(std::ceil(innerLeft));
        out.end = int(std::floor(innerRight));
        if (out.first >= out.end) out.first = out.end = int(std::floor(rightmost)) + 1;
        const auto addRims = [&](int from, int to) {
            for (int i = from; i < to; ++i) {
                double c = 0.0;
                for (int k = 0; k < strips; ++k)
                    c += height[k] * std::max(0.0, std::min(i + 1.0, right[k]) -
                                                       std::max(double(i), left[k]));
                if (!(c > 0.0)) continue;
                rims_.push_back(Rim{i, 0.0f});
                covered->push_back(c);
            }
        };
        addRims(int(std::floor(leftmost)), std::min(out.first, int(std::ceil(rightmost))));
        addRims(std::max(out.end, out.first), int(std::ceil(rightmost)));
        out.rimEnd = std::uint32_t(rims_.size());
        out.whole = out.first < out.end ? rowHeight : 0.0;
    }
    rows_.push_back(out);
    return area;
}

void SpreadBand::reset(int width, int pad, int top, int height) {
    if (finishedRows_ != height_) {
        std::fill(steps_.begin(), steps_.end(), 0.0);
        std::fill(shares_.begin(), shares_.end(), 0.0f);
    }
    width_ = width, pad_ = pad, top_ = top, height_ = height;
    stride_ = std::size_t(width + 2 * pad + 1) * 4;
    const std::size_t size = stride_ * std::size_t(height);
    if (steps_.size() < size) {
        steps_.resize(size, 0.0);
        shares_.resize(size, 0.0f);
    }
    finished_.assign(std::size_t(height), 0);
    finishedRows_ = 0;
}

void SpreadBand::add(int x, int y, const float rgba[4], const ApertureFootprint& footprint) {
    const std::size_t column = std::size_t(x + pad_) * 4;
    if (footprint.sharp()) {
        if (y < top_ || y >= top_ + height_) return;
        float* to = &shares_[std::size_t(y - top_) * stride_ + column];
        for (int c = 0; c < 4; ++c) to[c] += rgba[c];
        return;
    }
    const int first = std::max(footprint.top(), top_ - y);
    const int last = std::min(footprint.bottom(), top_ + height_ - 1 - y);
    const ApertureFootprint::Rim* rims = footprint.rims();
#if defined(__SSE2__)
    const __m128 colour = _mm_loadu_ps(rgba);
    const __m128d low = _mm_cvtps_pd(colour), high = _mm_cvtps_pd(_mm_movehl_ps(colour, colour));
#endif
    for (int dy = first; dy <= last; ++dy) {
        const ApertureFootprint::Row& row = footprint.row(dy);
        const std::size_t at = std::size_t(y + dy - top_) * stride_ + column;
        float* shares = &shares_[at];
#if defined(__SSE2__)
        if (row.first < row.end) {
            const __m128d whole = _mm_set1_pd(row.whole);
            const __m128d wl = _mm_mul_pd(low, whole), wh = _mm_mul_pd(high, whole);
            double* start = &steps_[at + std::size_t(std::ptrdiff_t(row.first) * 4)];
            double* end = &steps_[at + std::size_t(std::ptrdiff_t(row.end) * 4)];
            _mm_storeu_pd(start, _mm_add_pd(_mm_loadu_pd(start), wl));
            _mm_storeu_pd(start + 2, _mm_add_pd(_mm_loadu_pd(start + 2), wh));
            _mm_storeu_pd(end, _mm_sub_pd(_mm_loadu_pd(end), wl));
            _mm_storeu_pd(end + 2, _mm_sub_pd(_mm_loadu_pd(end + 2), wh));
        }
        for (std::uint32_t i = row.rimFirst; i < row.rimEnd; ++i) {
            float* to = shares + std::ptrdiff_t(rims[i].dx) * 4;
            const __m128 share = _mm_set1_ps(rims[i].share);
            _mm_storeu_ps(to, _mm_add_ps(_mm_loadu_ps(to), _mm_mul_ps(colour, share)));
        }
#else
        if (row.first < row.end) {
            double* start = &steps_[at + std::size_t(std::ptrdiff_t(row.first) * 4)];
            double* end = &steps_[at + std::size_t(std::ptrdiff_t(row.end) * 4)];
            for (int c = 0; c < 4; ++c) {
                start[c] += double(rgba[c]) * row.whole;
                end[c] -= double(rgba[c]) * row.whole;
            }
        }
        for (std::uint32_t i = row.rimFirst; i < row.rimEnd; ++i) {
            float* to = shares + std::ptrdiff_t(rims[i].dx) * 4;
            for (int c = 0; c < 4; ++c) to[c] += rgba[c] * rims[i].share;
        }
#endif
    }
}

void SpreadBand::finishRow(int y, float* rgba) {
    const std::size_t at = std::size_t(y - top_) * stride_;
    double* steps = &steps_[at];
    float* shares = &shares_[at];
    double running[4] = {0.0, 0.0, 0.0, 0.0};
    const int columns = width_ + 2 * pad_;
    for (int x = 0; x < columns; ++x) {
        for (int c = 0; c < 4; ++c) running[c] += steps[std::size_t(x) * 4 + std::size_t(c)];
        if (x < pad_ || x >= pad_ + width_) continue;
        float* out = rgba + std::size_t(x - pad_) * 4;
        for (int c = 0; c < 4; ++c)
            out[c] = float(running[c]) + shares[std::size_t(x) * 4 + std::size_t(c)];
    }
    // Cleared while it is at hand, the band needs no clearing for the next.
    std::fill(steps, steps + stride_, 0.0);
    std::fill(shares, shares + stride_, 0.0f);
    char& finished = finished_[std::size_t(y - top_)];
    finishedRows_ += finished ? 0 : 1;
    finished = 1;
}

}  // namespace dof
