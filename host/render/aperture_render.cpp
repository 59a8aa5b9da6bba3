#include "render/aperture_render.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "render/aperture_fill.h"
#include "render/aperture_picture_spread.h"
#include "render/aperture_spread.h"
#include "util/interrupt.h"

namespace dof {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Rows a band spreads: small enough that a thread's planes stay in its
// cache, large enough that a fragment is visited by few bands.
constexpr int kBandRows = 32;

// A cat's eye's cut is quantised to this share of the radius, so that
// neighbouring fragments of one radius share a footprint.
constexpr double kCutSteps = 64.0;

// Footprints a thread keeps of those it made before it starts afresh.
constexpr std::size_t kCachedFootprints = 1 << 14;

// The footprints of a slab's fragments: shared by radius, or for a cat's eye
// made by each thread for the cuts it meets.
class Footprints {
public:
    Footprints(const ApertureShape& shape, const ApertureBlur& blur) : shape_(shape), blur_(blur) {}

    ApertureFootprint make(int key, const ApertureShape::Cut& cut) const {
        const double r = keyRadius(key);
        return ApertureFootprint(shape_, cut, r * blur_.across, r * blur_.down);
    }
    // Makes the footprints of `keys` (uncut), on up to `threads` threads.
    void prepare(const std::vector<int>& keys, TaskPool* pool, int threads) {
        shared_.clear();
        if (keys.empty()) return;
        shared_.resize(std::size_t(keys.back()) + 1);
        forEachTask(pool, threads, int(keys.size()), [&](int i) {
            const int key = keys[std::size_t(i)];
            shared_[std::size_t(key)].reset(new ApertureFootprint(make(key, {})));
        });
    }
    // Whether the footprint of `key` is shared (made by prepare).
    bool has(int key) const { return std::size_t(key) < shared_.size() && shared_[std::size_t(key)]; }
    const ApertureFootprint& shared(int key) const { return *shared_[std::size_t(key)]; }
    // The quantised cut at pixel (x, y); none without a cat's eye.
    ApertureShape::Cut cutAt(int x, int y) const {
        ApertureShape::Cut cut = shape_.cutAt(x, y);
        cut.u = std::round(cut.u * kCutSteps) / kCutSteps;
        cut.v = std::round(cut.v * kCutSteps) / kCutSteps;
        return cut;
    }
    bool cuts() const { return shape_.cuts(); }

private:
    const ApertureShape& shape_;
    const ApertureBlur& blur_;
    std::vector<std::unique_ptr<ApertureFootprint>> shared_;  // by key
};

// What a thread spreads a band with, kept from one band to the next, with
// the footprints it made itself: cut ones, and the radii of copies beyond the
// frame's edges that no fragment has.
struct Workspace {
    SpreadBand band, fillBand;
    std::vector<float> row, fillRow;
    std::unordered_map<std::uint64_t, std::unique_ptr<ApertureFootprint>> made;

