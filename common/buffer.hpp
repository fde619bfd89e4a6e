// Frame buffers: allocated once per run, aligned for vector loads, and released
// automatically. Allocation failure is reported as an empty buffer, never thrown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace rawframes {

inline constexpr std::size_t kBufferAlignment = 64;

struct AlignedDelete {
    void operator()(void* p) const noexcept {
        ::operator delete(p, std::align_val_t{kBufferAlignment});
    }
};

template <class T>
using FrameBuffer = std::unique_ptr<T[], AlignedDelete>;

// Allocates `count` elements of T, or returns an empty buffer when the request
// cannot be met (including byte counts that do not fit in size_t). The contents
// are left uninitialised.
template <class T>
FrameBuffer<T> allocate_frame(std::uint64_t count) {
    constexpr std::uint64_t kLimit = static_cast<std::uint64_t>(PTRDIFF_MAX) / sizeof(T);
    if (count == 0 || count > kLimit) return FrameBuffer<T>{};
    void* p = ::operator new(static_cast<std::size_t>(count) * sizeof(T),
                             std::align_val_t{kBufferAlignment}, std::nothrow);
    return FrameBuffer<T>{static_cast<T*>(p)};
}

}  // namespace rawframes
