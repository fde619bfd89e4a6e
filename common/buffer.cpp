#include "buffer.hpp"

#include <sys/mman.h>

namespace rawframes {

void advise_huge_pages(void* p, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
    if (bytes >= kBufferAlignment) ::madvise(p, bytes & ~(kBufferAlignment - 1), MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

}  // namespace rawframes
