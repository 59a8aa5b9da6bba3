// A group of fragments applied together to a tile of the accumulation planes
// held in scratch, and the vector kernels that do it, one set per instruction
// set of the processor.
#pragma once

#include <cstddef>

#include "dof/splat_pixel.h"

// How many planes a tile keeps. Planes that receive the same operations in
// the same order hold the same bits and are kept once:
// - kShared5: equal coverage in the three channels and opacity 1: the three
//   colour sums, one weight sum that is also each opacity sum, and one
//   transmittance;
// - kShared8: equal coverage: three colour sums, three opacity sums, one
//   weight sum and one transmittance;
// - kFull12: the twelve planes.
enum SplatLayout : unsigned char { kShared5 = 0, kShared8 = 1, kFull12 = 2 };

// Tile planes in the order the kernels take them.
enum SplatTilePlane : int {
    kTileColour = 0,         // three, R G B
    kTileShared5Weight = 3,  // kShared5
    kTileShared5Transmit = 4,
    kTileOpacity = 3,  // kShared8 and kFull12: three
    kTileShared8Weight = 6,
    kTileShared8Transmit = 7,
    kTileWeight = 6,    // kFull12: three
    kTileTransmit = 9,  // kFull12: three
    kTilePlaneCount = 12
};

// Fragments taken per pass over a group's rectangle, at most.
constexpr int kMaxGroup = 8;

// The kernels' vector widths all divide this many columns.
constexpr int kTapBlock = 8;

// A rectangle of a tile and the fragments that reach into it, each with its
// taps over the rectangle: zero where its footprint does not reach, so that
// those lanes leave the planes as they are (for finite values).
struct SplatGroup {
    double* planes[kTilePlaneCount];  // at the rectangle's first element
    std::ptrdiff_t rowStride;         // elements from one row to the next
    int rows;
    int columns;  // a multiple of kTapBlock
    int count;    // fragments, 1 to kMaxGroup
    // Per fragment, its taps from the rectangle's first column and row on.
    const double* columnTaps[kMaxGroup];
    const double* rowTaps[kMaxGroup];
    const SplatFragment* fragments[kMaxGroup];
};

typedef void (*SplatGroupKernel)(const SplatGroup& group);

// Kernels by layout and number of fragments (index 0 unused), up to the
// most a group of the unit takes: as many as keep the group's values in its
// vector registers.
struct SplatGroupKernels {
    SplatGroupKernel unitCoverage[kMaxGroup + 1];  // kShared5, coverage exactly 1
    SplatGroupKernel layout[3][kMaxGroup + 1];
    int maxGroup;
};

// The instruction sets the kernels are built for.
enum SplatVariant : int {
    kSplatBest = 0,  // the widest this processor runs
    kSplatSSE2 = 1,
    kSplatAVX2 = 2,
    kSplatAVX512 = 3,
};

// The kernels of a variant, or null when this build or processor lacks it.
const SplatGroupKernels* splat_group_kernels(SplatVariant variant);

extern const SplatGroupKernels kSplatKernelsSSE2;
#if defined(__x86_64__)
extern const SplatGroupKernels kSplatKernelsAVX2;
extern const SplatGroupKernels kSplatKernelsAVX512;
#endif
