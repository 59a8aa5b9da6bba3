// Accounting of our host library's allocator, for tests and the runtime:
// live blocks and bytes, and failures injected on purpose.
#pragma once

#include <cstdint>

namespace dof::qvlib {

struct AllocStats {
    std::uint64_t liveBlocks;
    std::uint64_t liveBytes;
    std::uint64_t totalAllocations;  // calls of AllocMemQV, failed ones included
    std::uint64_t totalFrees;        // non-null blocks released
};

AllocStats allocStats();

// Makes the nth call of AllocMemQV from now on (1 = the next one) return null;
// 0 disarms. Only that one call fails.
void failAllocationAt(std::uint64_t nth);

// Makes every call of AllocMemQV fail while set.
void failAllAllocations(bool fail);

// Allocations larger than this fail (the default allows any size the 32-bit
// host could hand out).
void setAllocationLimit(std::uint64_t bytes);

}  // namespace dof::qvlib
