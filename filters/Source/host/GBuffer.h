// The host's g-buffer channel table: per-pixel auxiliary channels of a render.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/HostTypes.h"

// Entries of the channel table that the effect reads.
enum GBufferEntry : int {
    kGBufferDepth = 0,           // float
    kGBufferColourExponent = 5,  // R, G, B bytes and a shared exponent byte
    kGBufferCoverage = 6,        // one byte
    kGBufferColour = 9,          // R, G, B bytes; used when entry 5 is absent
    kGBufferTransparency = 10,   // R, G, B bytes
    kGBufferLayerWeight = 12,    // R, G, B bytes per layer
    kGBufferLayerRange = 14,     // first and end layer index, two uint16
    kGBufferEntryCount = 16,
};

// Element types of a channel descriptor.
enum GBufferElemType : std::uint8_t {
    kGBufferElemUShort = 1,
    kGBufferElemLong = 2,
    kGBufferElemFloat = 3,
    kGBufferElemUByte = 4,
    kGBufferElemLong2 = 5,
    kGBufferElemFloat2 = 6,
};

// One row of depth layers: layer element k of the row is at
// layerBase + k * layerStride for k < layerCount.
struct GBufferLayerRow {
    std::uint32_t layerCount;
    std::int32_t layerStride;
    std::uint8_t* layerBase;
};

// Channel descriptor. The front element of pixel (x, y) is at
// data + x * xStride + y * yStride; layers holds one layer row per image row
// (absolute y), or is null.
struct GBufferChannel {
    std::uint32_t reserved0[2];
    std::int32_t xStride;
    std::int32_t yStride;
    std::uint8_t elemType;
    std::uint8_t reserved17[3];
    std::uint8_t* data;
    std::uint32_t reserved24[2];
    GBufferLayerRow* layers;
};

// The table itself: kGBufferEntryCount pointers, a null entry is an absent channel.
typedef GBufferChannel* GBufferTable[kGBufferEntryCount];

#if DOF_CONTRACT_PLATFORM
static_assert(sizeof(GBufferLayerRow) == 12, "layer row");
static_assert(offsetof(GBufferLayerRow, layerStride) == 4, "layerStride");
static_assert(offsetof(GBufferLayerRow, layerBase) == 8, "layerBase");
static_assert(offsetof(GBufferChannel, xStride) == 8, "xStride");
static_assert(offsetof(GBufferChannel, yStride) == 12, "yStride");
static_assert(offsetof(GBufferChannel, elemType) == 16, "elemType");
static_assert(offsetof(GBufferChannel, data) == 20, "data");
static_assert(offsetof(GBufferChannel, layers) == 32, "layers");
#endif
