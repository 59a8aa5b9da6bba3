// The host support library as the effect imports it: memory, bitmaps, strings
// and the byte-to-fraction table. Also the host's pixel buffer record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/HostTypes.h"
#include "host/QVBitmapFormats.h"

// Pixel buffer record. Pixel (x, y) lies at baseAddr + (y * rowPixels + x) *
// pixel size; whole-row copies address rows through dataOffset, pixelBytes and
// rowBytes instead, and only between buffers of the same layoutId.
struct QVBitmap {
    std::int32_t width;      // host's own: pixels per row in use
    std::int32_t rowPixels;  // pixels from one row to the next
    std::int32_t height;     // host's own: rows in use
    QVBitmapType formatCode;
    std::uint8_t reserved13[3];
    std::int32_t rowBytes;
    std::int32_t pixelBytes;
    std::uint8_t* baseAddr;
    std::int32_t dataOffset;
    std::uint32_t layoutId;
};

// The host's buffer classes, one per format; the engine template takes them as
// its first argument. They add nothing to the record.
struct QVBufferRGBA8 : QVBitmap {};
struct QVBufferRGBA10 : QVBitmap {};
struct QVBufferRGBA12 : QVBitmap {};
struct QVBufferRGBA16 : QVBitmap {};
struct QVBufferRGBAFloat : QVBitmap {};

struct QVPixelBase {
    // 256 doubles, entry b = b / 255.
    static double* _byteToFracTbl;
};

// AllocMemQV flags: 0 leaves the block undefined, 1 clears it to zero.
enum : unsigned { kQVAllocUndefined = 0, kQVAllocZeroed = 1 };

// C++ linkage; QVULong and QVLong are `unsigned long` and `long` on i386.
void* AllocMemQV(QVULong size, QVULong flags);
void FreeMemQV(void* block);
QVBitmap* AllocBitmapQV(QVLong width, QVLong height, QVBitmapType type, char* name);
void FreeBitmapQV(QVBitmap* bitmap);
const char* GetStringQV(QVULong id);

#if DOF_CONTRACT_PLATFORM
static_assert(offsetof(QVBitmap, rowPixels) == 4, "rowPixels");
static_assert(offsetof(QVBitmap, formatCode) == 12, "format code");
static_assert(offsetof(QVBitmap, rowBytes) == 16, "rowBytes");
static_assert(offsetof(QVBitmap, pixelBytes) == 20, "pixelBytes");
static_assert(offsetof(QVBitmap, baseAddr) == 24, "baseAddr");
static_assert(offsetof(QVBitmap, dataOffset) == 28, "dataOffset");
static_assert(offsetof(QVBitmap, layoutId) == 32, "layoutId");
#endif
