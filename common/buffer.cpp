#include "buffer.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
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

SlotBuffers allocate_slots(std::size_t wanted, std::uint64_t first_bytes,
                           std::uint64_t second_bytes) {
    SlotBuffers slots;
    const std::uint64_t memory = physical_memory_bytes();
    const std::uint64_t pair = first_bytes + second_bytes;
    if (pair < first_bytes || pair == 0 || pair > memory) return slots;
    const std::uint64_t fit = memory / pair;
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, fit));
    for (std::size_t i = 0; i < count; ++i) {
        FrameBuffer<std::uint8_t> a = allocate_frame<std::uint8_t>(first_bytes);
        FrameBuffer<std::uint8_t> b;
        if (second_bytes != 0) b = allocate_frame<std::uint8_t>(second_bytes);
        if (!a || (second_bytes != 0 && !b)) break;
        slots.first.push_back(std::move(a));
        slots.second.push_back(std::move(b));
    }
    return slots;
}

}  // namespace rawframes
