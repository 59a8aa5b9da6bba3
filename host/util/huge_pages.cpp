#include "util/huge_pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace dof {

void adviseHugePages(void* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
    if (data == nullptr || size < kHugePageBlock) return;
    const std::uintptr_t page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    const std::uintptr_t begin = (std::uintptr_t(data) + page - 1) / page * page;
    const std::uintptr_t end = (std::uintptr_t(data) + size) / page * page;
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data, (void)size;
#endif
}

}  // namespace dof
