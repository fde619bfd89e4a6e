// Frame buffers: allocated once per run, aligned for vector loads, and released
// automatically. Allocation failure is reported as an empty buffer, never thrown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace rawframes {

// Buffers start on a 2 MiB boundary so that large frames can be backed by huge
// pages, which makes the operating system's copies into and out of them cheaper.
inline constexpr std::size_t kBufferAlignment = std::size_t{2} << 20;

struct AlignedDelete {
    void operator()(void* p) const noexcept {
        ::operator delete (p, std::align_val_t{kBufferAlignment});
    }
};

// Asks for huge pages behind a buffer of at least 2 MiB; only a hint.
void advise_huge_pages(void* p, std::size_t bytes);

// Physical memory of the machine in bytes (or the largest size_t where it
// cannot be found). A frame buffer larger than this is refused outright: it
// could only be had through overcommit, and touching it would get the process
// killed in the middle of a run.
std::uint64_t physical_memory_bytes();

template <class T>
using FrameBuffer = std::unique_ptr<T[], AlignedDelete>;

// Allocates `count` elements of T, or returns an empty buffer when the request
// cannot be met (including byte counts that do not fit in size_t). The contents
// are left uninitialised.
template <class T>
FrameBuffer<T> allocate_frame(std::uint64_t count) {
    constexpr std::uint64_t kLimit = static_cast<std::uint64_t>(PTRDIFF_MAX) / sizeof(T);
    if (count == 0 || count > kLimit || count * sizeof(T) > physical_memory_bytes())
        return FrameBuffer<T>{};
    const std::size_t bytes = static_cast<std::size_t>(count) * sizeof(T);
    void* p = ::operator new (bytes, std::align_val_t{kBufferAlignment}, std::nothrow);
    if (p != nullptr) advise_huge_pages(p, bytes);
    return FrameBuffer<T>{static_cast<T*>(p)};
}

// The buffers of the frame slots a pipeline shares: slot s has one buffer of
// each size in `bytes`.
using SlotBuffers = std::vector<std::vector<FrameBuffer<std::uint8_t>>>;

// Allocates `wanted` slots, or as many as fit in physical memory and can be
// had when that is fewer; returns no slots when not even one can be had.
SlotBuffers allocate_slots(std::size_t wanted, const std::vector<std::uint64_t>& bytes);

}  // namespace rawframes
