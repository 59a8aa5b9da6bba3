#include "dof/splat_walk.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "dof/scratch_tables.h"
#include "host/fi_memory.h"

// A queued fragment: its values, its footprint in the region and its hat
// tables. A table's tap for signed distance d from the centre is at
// pool[centre + d]; it holds the hat out to `reach`, then zeros.
struct QueuedFragment {
    SplatFragment values;
    std::int32_t x, y;    // the source pixel, region-relative
    std::int32_t x0, x1;  // footprint columns in the region, end exclusive
    std::int32_t y0, y1;  // footprint rows
    std::uint32_t centreX, centreY;
    std::int32_t reachX, reachY;
    SplatLayout layout;  // the fewest planes that can take it
    bool exact;          // non-finite values: no zero taps, the literal run
    bool unitCoverage;
};

// A hat table of the band, by the shape it was built for.
struct HatEntry {
    std::uint64_t stepBits;
    std::int32_t radius;  // -1: empty
    std::uint32_t centre;
};

namespace {

constexpr std::uint64_t kDefaultBandWork = std::uint64_t(1) << 28;
constexpr std::size_t kMaxFragments = 65536;
constexpr std::size_t kMaxPool = std::size_t(1) << 21;
constexpr std::size_t kHatEntries = 256;
// Zero taps on each side of a table: a group's columns may reach this far
// beyond a member's footprint.
constexpr std::int64_t kTapPadding = 2 * kTapBlock;
// Set-up costs, counted as taps.
constexpr std::uint64_t kFragmentWork = 32;
constexpr std::uint64_t kPixelWork = 2;
constexpr std::size_t kAlign = 64;
constexpr std::uint8_t kLayoutUnknown = 0xFF;

// Cost of a group over one row of one block, per fragment and per load and
// store of the accumulators, by layout.
constexpr std::uint64_t kGroupFragmentCost[3] = {12, 23, 40};
constexpr std::uint64_t kGroupPlaneCost[3] = {10, 16, 24};

// Tile planes as each layout keeps them: the render plane each one is
// loaded from, and for each render plane the tile plane it is stored from.
constexpr int kTilePlanes[3] = {5, 8, 12};
constexpr int kLoadedFrom[3][kTilePlaneCount] = {
    {0, 1, 2, 6, 9},
    {0, 1, 2, 3, 4, 5, 6, 9},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
};
constexpr int kStoredFrom[3][kTilePlaneCount] = {
    {0, 1, 2, 3, 3, 3, 3, 3, 3, 4, 4, 4},
    {0, 1, 2, 3, 4, 5, 6, 6, 6, 7, 7, 7},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
};

inline bool is_transmit(int plane) { return plane >= kTileTransmit; }

inline std::int64_t min64(std::int64_t a, std::int64_t b) { return a < b ? a : b; }
inline std::int64_t max64(std::int64_t a, std::int64_t b) { return a > b ? a : b; }
inline int min_int(int a, int b) { return a < b ? a : b; }
inline int max_int(int a, int b) { return a > b ? a : b; }

inline bool finite(double v) { return v - v == 0.0; }

inline std::uint64_t bits_of(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

std::size_t table_size(std::int64_t reach) { return std::size_t(2 * (reach + kTapPadding) + 1); }

// Bytes of `count` elements, rounded up to whole cache lines, added to
// `total`; false when the sum leaves what the host allocator can count.
bool add_bytes(std::uint64_t count, std::uint64_t elementBytes, std::uint64_t* total) {
    const std::uint64_t limit =
        std::uint64_t(PTRDIFF_MAX) < 0xFFFFFFFFull ? std::uint64_t(PTRDIFF_MAX) : 0xFFFFFFFFull;
    if (count > limit / elementBytes) return false;
    const std::uint64_t bytes = (count * elementBytes + kAlign - 1) / kAlign * kAlign;
    if (bytes > limit - *total) return false;
    *total += bytes;
    return true;
}

template <typename T>
T* carve(std::uint8_t*& at, std::uint64_t count) {
    T* p = reinterpret_cast<T*>(at);
    at += (count * sizeof(T) + kAlign - 1) / kAlign * kAlign;
    return p;
}

}  // namespace

SplatWalkTuning& splat_walk_tuning() {
    static SplatWalkTuning tuning = {kSplatBest, kDefaultBandWork, 64, 256};
    return tuning;
}

SplatWalk::SplatWalk(IFXFilterInstance const& instance, Parameters* params)
    : instance_(instance), params_(params), tuning_(splat_walk_tuning()) {}

SplatWalk::~SplatWalk() { fi_FreeMem(block_); }

bool SplatWalk::start() {
    const QVRect& region = instance_.renderRegion;
    width_ = region.width;
    height_ = region.height;
    if (tuning_.tileRows < 1) tuning_.tileRows = 1;
    if (tuning_.tileColumns < kTapBlock) tuning_.tileColumns = kTapBlock;
    tuning_.tileColumns -= tuning_.tileColumns % kTapBlock;
    kernels_ = splat_group_kernels(tuning_.variant);
    if (kernels_ == nullptr) kernels_ = splat_group_kernels(kSplatBest);

    const std::uint64_t W = std::uint64_t(width_), H = std::uint64_t(height_);
    const std::uint64_t TH = std::uint64_t(tuning_.tileRows);
    const std::uint64_t TW = std::uint64_t(tuning_.tileColumns);
    tileColumnCount_ = int((W + TW - 1) / TW);
    const std::uint64_t tiles = ((H + TH - 1) / TH) * std::uint64_t(tileColumnCount_);
    hatReach_ = std::int64_t(W > H ? W : H) - 1;
    // Rows a whole cache line more than a power of two apart, and planes
    // too, so that a column of a tile does not crowd a few cache sets.
    rowStride_ = std::ptrdiff_t(TW) + kTapBlock;
    planeStride_ = std::ptrdiff_t(TH) * rowStride_ + kTapBlock;

    const std::uint64_t pixels = W * H;
    fragmentCapacity_ =
        std::size_t(pixels < kMaxFragments ? (pixels < 64 ? 64 : pixels) : kMaxFragments);
    // Room for the two tables of any one fragment at least.
    const std::uint64_t twoTables = 2 * std::uint64_t(table_size(hatReach_));
    const std::uint64_t pool = std::uint64_t(fragmentCapacity_) * 64 < kMaxPool
                                   ? std::uint64_t(fragmentCapacity_) * 64
                                   : kMaxPool;
    const std::uint64_t poolCapacity = pool > twoTables ? pool : twoTables;
    const std::uint64_t entryCapacity =
        std::uint64_t(fragmentCapacity_) * 4 > tiles ? std::uint64_t(fragmentCapacity_) * 4 : tiles;
    std::uint64_t bytes = kAlign;
    if (!add_bytes(fragmentCapacity_, sizeof(QueuedFragment), &bytes) ||
        !add_bytes(poolCapacity, sizeof(double), &bytes) ||
        !add_bytes(kHatEntries, sizeof(HatEntry), &bytes) ||
        !add_bytes(entryCapacity, sizeof(std::uint32_t), &bytes) ||
        !add_bytes(tiles, sizeof(std::uint32_t), &bytes) ||
        !add_bytes(tiles, sizeof(std::uint8_t), &bytes) ||
        !add_bytes(std::uint64_t(kTilePlaneCount) * std::uint64_t(planeStride_), sizeof(double),
                   &bytes) ||
        entryCapacity > 0xFFFFFFFFull || poolCapacity > 0xFFFFFFFFull)
        return false;
    block_ = fi_AllocMem(QVULong(bytes), 0);
    if (block_ == nullptr) return false;

    std::uint8_t* at =
        reinterpret_cast<std::uint8_t*>((std::uintptr_t(block_) + kAlign - 1) / kAlign * kAlign);
    fragments_ = carve<QueuedFragment>(at, fragmentCapacity_);
    pool_ = carve<double>(at, poolCapacity);
    poolCapacity_ = std::size_t(poolCapacity);
    hats_ = carve<HatEntry>(at, kHatEntries);
    entries_ = carve<std::uint32_t>(at, entryCapacity);
    entryCapacity_ = std::size_t(entryCapacity);
    tileEnds_ = carve<std::uint32_t>(at, tiles);
    tileLayouts_ = carve<std::uint8_t>(at, tiles);
    tile_ = carve<double>(at, std::uint64_t(kTilePlaneCount) * std::uint64_t(planeStride_));
    for (std::size_t i = 0; i < kHatEntries; ++i) hats_[i].radius = -1;
    std::memset(tileLayouts_, kLayoutUnknown, std::size_t(tiles));

    int p = 0;
    for (int kind : {kColourSums, kOpacitySums, kWeightSums, kTransmits})
        for (int c = 0; c < 3; ++c) planes_[p++] = scratch_table(params_, kind + c);
    return true;
}

// Fragments of one radius share a table: a band of a frame often holds
// thousands of fragments blurred by the full radius.
bool SplatWalk::hatTable(const HatShape& shape, std::int64_t reach, std::size_t* centre) {
    const std::uint64_t stepBits = bits_of(shape.step);
    HatEntry& entry =
        hats_[(stepBits ^ (stepBits >> 29) ^ std::uint64_t(shape.radius) * 0x9E3779B1u) %
              kHatEntries];
    if (entry.radius == shape.radius && entry.stepBits == stepBits) {
        *centre = entry.centre;
        return true;
    }
    const std::size_t size = table_size(reach);
    if (size > poolCapacity_ - poolUsed_) return false;
    double* table = pool_ + poolUsed_;
    std::memset(table, 0, size * sizeof(double));
    double* middle = table + (reach + kTapPadding);
    // 1.0, then one subtraction of the step per tap, as HatKernel builds them.
    double w = 1.0;
    middle[0] = w;
    for (std::int64_t k = 1; k <= reach; ++k) {
        w = w - shape.step;
        middle[k] = w;
        middle[-k] = w;
    }
    *centre = std::size_t(middle - pool_);
    poolUsed_ += size;
    entry = {stepBits, shape.radius, std::uint32_t(*centre)};
    return true;
}

bool SplatWalk::add(SplatFragment const& v) {
    HatShape across, down;
    if (!hat_shape(v.radiusX, &across) || !hat_shape(v.radiusY, &down)) {
        flush();
        return false;
    }
    const QVRect& region = instance_.renderRegion;
    const std::int64_t x = std::int64_t(v.x) - region.left;
    const std::int64_t y = std::int64_t(v.y) - region.top;
    const std::int64_t x0 = max64(0, x - across.radius);
    const std::int64_t x1 = min64(width_, x + across.radius + 1);
    const std::int64_t y0 = max64(0, y - down.radius);
    const std::int64_t y1 = min64(height_, y + down.radius + 1);
    if (x1 <= x0 || y1 <= y0) return true;

    const std::int64_t TH = tuning_.tileRows, TW = tuning_.tileColumns;
    const std::size_t tiles =
        std::size_t(((y1 - 1) / TH - y0 / TH + 1) * ((x1 - 1) / TW - x0 / TW + 1));
    const std::int64_t reachX = min64(across.radius, hatReach_);
    const std::int64_t reachY = min64(down.radius, hatReach_);
    std::size_t centreX, centreY;
    if (fragmentCount_ == fragmentCapacity_ || tiles > entryCapacity_ - entryCount_ ||
        !hatTable(across, reachX, &centreX) || !hatTable(down, reachY, &centreY)) {
        flush();
        hatTable(across, reachX, &centreX);
        hatTable(down, reachY, &centreY);
    }

    QueuedFragment& f = fragments_[fragmentCount_++];
    f.values = v;
    f.x = std::int32_t(x);
    f.y = std::int32_t(y);
    f.x0 = std::int32_t(x0);
    f.x1 = std::int32_t(x1);
    f.y0 = std::int32_t(y0);
    f.y1 = std::int32_t(y1);
    f.centreX = std::uint32_t(centreX);
    f.centreY = std::uint32_t(centreY);
    f.reachX = std::int32_t(reachX);
    f.reachY = std::int32_t(reachY);
    entryCount_ += tiles;

    bool allFinite = true;
    for (int c = 0; c < 3; ++c)
        allFinite =
            allFinite && finite(v.colour[c]) && finite(v.opacity[c]) && finite(v.coverage[c]);
    const bool equalCoverage = bits_of(v.coverage[0]) == bits_of(v.coverage[1]) &&
                               bits_of(v.coverage[0]) == bits_of(v.coverage[2]);
    const bool unitOpacity = v.opacity[0] == 1.0 && v.opacity[1] == 1.0 && v.opacity[2] == 1.0;
    f.exact = !allFinite;
    f.unitCoverage = equalCoverage && v.coverage[0] == 1.0;
    f.layout = !allFinite || !equalCoverage ? kFull12 : (unitOpacity ? kShared5 : kShared8);
    work_ += std::uint64_t((x1 - x0) * (y1 - y0)) + kFragmentWork;
    return true;
}

bool SplatWalk::endPixel() {
    work_ += kPixelWork;
    if (work_ < tuning_.bandWork) return false;
    flush();
    return true;
}

void SplatWalk::flush() {
    work_ = 0;
    if (fragmentCount_ == 0) return;
    const int TH = tuning_.tileRows, TW = tuning_.tileColumns;
    int firstTileRow = height_, lastTileRow = 0;
    for (std::size_t i = 0; i < fragmentCount_; ++i) {
        firstTileRow = min_int(firstTileRow, fragments_[i].y0 / TH);
        lastTileRow = max_int(lastTileRow, (fragments_[i].y1 - 1) / TH);
    }
    // Counting sort of the fragments by tile; each tile's list keeps the
    // order in which the fragments came.
    const std::size_t tiles = std::size_t(lastTileRow - firstTileRow + 1) * tileColumnCount_;
    std::memset(tileEnds_, 0, tiles * sizeof(std::uint32_t));
    auto each_tile = [&](const QueuedFragment& f, auto&& visit) {
        for (int tr = f.y0 / TH; tr <= (f.y1 - 1) / TH; ++tr)
            for (int tc = f.x0 / TW; tc <= (f.x1 - 1) / TW; ++tc)
                visit(std::size_t(tr - firstTileRow) * tileColumnCount_ + std::size_t(tc));
    };
    for (std::size_t i = 0; i < fragmentCount_; ++i)
        each_tile(fragments_[i], [&](std::size_t t) { ++tileEnds_[t]; });
    std::uint32_t start = 0;
    for (std::size_t t = 0; t < tiles; ++t) {
        const std::uint32_t n = tileEnds_[t];
        tileEnds_[t] = start;
        start += n;
    }
    for (std::size_t i = 0; i < fragmentCount_; ++i)
        each_tile(fragments_[i],
                  [&](std::size_t t) { entries_[tileEnds_[t]++] = std::uint32_t(i); });

    for (std::size_t t = 0; t < tiles; ++t) {
        const std::uint32_t begin = t == 0 ? 0 : tileEnds_[t - 1];
        if (tileEnds_[t] == begin) continue;
        applyTile(firstTileRow + int(t / tileColumnCount_), int(t % tileColumnCount_),
                  entries_ + begin, tileEnds_[t] - begin);
    }
    fragmentCount_ = 0;
    poolUsed_ = 0;
    entryCount_ = 0;
    for (std::size_t i = 0; i < kHatEntries; ++i) hats_[i].radius = -1;
}

double* SplatWalk::tilePlane(const Tile& tile, int plane, int row, int column) const {
    return tile_ + plane * planeStride_ + (row - tile.firstRow) * rowStride_ + (column - tile.left);
}

// One function on purpose: the tile's reach and layout, then the grouping of
// its fragments, share the tile and the group's bounds, which the grouping
// updates for every fragment on the pass's hottest path; a split would pass
// that state between calls and read no clearer.
void SplatWalk::applyTile(int tileRow, int tileColumn, const std::uint32_t* list,
                          std::size_t count) {
    Tile tile;
    tile.top = tileRow * tuning_.tileRows;
    tile.bottom = min_int(height_, tile.top + tuning_.tileRows);
    tile.left = tileColumn * tuning_.tileColumns;
    tile.right = min_int(width_, tile.left + tuning_.tileColumns);
    // The rectangle the fragments reach, in whole blocks of columns.
    int top = tile.bottom, bottom = tile.top, first = tile.right, end = tile.left;
    SplatLayout layout = kShared5;
    for (std::size_t i = 0; i < count; ++i) {
        const QueuedFragment& f = fragments_[list[i]];
        top = min_int(top, max_int(f.y0, tile.top));
        bottom = max_int(bottom, min_int(f.y1, tile.bottom));
        first = min_int(first, max_int(f.x0, tile.left));
        end = max_int(end, min_int(f.x1, tile.right));
        if (f.layout > layout) layout = f.layout;
    }
    first = tile.left + (first - tile.left) / kTapBlock * kTapBlock;
    end = tile.left + (end - tile.left + kTapBlock - 1) / kTapBlock * kTapBlock;
    tile.firstRow = top;
    // Planes kept once must hold the same bits throughout the tile; what
    // this tile holds is known from the pass's earlier bands, or checked.
    const std::size_t index = std::size_t(tileRow) * tileColumnCount_ + std::size_t(tileColumn);
    const SplatLayout held = tileLayout(tile, index);
    tile.layout = layout > held ? layout : held;
    tileLayouts_[index] = tile.layout;
    copyTile(tile, bottom, first, end, true);

    const QueuedFragment* group[kMaxGroup];
    int n = 0, gTop = 0, gBottom = 0, gFirst = 0, gEnd = 0;  // blocks of the tile
    const std::uint64_t perFragment = kGroupFragmentCost[tile.layout];
    const std::uint64_t perRow = kGroupPlaneCost[tile.layout];
    auto cost = [&](int rows, int blocks, int fragments) {
        return std::uint64_t(rows) * std::uint64_t(blocks) * (perFragment * fragments + perRow);
    };
    // Columns and rows of the group whose zero taps a member's table holds.
    auto within = [&](const QueuedFragment& f, int uTop, int uBottom, int uFirst, int uEnd) {
        const std::int64_t left = tile.left + std::int64_t(uFirst) * kTapBlock;
        const std::int64_t right = tile.left + std::int64_t(uEnd) * kTapBlock;
        return left >= f.x - f.reachX - kTapPadding && right <= f.x + f.reachX + kTapPadding + 1 &&
               uTop >= f.y - f.reachY - kTapPadding && uBottom <= f.y + f.reachY + kTapPadding + 1;
    };
    for (std::size_t i = 0; i < count; ++i) {
        const QueuedFragment& f = fragments_[list[i]];
        if (f.exact) {
            applyGroup(tile, group, n, gTop, gBottom, gFirst, gEnd);
            n = 0;
            applyExact(tile, f);
            continue;
        }
        const int fTop = max_int(f.y0, tile.top), fBottom = min_int(f.y1, tile.bottom);
        const int fFirst = (max_int(f.x0, tile.left) - tile.left) / kTapBlock;
        const int fEnd = (min_int(f.x1, tile.right) - tile.left + kTapBlock - 1) / kTapBlock;
        if (n > 0) {
            // Join the group where one pass over the union costs no more than
            // two passes, and every member's zero taps cover the union.
            const int uTop = min_int(gTop, fTop), uBottom = max_int(gBottom, fBottom);
            const int uFirst = min_int(gFirst, fFirst), uEnd = max_int(gEnd, fEnd);
            bool join = n < kernels_->maxGroup && cost(uBottom - uTop, uEnd - uFirst, n + 1) <=
                                                      cost(gBottom - gTop, gEnd - gFirst, n) +
                                                          cost(fBottom - fTop, fEnd - fFirst, 1);
            for (int j = 0; j < n && join; ++j)
                join = within(*group[j], uTop, uBottom, uFirst, uEnd);
            if (join && within(f, uTop, uBottom, uFirst, uEnd)) {
                group[n++] = &f;
                gTop = uTop;
                gBottom = uBottom;
                gFirst = uFirst;
                gEnd = uEnd;
                continue;
            }
            applyGroup(tile, group, n, gTop, gBottom, gFirst, gEnd);
        }
        group[0] = &f;
        n = 1;
        gTop = fTop;
        gBottom = fBottom;
        gFirst = fFirst;
        gEnd = fEnd;
    }
    applyGroup(tile, group, n, gTop, gBottom, gFirst, gEnd);
    copyTile(tile, bottom, first, end, false);
}

// The most shared layout the whole tile's planes allow now: planes kept once
// must hold the same bits in the render's planes.
SplatLayout SplatWalk::tileLayout(const Tile& tile, std::size_t index) const {
    if (tileLayouts_[index] != kLayoutUnknown) return SplatLayout(tileLayouts_[index]);
    SplatLayout layout = kShared5;
    const std::size_t bytes = std::size_t(tile.right - tile.left) * sizeof(double);
    for (int row = tile.top; row < tile.bottom; ++row) {
        const std::size_t at = std::size_t(row) * std::size_t(width_) + std::size_t(tile.left);
        const double* weight = planes_[kTileWeight] + at;
        const double* transmit = planes_[kTileTransmit] + at;
        for (int c = 1; c < 3; ++c)
            if (std::memcmp(planes_[kTileWeight + c] + at, weight, bytes) != 0 ||
                std::memcmp(planes_[kTileTransmit + c] + at, transmit, bytes) != 0)
                return kFull12;
        for (int c = 0; c < 3 && layout == kShared5; ++c)
            if (std::memcmp(planes_[kTileOpacity + c] + at, weight, bytes) != 0) layout = kShared8;
    }
    return layout;
}

// Rows firstRow..bottom and columns first..end of the tile between the
// render's planes and scratch; columns beyond the region are scratch only,
// with sums 0 and transmittance 1.
void SplatWalk::copyTile(const Tile& tile, int bottom, int first, int end, bool in) {
    const int inside = min_int(end, width_);
    const std::size_t bytes = std::size_t(inside - first) * sizeof(double);
    const SplatLayout layout = tile.layout;
    for (int row = tile.firstRow; row < bottom; ++row) {
        const std::size_t at = std::size_t(row) * std::size_t(width_) + std::size_t(first);
        if (in) {
            for (int p = 0; p < kTilePlanes[layout]; ++p) {
                const int from = kLoadedFrom[layout][p];
                double* to = tilePlane(tile, p, row, first);
                std::memcpy(to, planes_[from] + at, bytes);
                for (int x = inside; x < end; ++x) to[x - first] = is_transmit(from) ? 1.0 : 0.0;
            }
        } else {
            for (int p = 0; p < kTilePlaneCount; ++p)
                std::memcpy(planes_[p] + at, tilePlane(tile, kStoredFrom[layout][p], row, first),
                            bytes);
        }
    }
}

void SplatWalk::applyGroup(const Tile& tile, const QueuedFragment* const* group, int count, int top,
                           int bottom, int firstBlock, int endBlock) {
    if (count == 0) return;
    SplatGroup g;
    const int first = tile.left + firstBlock * kTapBlock;
    g.rows = bottom - top;
    g.columns = (endBlock - firstBlock) * kTapBlock;
    g.count = count;
    g.rowStride = rowStride_;
    bool unitCoverage = tile.layout == kShared5;
    for (int j = 0; j < count; ++j) {
        const QueuedFragment& f = *group[j];
        g.fragments[j] = &f.values;
        g.columnTaps[j] = pool_ + f.centreX + (first - f.x);
        g.rowTaps[j] = pool_ + f.centreY + (top - f.y);
        unitCoverage = unitCoverage && f.unitCoverage;
    }
    for (int p = 0; p < kTilePlaneCount; ++p)
        g.planes[p] = p < kTilePlanes[tile.layout] ? tilePlane(tile, p, top, first) : nullptr;
    const SplatGroupKernel kernel =
        unitCoverage ? kernels_->unitCoverage[count] : kernels_->layout[tile.layout][count];
    kernel(g);
}

// A fragment with non-finite values, whose zero taps would not leave the
// planes as they are, goes through the literal run over its own footprint;
// such a tile keeps all twelve planes.
void SplatWalk::applyExact(const Tile& tile, const QueuedFragment& f) {
    const int first = max_int(f.x0, tile.left), end = min_int(f.x1, tile.right);
    const int top = max_int(f.y0, tile.top), bottom = min_int(f.y1, tile.bottom);
    if (end <= first || bottom <= top) return;
    const double* hx = pool_ + f.centreX + (first - f.x);
    for (int y = top; y < bottom; ++y) {
        SplatChannelPlanes planes[3];
        for (int c = 0; c < 3; ++c)
            planes[c] = {tilePlane(tile, kTileColour + c, y, first),
                         tilePlane(tile, kTileOpacity + c, y, first),
                         tilePlane(tile, kTileTransmit + c, y, first),
                         tilePlane(tile, kTileWeight + c, y, first)};
        splat_run(planes, f.values, pool_[f.centreY + (y - f.y)], hx, end - first);
    }
}