    const ApertureFootprint& footprint(const Footprints& footprints, int key, int x, int y) {
        if (footprints.has(key)) return footprints.shared(key);
        const ApertureShape::Cut cut = footprints.cutAt(x, y);
        const std::uint64_t id = std::uint64_t(std::uint32_t(key)) << 32 |
                                 std::uint64_t(std::uint16_t(std::lround(cut.u * kCutSteps)))
                                     << 16 |
                                 std::uint64_t(std::uint16_t(std::lround(cut.v * kCutSteps)));
        const auto known = made.find(id);
        if (known != made.end()) return *known->second;
        if (made.size() >= kCachedFootprints) made.clear();
        std::unique_ptr<ApertureFootprint>& footprint = made[id];
        footprint.reset(new ApertureFootprint(footprints.make(key, cut)));
        return *footprint;
    }
};

class Workspaces {
public:
    std::unique_ptr<Workspace> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (free_.empty()) return std::unique_ptr<Workspace>(new Workspace);
        std::unique_ptr<Workspace> w = std::move(free_.back());
        free_.pop_back();
        return w;
    }
    void give(std::unique_ptr<Workspace> w) {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(std::move(w));
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<Workspace>> free_;
};

// How many times brighter than the pixels around it a pixel starts to be
// taken for a bright fragment's spread; at twice that it is one.
constexpr float kOutlier = 2.0f;

// The colour that makes up for a pixel's opacity beyond or short of what a
// surface has, where spreads of different radii overlap or fall short of
// each other: the pixel's own (colour / alpha), or where that is a bright
// fragment's spread, the mean of the pixels twice `reach` to either side,
// which lie beyond it wherever in it the pixel is. So a lamp over a surface
// keeps its light, the surface giving or taking what the overlap adds, and
// a surface stays as it is. `rgba` is a row of `width` pixels,
// premultiplied.
void makeUpColour(const float* rgba, int width, int x, int reach, float out[3]) {
    const auto colourAt = [&](int at, float* c) {
        const float* v = rgba + std::size_t(std::min(width - 1, std::max(0, at))) * 4;
        if (!(v[3] > 0.0f)) return false;
        for (int i = 0; i < 3; ++i) c[i] = v[i] / v[3];
        return true;
    };
    float left[3], right[3];
    colourAt(x, out);
    const bool l = colourAt(x - 2 * reach, left), r = colourAt(x + 2 * reach, right);
    if (!l && !r) return;
    float sides[3];
    for (int i = 0; i < 3; ++i)
        sides[i] = l && r ? 0.5f * (left[i] + right[i]) : (l ? left[i] : right[i]);
    const float own = out[0] + out[1] + out[2], around = sides[0] + sides[1] + sides[2];
    if (!(around > 0.0f) || !(own > kOutlier * around)) return;
    const float t = std::min(1.0f, (own / around - kOutlier) / kOutlier);
    for (int i = 0; i < 3; ++i) out[i] += t * (sides[i] - out[i]);
}

// The slabs composited so far, front to back ("over"), premultiplied.
class Composite {
public:
    Composite(const RenderInput& input, int sharpSlab)
        : width_(input.width()), sharp_(sharpSlab), othersShow_(input.pixelCount(), 0) {
        for (std::vector<float>& plane : sum_.colour) plane.assign(input.pixelCount(), 0.0f);
        sum_.alpha.assign(input.pixelCount(), 0.0f);
        opaque_.assign(input.pixelCount(), 1);
        if (!input.hasAlpha()) return;
        std::size_t p = 0;
        for (int y = 0; y < input.height(); ++y)
            for (int x = 0; x < input.width(); ++x, ++p)
                opaque_[p] = input.stored(x, y).alpha == 1.0;
    }

    // Adds row y of a slab, whose shapes reach `reach` pixels at most, behind
    // what is there. Where the slab's fragments overlap to more than full
    // opacity, the excess is taken off in the colour makeUpColour gives.
    void addBehind(int slab, int y, const float* rgba, int reach) {
        for (int x = 0; x < width_; ++x) {
            const float* v = rgba + std::size_t(x) * 4;
            if (v[0] == 0.0f && v[1] == 0.0f && v[2] == 0.0f && v[3] == 0.0f) continue;
            const std::size_t p = std::size_t(y) * std::size_t(width_) + std::size_t(x);
            // A nearer slab covers the pixel's sharp part; a farther one shows
            // through it where the file's alpha lets it.
            if (slab < sharp_ || (slab > sharp_ && !opaque_[p])) othersShow_[p] = 1;
            const float through = 1.0f - sum_.alpha[p];
            float excess[3] = {0.0f, 0.0f, 0.0f};
            if (v[3] > 1.0f) {
                makeUpColour(rgba, width_, x, reach, excess);
                for (float& c : excess) c *= v[3] - 1.0f;
            }
            for (int c = 0; c < 3; ++c) sum_.colour[c][p] += through * (v[c] - excess[c]);
            sum_.alpha[p] += through * std::min(1.0f, v[3]);
        }
    }

