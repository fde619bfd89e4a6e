#include "buffer.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace rawframes {

void advise_huge_pages(void* p, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
    if (bytes >= kBufferAlignment) ::madvise(p, bytes & ~(kBufferAlignment - 1), MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

std::uint64_t physical_memory_bytes() {
    static const std::uint64_t bytes = [] {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long page_size = ::sysconf(_SC_PAGESIZE);
        if (pages <= 0 || page_size <= 0) return static_cast<std::uint64_t>(SIZE_MAX);
        return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
    }();
    return bytes;
}

}  // namespace rawframes
