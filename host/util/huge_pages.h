// Large blocks of memory on huge pages. A render walks planes of many
// megabytes; on 4 KB pages it spends a good share of its time in page faults
// and in translating addresses. Where the system lets a process ask for huge
// pages (transparent huge pages set to "madvise" or "always"), memory
// advised here is backed by 2 MB pages as it is first touched; elsewhere the
// advice changes nothing.
#pragma once

#include <cstddef>

namespace dof {

// Blocks this large or larger are worth the advice.
constexpr std::size_t kHugePageBlock = std::size_t(2) << 20;

// Advises the whole pages within [data, data + size) to be backed by huge
// pages; a block smaller than kHugePageBlock is left as it is. Advice only:
// where the system declines it, nothing changes.
void adviseHugePages(void* data, std::size_t size);

}  // namespace dof