    // The composite in the input's association, its shortfalls of opacity
    // made up as far as `reach` pixels; see renderAperture.
    RenderedColour store(const ApertureFragments& fragments, const RenderInput& input, int reach) {
        const bool opaqueFrame =
            std::all_of(opaque_.begin(), opaque_.end(), [](std::uint8_t o) { return o != 0; });
        if (opaqueFrame) makeUpOpacity(reach);
        std::size_t p = 0;
        for (int y = 0; y < input.height(); ++y)
            for (int x = 0; x < input.width(); ++x, ++p) {
                if (fragments.wholeSharp(x, y) && !othersShow_[p]) {
                    const PixelValues v = input.stored(x, y);
                    for (int c = 0; c < 3; ++c) sum_.colour[c][p] = float(v.colour[c]);
                    sum_.alpha[p] = float(v.alpha);
                    continue;
                }
                const float a = sum_.alpha[p];
                if (input.associated() || (opaqueFrame && a > 0.0f)) continue;
                const PixelValues v = a > 0.0f ? PixelValues() : input.stored(x, y);
                for (int c = 0; c < 3; ++c)
                    sum_.colour[c][p] = a > 0.0f ? sum_.colour[c][p] / a : float(v.colour[c]);
            }
        if (!input.hasAlpha()) sum_.alpha.clear();
        return std::move(sum_);
    }

private:
    // Spreads of radii that change fast across a surface do not add up to
    // its opacity; an opaque frame is opaque behind every pixel, so what
    // they fall short of is made up, row by row.
    void makeUpOpacity(int reach) {
        std::vector<float> row(std::size_t(width_) * 4);
        const std::size_t height = sum_.alpha.size() / std::size_t(width_);
        for (std::size_t y = 0; y < height; ++y) {
            const std::size_t first = y * std::size_t(width_);
            for (std::size_t x = 0; x < std::size_t(width_); ++x) {
                for (int c = 0; c < 3; ++c) row[x * 4 + std::size_t(c)] = sum_.colour[c][first + x];
                row[x * 4 + 3] = sum_.alpha[first + x];
            }
            for (int x = 0; x < width_; ++x) {
                const std::size_t p = first + std::size_t(x);
                const float a = sum_.alpha[p];
                if (!(a > 0.0f)) continue;
                if (a >= 1.0f) {
                    sum_.alpha[p] = 1.0f;
                    continue;
                }
                float colour[3];
                makeUpColour(row.data(), width_, x, reach, colour);
                for (int c = 0; c < 3; ++c) sum_.colour[c][p] += (1.0f - a) * colour[c];
                sum_.alpha[p] = 1.0f;
            }
        }
    }

