// dof3d's allocation: the C library's, with large blocks advised to be
// backed by huge pages (util/huge_pages.h), for the program and every
// library it loads. Under the address sanitizer, which keeps its own
// allocation, the standard one stays.
#include <cstdlib>
#include <new>

#include "util/huge_pages.h"

#if !defined(__SANITIZE_ADDRESS__)

namespace {

// As the standard operator new: the new-handler may free memory, or throw.
void* allocate(std::size_t size) {
    if (size == 0) size = 1;
    for (;;) {
        if (void* data = std::malloc(size)) {
            dof::adviseHugePages(data, size);
            return data;
        }
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void* allocateOrNull(std::size_t size) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocateOrNull(size);
}
void operator delete(void* data) noexcept { std::free(data); }
void operator delete[](void* data) noexcept { std::free(data); }
void operator delete(void* data, std::size_t) noexcept { std::free(data); }
void operator delete[](void* data, std::size_t) noexcept { std::free(data); }
void operator delete(void* data, const std::nothrow_t&) noexcept { std::free(data); }
void operator delete[](void* data, const std::nothrow_t&) noexcept { std::free(data); }

#endif
