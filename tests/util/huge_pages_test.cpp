// Advised memory is backed by huge pages where the system allows it, as the
// kernel's own counters and the mapping's record show.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "util/huge_pages.h"

namespace {

std::string firstLine(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The kernel's count of page faults served by a huge page, and of those that
// wanted one and got none.
std::pair<long, long> hugeFaults() {
    std::ifstream in("/proc/vmstat");
    long served = 0, refused = 0;
    for (std::string name; in >> name;) {
        long value = 0;
        in >> value;
        if (name == "thp_fault_alloc") served = value;
        if (name == "thp_fault_fallback") refused = value;
    }
    return {served, refused};
}

// The huge pages (in KB) of the mapping that holds `data`.
long hugeKbAt(const void* data) {
    std::ifstream in("/proc/self/smaps");
    const std::uintptr_t at = std::uintptr_t(data);
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        std::uintptr_t begin = 0, end = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> begin >> dash >> end && dash == '-') {
            inside = begin <= at && at < end;
            continue;
        }
        if (inside && line.rfind("AnonHugePages:", 0) == 0)
            return std::stol(line.substr(std::strlen("AnonHugePages:")));
    }
    return 0;
}

TEST(HugePages, AnAdvisedBlockIsBackedByHugePages) {
    const std::string mode = firstLine("/sys/kernel/mm/transparent_hugepage/enabled");
    if (mode.find("[madvise]") == std::string::npos)
        GTEST_SKIP() << "transparent huge pages here are \"" << mode
                     << "\", not given on advice: nothing to tell apart";
    constexpr std::size_t kSize = std::size_t(16) << 20;
    // Room to start the block on a huge page's edge.
    const std::size_t mapped = kSize + dof::kHugePageBlock;
    void* map =
        mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    const std::uintptr_t edge = (std::uintptr_t(map) + dof::kHugePageBlock - 1) /
                                dof::kHugePageBlock * dof::kHugePageBlock;
    char* data = reinterpret_cast<char*>(edge);
    const long untouched = hugeKbAt(data);
    const std::pair<long, long> before = hugeFaults();
    dof::adviseHugePages(data, kSize);
    std::memset(data, 1, kSize);
    const std::pair<long, long> after = hugeFaults();
    const long huge = hugeKbAt(data);
    munmap(map, mapped);
    if (after.first == before.first && after.second > before.second)
        GTEST_SKIP() << "the kernel had no huge page free";
    EXPECT_EQ(untouched, 0);
    EXPECT_GE(huge, 2048) << "of " << (kSize >> 10) << " KB advised";
}

}  // namespace