    int width_, sharp_;
    RenderedColour sum_;
    std::vector<std::uint8_t> othersShow_;  // a slab besides the pixel's sharp fragment shows
    std::vector<std::uint8_t> opaque_;      // the file's alpha is 1
};

// How the frame goes on beyond its edges, for one slab: each edge pixel again
// at every position beyond the edge that its shape reaches the frame from,
// its radius going on as extendedRadius says, with the change of radius
// from the pixel inward.
struct EdgeSlopes {
    std::vector<float> top, bottom;  // per column
    std::vector<float> left, right;  // per row
};

// The largest radius extendedRadius gives, for one of 1.
constexpr double kMostExtended = 1.5;

// One slab's spreading: its fragments, the fill of its holes, its footprints.
struct SlabSpread {
    const ApertureFragments& fragments;
    const SlabFill* fill;  // null: no holes
    int slab;
    const Footprints& footprints;
    int reach;  // the farthest a footprint of the slab, or of a copy beyond the edges, reaches
    int around;  // the farthest a footprint of the slab's own fragments reaches
    EdgeSlopes slopes;
};

// The radius of the slab's first fragment at pixel (x, y), its own or its
// fill; none where there is neither.
std::optional<double> radiusAt(const SlabSpread& s, int x, int y) {
    const auto first = [x](const SpreadFragment* begin,
                           const SpreadFragment* end) -> std::optional<double> {
        const SpreadFragment* f = std::lower_bound(
            begin, end, x, [](const SpreadFragment& g, int column) { return g.x < column; });
        if (f != end && f->x == x) return keyRadius(f->key);
        return std::nullopt;
    };
    const std::optional<double> own =
        first(s.fragments.begin(s.slab, y), s.fragments.end(s.slab, y));
    if (own || !s.fill) return own;
    return first(s.fill->begin(y), s.fill->end(y));
}

EdgeSlopes edgeSlopes(const SlabSpread& s) {
    const int w = s.fragments.width(), h = s.fragments.height();
    // How the radius changes from a pixel inward to the one on the edge; 0
    // where either holds nothing.
    const auto slope = [&](int x, int y, int inwardX, int inwardY) {
        const std::optional<double> edge = radiusAt(s, x, y);
        const std::optional<double> inward = radiusAt(s, inwardX, inwardY);
        return edge && inward ? float(*edge - *inward) : 0.0f;
    };
    EdgeSlopes e;
    for (int x = 0; x < w; ++x) {
        e.top.push_back(slope(x, 0, x, std::min(1, h - 1)));
        e.bottom.push_back(slope(x, h - 1, x, std::max(0, h - 2)));
    }
    for (int y = 0; y < h; ++y) {
        e.left.push_back(slope(0, y, std::min(1, w - 1), y));
        e.right.push_back(slope(w - 1, y, std::max(0, w - 2), y));
    }
    return e;
}

// Spreads a fragment of radius `radius` at (x, y) into the band, and at an
// edge column its copies beyond the edge, `slope` radius per column outward.
void spreadFragment(const SlabSpread& s, const SpreadFragment& f, int x, int y, double radius,
                    SpreadBand& band, Workspace& w) {
    const int key = radius == keyRadius(f.key) ? f.key : radiusKey(radius);
    const ApertureFootprint& footprint = w.footprint(s.footprints, key, x, y);
    const int top = footprint.sharp() ? 0 : footprint.top();
    const int bottom = footprint.sharp() ? 0 : footprint.bottom();
    if (y + bottom < band.top() || y + top >= band.top() + band.height()) return;
    band.add(x, y, f.rgba, footprint);
    const int last = s.fragments.width() - 1;
    for (int side = -1; side <= 1; side += 2) {
        if (x != (side < 0 ? 0 : last)) continue;
        const int row = std::min(s.fragments.height() - 1, std::max(0, y));
        const double slope = side < 0 ? s.slopes.left[std::size_t(row)]
                                      : s.slopes.right[std::size_t(row)];
        for (int k = 1;; ++k) {
            const double copy = extendedRadius(radius, slope, k);
            const ApertureFootprint& far =
                w.footprint(s.footprints, radiusKey(copy), x + side * k, y);
            if (far.sharp() || far.reach() < k) break;
            band.add(x + side * k, y, f.rgba, far);
        }
    }
}

// Spreads the fragments [f, end) of a frame row standing at row y: beyond
// the frame, as copies of the edge row's.
void spreadRow(const SlabSpread& s, const SpreadFragment* f, const SpreadFragment* end, int y,
               SpreadBand& band, Workspace& w) {
    const int h = s.fragments.height();
    const int beyond = y < 0 ? -y : std::max(0, y - h + 1);
    const std::vector<float>& slopes = y < 0 ? s.slopes.top : s.slopes.bottom;
    for (; f != end; ++f) {
        const double radius = keyRadius(f->key);
        spreadFragment(s, *f, f->x, y,
                       beyond > 0 ? extendedRadius(radius, slopes[std::size_t(f->x)], beyond)
                                  : radius,
                       band, w);
    }
}

// How much more a pixel's own spread counts than its fill's for its colour.
// Below about 1/256 of alpha, a slab's own spread gives way to its fill.
constexpr float kOwnWeight = 256.0f;

// Where a slab's own spread and its fill's meet, the slab's alpha is their
// sum, but its colour is its own wherever its own spread reaches: within a
// surface that crosses into a nearer slab, its own discs there are what the
// nearer slab's cut discs leave of the surface, and together they make up
// the whole discs, where the fill's would be whole discs on top of the cut
// ones. Deep in a hole, where its own spread fades out, the fill's colour
// takes over.
void preferOwnColour(float* own, const float* fill, int width) {
    for (int x = 0; x < width; ++x) {
        float* o = own + std::size_t(x) * 4;
        const float* f = fill + std::size_t(x) * 4;
        if (f[3] == 0.0f && f[0] == 0.0f && f[1] == 0.0f && f[2] == 0.0f) continue;
        const float weight = kOwnWeight * o[3] + f[3];
        const float alpha = o[3] + f[3];
        const float scale = weight > 0.0f ? alpha / weight : 0.0f;
        for (int c = 0; c < 3; ++c)
            o[c] = weight > 0.0f ? (kOwnWeight * o[c] + f[c]) * scale : o[c] + f[c];
        o[3] = alpha;
    }
}

// Spreads band `b` of slab `s` and composites its rows.
void spreadBand(const SlabSpread& s, int b, Workspace& w, Composite& composite) {
    const int width = s.fragments.width(), height = s.fragments.height();
    const int top = b * kBandRows, rows = std::min(kBandRows, height - top);
    // Whether any row whose spread reaches the band holds a fragment: a band
    // that none reaches adds nothing, and one that no fill reaches has its
    // own colour throughout.
    bool own = false, filled = false;
    for (int y = top - s.reach; y < top + rows + s.reach; ++y) {
        const int row = std::min(height - 1, std::max(0, y));
        own = own || s.fragments.begin(s.slab, row) != s.fragments.end(s.slab, row);
        filled = filled || (s.fill && s.fill->begin(row) != s.fill->end(row));
    }
    if (!own && !filled) return;
    w.band.reset(width, 2 * s.reach + 2, top, rows);
    if (filled) w.fillBand.reset(width, 2 * s.reach + 2, top, rows);
    for (int y = top - s.reach; y < top + rows + s.reach; ++y) {
        const int row = std::min(height - 1, std::max(0, y));
        spreadRow(s, s.fragments.begin(s.slab, row), s.fragments.end(s.slab, row), y, w.band, w);
        if (filled) spreadRow(s, s.fill->begin(row), s.fill->end(row), y, w.fillBand, w);
    }
    w.row.resize(std::size_t(width) * 4);
    w.fillRow.resize(w.row.size());
    for (int y = top; y < top + rows; ++y) {
        w.band.finishRow(y, w.row.data());
        if (filled) {
            w.fillBand.finishRow(y, w.fillRow.data());
            preferOwnColour(w.row.data(), w.fillRow.data(), width);
        }
        composite.addBehind(s.slab, y, w.row.data(), s.around);
    }
}

// The radius keys a slab's fragments and fill use, in order.
std::vector<int> keysOf(const ApertureFragments& fragments, int slab, const SlabFill* fill) {
    int largest = fragments.largestKey(slab);
    if (fill) largest = std::max(largest, fill->largestKey());
    std::vector<char> used(std::size_t(largest) + 1, 0);
    for (int y = 0; y < fragments.height(); ++y) {
        for (auto f = fragments.begin(slab, y); f != fragments.end(slab, y); ++f)
            used[std::size_t(f->key)] = 1;
        if (!fill) continue;
        for (auto f = fill->begin(y); f != fill->end(y); ++f) used[std::size_t(f->key)] = 1;
    }
    std::vector<int> keys;
    for (std::size_t k = 0; k < used.size(); ++k)
        if (used[k]) keys.push_back(int(k));
    return keys;
}

// How far the shape of the largest radius key reaches, in pixels.
int reachOf(const Footprints& footprints, int key) {
    return key < 0 ? 0 : footprints.make(key, {}).reach();
}

// What nearer slabs cover, with slab `slab` added behind them.
void addCover(const ApertureFragments& fragments, int slab, std::vector<float>& cover,
              TaskPool* pool, int threads) {
    const std::size_t w = std::size_t(fragments.width());
    forEachTask(pool, threads, fragments.height(), [&](int y) {
        for (auto f = fragments.begin(slab, y); f != fragments.end(slab, y);) {
            const int x = f->x;
            float alpha = 0.0f;
            for (; f != fragments.end(slab, y) && f->x == x; ++f) alpha += f->rgba[3];
            float& c = cover[std::size_t(y) * w + std::size_t(x)];
            c += (1.0f - c) * std::min(1.0f, alpha);
        }
    });
}

// One frame's render through the aperture, slab by slab, front to back.
class ApertureRender {
public:
    ApertureRender(const RenderInput& input, const AperturePlan& plan,
                   const FrameRenderContext& context, runtime::PassSeconds* passSeconds)
        : input_(input),
          context_(context),
          seconds_(passSeconds),
          shape_(plan.shape, input.width(), input.height()),
          fragments_(timed(0, [&] {
              return ApertureFragments(input, plan.blur, shape_, plan.slabs, context.pool,
                                       context.threads);
          })),
          footprints_(shape_, plan.blur),
          composite_(input, fragments_.slabs().sharp()),
          cover_(input.pixelCount(), 0.0f),
          bands_((input.height() + kBandRows - 1) / kBandRows) {
        const AperturePicture* picture = plan.shape.picture.get();
        if (picture)
            picture_.reset(new PictureSpread(*picture, plan.blur.across,
                                             plan.blur.down * plan.shape.squeeze));
        double total = 0.0;
        for (int s = 0; s < fragments_.slabs().count(); ++s) {
            const int reach = reachOf(footprints_, fragments_.largestKey(s));
            reach_.push_back(picture ? int(std::ceil(reach * picture->reach)) : reach);
            total += work(s) * double(bands_);
        }
        if (context.progress) context.progress->frameWork(context.frameNumber, total);
    }

