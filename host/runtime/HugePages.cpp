#include "runtime/HugePages.h"

#include <sys/mman.h>

#include <cstdint>

namespace dof::runtime {

void preferHugePages(void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
    if (bytes < 2 * kHuge) return;
    const std::uintptr_t begin = (std::uintptr_t(data) + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t end = (std::uintptr_t(data) + bytes) & ~(kHuge - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

}  // namespace dof::runtime
