// The blocked walk of the splatting pass: the fragments of a band of source
// pixels are queued in the literal walk's order, then applied destination
// tile by destination tile, so that a tile's planes stay in the cache while
// every fragment of the band that reaches it is added, in order. Each plane
// element receives the same fragments in the same order with the same
// operations as under splat_pixel, so the planes end bit for bit as the
// literal walk leaves them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dof/splat_group.h"
#include "dof/splat_pixel.h"
#include "host/IFXFilterInstance.h"
#include "host/Parameters.h"
#include "kernels/Kernel.h"

// Settings of the walk. Only tests change them, in their own copy of the
// engine, to reach every band and tile remainder with small scenes.
struct SplatWalkTuning {
    SplatVariant variant;
    // A band ends at the first whole source pixel after about this many taps
    // (fragment and pixel set-up counted as taps too).
    std::uint64_t bandWork;
    int tileRows;
    int tileColumns;  // a multiple of kTapBlock
};

SplatWalkTuning& splat_walk_tuning();

struct QueuedFragment;

class SplatWalk {
public:
    SplatWalk(IFXFilterInstance const& instance, Parameters* params);
    ~SplatWalk();
    SplatWalk(const SplatWalk&) = delete;
    SplatWalk& operator=(const SplatWalk&) = delete;

    // Takes the walk's scratch from the host allocator, once per pass; false
    // when it cannot be had.
    bool start();

    // Queues a fragment of the current source pixel. False where the literal
    // walk fails for want of a hat table (a radius too large to count); the
    // fragments before it are applied first, nothing after.
    bool add(SplatFragment const& fragment);

    // Marks the end of a source pixel. True when that ended a band, which is
    // then applied: the planes hold the literal walk's state after this pixel.
    bool endPixel();

    // Applies what is queued.
    void flush();

private:
    struct Tile {
        int top, bottom;  // tile rows, region-relative, end exclusive
        int left, right;  // tile columns
        int firstRow;     // first row held in scratch
        SplatLayout layout;
    };

    // Centre of the hat table for (radius, step) reaching `reach` taps out,
    // from the band's tables or built; false when the pool is full.
    bool hatTable(const HatShape& shape, std::int64_t reach, std::size_t* centre);
    void applyTile(int tileRow, int tileColumn, const std::uint32_t* list, std::size_t count);
    SplatLayout tileLayout(const Tile& tile, std::size_t index) const;
    void copyTile(const Tile& tile, int bottom, int first, int end, bool in);
    void applyGroup(const Tile& tile, const QueuedFragment* const* group, int count, int top,
                    int bottom, int firstBlock, int endBlock);
    void applyExact(const Tile& tile, const QueuedFragment& fragment);
    double* tilePlane(const Tile& tile, int plane, int row, int column) const;

    IFXFilterInstance const& instance_;
    Parameters* params_;
    SplatWalkTuning tuning_;
    const SplatGroupKernels* kernels_ = nullptr;
    double* planes_[kTilePlaneCount] = {};  // the render's planes, in tile order
    int width_ = 0, height_ = 0;
    int tileColumnCount_ = 0;
    std::int64_t hatReach_ = 0;  // no footprint inside the region reaches farther
    std::ptrdiff_t rowStride_ = 0, planeStride_ = 0;

    void* block_ = nullptr;
    QueuedFragment* fragments_ = nullptr;
    std::size_t fragmentCount_ = 0, fragmentCapacity_ = 0;
    double* pool_ = nullptr;  // hat tables, zero-padded both sides
    std::size_t poolUsed_ = 0, poolCapacity_ = 0;
    struct HatEntry* hats_ = nullptr;   // the band's tables by shape
    std::uint32_t* entries_ = nullptr;  // fragment indices, tile by tile
    std::size_t entryCount_ = 0, entryCapacity_ = 0;
    std::uint32_t* tileEnds_ = nullptr;
    std::uint8_t* tileLayouts_ = nullptr;  // per tile of the region, once known
    double* tile_ = nullptr;
    std::uint64_t work_ = 0;
};