    RenderOutcome run(RenderedColour* result) {
        for (int s = 0; s < fragments_.slabs().count(); ++s) {
            if (fragments_.count(s) == 0) continue;
            if (interruptRequested() || !spreadSlab(s)) return RenderOutcome::Interrupted;
        }
        *result = timed(4, [&] { return composite_.store(fragments_, input_, std::max(1, nearerReach_)); });
        return RenderOutcome::Done;
    }

private:
    // Runs `step`, adding its time to pass `pass`.
    template <typename Step>
    auto timed(int pass, const Step& step) -> decltype(step()) {
        const Clock::time_point start = Clock::now();
        struct AddTime {
            double& seconds;
            Clock::time_point start;
            ~AddTime() { seconds += secondsSince(start); }
        } add{(*seconds_)[std::size_t(pass)], start};
        return step();
    }

    // A band's share of a slab's work: its fragments' rows.
    double work(int slab) const {
        return double(fragments_.count(slab)) * double(2 * reach_[std::size_t(slab)] + 1) /
               double(bands_);
    }

    // Spreads slab `slab` behind the slabs before it; false when a stop was
    // asked for.
    bool spreadSlab(int slab) {
        std::unique_ptr<SlabFill> fill;
        if (nearerReach_ >= 0)
            fill = timed(1, [&] {
                return std::unique_ptr<SlabFill>(
                    new SlabFill(fragments_, slab, cover_,
                                 nearerReach_ + reach_[std::size_t(slab)] + 2, context_.pool,
                                 context_.threads));
            });
        if (picture_) return timed(3, [&] { return spreadPicture(slab, fill.get()); });
        const int reach = timed(2, [&] {
            if (!footprints_.cuts())
                footprints_.prepare(keysOf(fragments_, slab, fill.get()), context_.pool,
                                    context_.threads);
            const int largest =
                std::max(fragments_.largestKey(slab), fill ? fill->largestKey() : -1);
            return reachOf(footprints_, radiusKey(kMostExtended * keyRadius(largest)));
        });
        return timed(3, [&] {
            SlabSpread spread{fragments_, fill.get(),          slab,
                              footprints_, reach, std::max(1, reach_[std::size_t(slab)]), {}};
            spread.slopes = edgeSlopes(spread);
            forEachTask(context_.pool, context_.threads, bands_, [&](int b) {
                if (interruptRequested()) return;
                std::unique_ptr<Workspace> w = workspaces_.take();
                spreadBand(spread, b, *w, composite_);
                workspaces_.give(std::move(w));
                if (context_.progress) context_.progress->addWork(context_.frameNumber, work(slab));
            });
            if (interruptRequested()) return false;
            addCover(fragments_, slab, cover_, context_.pool, context_.threads);
            nearerReach_ = std::max(nearerReach_, reach_[std::size_t(slab)]);
            return true;
        });
    }

