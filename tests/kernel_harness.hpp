// One description of every kernel, from which the unit tests, the differential
// fuzz target and the micro-benchmarks are all driven: its variants, how to make
// its inputs, and how to call it. Every variant is called on copies of the same
// inputs, each buffer placed at a chosen misalignment with guard bytes after it,
// and must leave exactly the bytes the plain version leaves, guards untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cpu.hpp"

namespace kernel_harness {

using Bytes = std::vector<std::uint8_t>;

// Where inputs come from: a seeded generator, or a fuzzer's bytes (then zeros).
class Source {
  public:
    explicit Source(std::uint32_t seed) : state_(seed ? seed : 1) {}
    Source(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint32_t next();
    std::uint32_t below(std::uint32_t bound) { return bound ? next() % bound : 0; }

  private:
    std::uint32_t state_ = 0;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// A copy of some bytes at `offset` bytes past an aligned start, followed by
// guard bytes that a correct kernel never writes.
class Guarded {
  public:
    Guarded(const Bytes& content, std::size_t offset);
    template <class T>
    T* as() {
        return reinterpret_cast<T*>(storage_.data() + start_);
    }
    bool guards_intact() const;
    Bytes content() const;

  private:
    static constexpr std::size_t kGuard = 64;
    std::vector<std::uint8_t> storage_;  // over-allocated so that start_ is 64-aligned + offset
    std::size_t start_ = 0, size_ = 0;
};

struct Kernel {
    std::string name;
    struct Variant {
        std::string name;
        rawframes::Isa isa;
    };
    std::vector<Variant> variants;  // the plain version first
    // The argument buffers of one call on `n` elements (inputs and outputs,
    // outputs filled with a pattern a kernel must overwrite or keep).
    std::function<std::vector<Bytes>(Source&, std::size_t n)> make_inputs;
    // Calls variant `v` on the buffers.
    std::function<void(std::size_t v, std::vector<Guarded>& args, std::size_t n)> call;
};

const std::vector<Kernel>& kernels();

// Runs variant `v` of `k` on copies of `inputs` placed at `offset` bytes (even)
// past alignment. Returns every buffer's bytes afterwards, or nothing when the
// variant wrote past a buffer's end.
std::optional<std::vector<Bytes>> run(const Kernel& k, std::size_t v,
                                      const std::vector<Bytes>& inputs, std::size_t n,
                                      std::size_t offset);

// Checks every supported variant of `k` against the plain one on one input.
// Returns an empty string, or what went wrong.
std::string check(const Kernel& k, const std::vector<Bytes>& inputs, std::size_t n,
                  std::size_t offset);

}  // namespace kernel_harness
