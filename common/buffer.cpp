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

SlotBuffers allocate_slots(std::size_t wanted, const std::vector<std::uint64_t>& bytes) {
    SlotBuffers slots;
    const std::uint64_t memory = physical_memory_bytes();
    std::uint64_t per_slot = 0;
    for (const std::uint64_t b : bytes) {
        if (b > memory - per_slot) return slots;
        per_slot += b;
    }
    if (per_slot == 0) return slots;
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(wanted, memory / per_slot));
    for (std::size_t i = 0; i < count; ++i) {
        std::vector<FrameBuffer<std::uint8_t>> slot;
        for (const std::uint64_t b : bytes) {
            slot.push_back(allocate_frame<std::uint8_t>(b));
            if (!slot.back()) return slots;
        }
        slots.push_back(std::move(slot));
    }
    return slots;
}

}  // namespace rawframes
