// Our stand-in for the host support library: the allocator the effect must
// use, bitmaps, the host's texts and the byte-to-fraction table.
#include "host/QVLib.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "host/ParamDeclaration.h"
#include "qvlib_testing.h"

namespace {

// Every block carries its size ahead of the caller's bytes, so that the
// accounting knows what a release gives back. 16 bytes keep the caller's
// block aligned for doubles on both platforms.
struct BlockHeader {
    std::uint64_t size;
    std::uint64_t magic;
};
static_assert(sizeof(BlockHeader) == 16, "header keeps 16-byte alignment");
constexpr std::uint64_t kLiveMagic = 0x51564c69624d656dull;   // "QVLibMem"
constexpr std::uint64_t kFreedMagic = 0x46726565644d656dull;  // "FreedMem"

std::mutex gMutex;
dof::qvlib::AllocStats gStats = {0, 0, 0, 0};
std::uint64_t gFailAt = 0;  // countdown to the injected failure
bool gFailAll = false;
std::uint64_t gLimit = 0xFFFFFFFFull;

double gByteToFrac[256];

struct TableInit {
    TableInit() {
        for (int b = 0; b < 256; ++b) gByteToFrac[b] = b / 255.0;
    }
} gTableInit;

}  // namespace

double* QVPixelBase::_byteToFracTbl = gByteToFrac;

namespace {

// Large blocks (an effect's planes, a frame's pixels) are backed by huge
// pages where the system offers them: a fraction of the page faults on
// their first touch, and of the address translations after.
void preferHugePages(void* block, std::uint64_t size) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
    if (size < 2 * kHuge) return;
    const std::uintptr_t begin = (std::uintptr_t(block) + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t end = (std::uintptr_t(block) + std::uintptr_t(size)) & ~(kHuge - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)block;
    (void)size;
#endif
}

}  // namespace

void* AllocMemQV(QVULong size, QVULong flags) {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        ++gStats.totalAllocations;
        if (gFailAll) return nullptr;
        if (gFailAt != 0 && --gFailAt == 0) return nullptr;
        if (size > gLimit) return nullptr;
    }
    void* raw = std::malloc(sizeof(BlockHeader) + size);
    if (raw == nullptr) return nullptr;
    BlockHeader* header = static_cast<BlockHeader*>(raw);
    header->size = size;
    header->magic = kLiveMagic;
    unsigned char* block = static_cast<unsigned char*>(raw) + sizeof(BlockHeader);
    preferHugePages(block, size);
    if (flags & kQVAllocZeroed) std::memset(block, 0, size);
    std::lock_guard<std::mutex> lock(gMutex);
    ++gStats.liveBlocks;
    gStats.liveBytes += size;
    return block;
}

void FreeMemQV(void* block) {
    if (block == nullptr) return;
    BlockHeader* header =
        reinterpret_cast<BlockHeader*>(static_cast<unsigned char*>(block) - sizeof(BlockHeader));
    if (header->magic != kLiveMagic) {
        // A block released twice, or not ours: stop loudly rather than corrupt
        // the heap.
        std::abort();
    }
    header->magic = kFreedMagic;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        --gStats.liveBlocks;
        gStats.liveBytes -= header->size;
        ++gStats.totalFrees;
    }
    std::free(header);
}

namespace {

// A bitmap is its record followed by its pixels, in one host block.
struct BitmapBlock {
    QVBitmap record;
};

}  // namespace

QVBitmap* AllocBitmapQV(QVLong width, QVLong height, QVBitmapType type, char*) {
    const QVBitmapFormat* format = qvBitmapFormat(type);
    if (format == nullptr || width < 0 || height < 0) return nullptr;
    const int pixelBytes = int(format->bytesPerPixel);
    const std::uint64_t rowBytes = std::uint64_t(width) * pixelBytes;
    const std::uint64_t dataBytes = rowBytes * std::uint64_t(height);
    const std::uint64_t recordBytes = (sizeof(BitmapBlock) + 15) & ~std::uint64_t(15);
    if (rowBytes > 0x7FFFFFFF || recordBytes + dataBytes > 0xFFFFFFFFull) return nullptr;
    void* block = AllocMemQV(QVULong(recordBytes + dataBytes), kQVAllocZeroed);
    if (block == nullptr) return nullptr;
    QVBitmap* bitmap = &static_cast<BitmapBlock*>(block)->record;
    bitmap->width = width;
    bitmap->rowPixels = width;
    bitmap->height = height;
    bitmap->formatCode = type;
    bitmap->rowBytes = std::int32_t(rowBytes);
    bitmap->pixelBytes = pixelBytes;
    bitmap->baseAddr = static_cast<std::uint8_t*>(block) + recordBytes;
    bitmap->dataOffset = 0;
    // Bitmaps of one format share a layout, so rows may be copied between them.
    bitmap->layoutId = type;
    return bitmap;
}

void FreeBitmapQV(QVBitmap* bitmap) { FreeMemQV(bitmap); }

const char* GetStringQV(QVULong id) {
    switch (id) {
        case kStringCategory:
            return "3D Post";
        case kStringMenu:
            return "3D Depth of Field...";
        case kStringMethod:
            return "Method";
        case kStringFocalDepth:
            return "Focal Depth";
        case kStringMaximumRadius:
            return "Maximum Radius";
        case kStringSharpUntil:
            return "Sharp Until Depth";
        case kStringMethodChoices:
            return "Box Average;Splatting";
        default:
            return "";
    }
}

namespace dof::qvlib {

AllocStats allocStats() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gStats;
}

void failAllocationAt(std::uint64_t nth) {
    std::lock_guard<std::mutex> lock(gMutex);
    gFailAt = nth;
}

void failAllAllocations(bool fail) {
    std::lock_guard<std::mutex> lock(gMutex);
    gFailAll = fail;
}

void setAllocationLimit(std::uint64_t bytes) {
    std::lock_guard<std::mutex> lock(gMutex);
    gLimit = bytes;
}

}  // namespace dof::qvlib
