// Counting samples outside a nominal range, so that a program can say when its
// input is not what it reads (8-bit or full 16-bit data given as 10-bit, say).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace rawframes {

// The number of the n samples at s that are above `max`. Counted in runs
// whose counts fit 32 bits, which the compiler turns into vector code.
inline std::uint64_t count_above(const std::uint16_t* s, std::size_t n, std::uint16_t max) {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < n;) {
        const std::size_t run = std::min<std::size_t>(n - i, std::size_t{1} << 16);
        std::uint32_t c = 0;
        for (std::size_t k = 0; k < run; ++k) c += s[i + k] > max ? 1u : 0u;
        total += c;
        i += run;
    }
    return total;
}

}  // namespace rawframes