    // Spreads slab `slab` over the picture of the aperture; as spreadSlab.
    bool spreadPicture(int slab, const SlabFill* fill) {
        const int around = std::max(1, reach_[std::size_t(slab)]);
        const std::size_t rowSize = std::size_t(fragments_.width()) * 4;
        // With a fill, the slab's own spread waits for the fill's to be
        // joined to it row by row, as the shapes' bands do.
        std::vector<float> own(fill ? rowSize * std::size_t(fragments_.height()) : 0);
        const auto addOwn = [&](int y, const float* rgba) {
            if (!fill) return composite_.addBehind(slab, y, rgba, around);
            std::copy(rgba, rgba + rowSize, &own[std::size_t(y) * rowSize]);
        };
        const auto addFill = [&](int y, const float* rgba) {
            float* row = &own[std::size_t(y) * rowSize];
            preferOwnColour(row, rgba, fragments_.width());
            composite_.addBehind(slab, y, row, around);
        };
        if (!picture_->spread(fragments_, slab, nullptr, context_.pool, context_.threads, addOwn))
            return false;
        if (fill &&
            !picture_->spread(fragments_, slab, fill, context_.pool, context_.threads, addFill))
            return false;
        if (context_.progress)
            context_.progress->addWork(context_.frameNumber, work(slab) * bands_);
        addCover(fragments_, slab, cover_, context_.pool, context_.threads);
        nearerReach_ = std::max(nearerReach_, reach_[std::size_t(slab)]);
        return true;
    }

    const RenderInput& input_;
    const FrameRenderContext& context_;
    runtime::PassSeconds* seconds_;
    ApertureShape shape_;
    ApertureFragments fragments_;
    Footprints footprints_;
    Composite composite_;
    std::vector<float> cover_;  // per pixel, the alpha of the slabs spread so far
    std::vector<int> reach_;    // per slab, how far its fragments' shapes reach
    int bands_;
    int nearerReach_ = -1;  // the farthest a slab spread so far reaches; -1: none
    Workspaces workspaces_;
    std::unique_ptr<PictureSpread> picture_;  // null: the shape's footprints
};

}  // namespace

RenderOutcome renderAperture(const RenderInput& input, const AperturePlan& plan,
                             const FrameRenderContext& context, RenderedColour* result,
                             runtime::PassSeconds* passSeconds) {
    *passSeconds = runtime::PassSeconds{};
    return ApertureRender(input, plan, context, passSeconds).run(result);
}

}  // namespace dof
