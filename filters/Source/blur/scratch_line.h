// A line-long scratch block from the host allocator, released when it goes
// out of scope. Internal to the blur routines.
#pragma once

#include <cstdint>

#include "host/fi_memory.h"

namespace dof::line_blur {

class ScratchLine {
public:
    // count elements of elementSize bytes. A size the host's 32-bit allocator
    // cannot count is treated like a failed allocation: data() is null. An
    // empty block is not allocated and is null as well.
    ScratchLine(std::uint64_t count, std::uint64_t elementSize) : block_(nullptr) {
        const std::uint64_t size = count * elementSize;
        if (size != 0 && size / elementSize == count && size <= 0xFFFFFFFFu)
            block_ = fi_AllocMem(QVULong(size), 0);
    }
    ~ScratchLine() {
        if (block_ != nullptr) fi_FreeMem(block_);
    }

    void* data() const { return block_; }

private:
    ScratchLine(const ScratchLine&) = delete;
    ScratchLine& operator=(const ScratchLine&) = delete;

    void* block_;
};

}  // namespace dof::line_blur
