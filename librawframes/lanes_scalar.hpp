// One double at a time: the lanes of the plain kernels, which define the
// measures' arithmetic. The generic code (the .inc files) is written once
// against the names below and included again for each vector instruction set
// (lanes_x86.hpp), whose lanes run the same IEEE operations in the same order,
// so that every variant gives the plain version's bits.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace rawframes::scalar_lanes {

using V = double;  // the values of the lanes
using M = bool;    // a condition per lane
inline constexpr std::size_t kLanes = 1;

inline V splat(double x) {
    return x;
}
inline V select(M m, V a, V b) {
    return m ? a : b;
}
inline M and_(M a, M b) {
    return a && b;
}
inline M or_(M a, M b) {
    return a || b;
}
inline M not_(M a) {
    return !a;
}
inline bool any(M m) {
    return m;
}
inline V sqrt_(V x) {
    return std::sqrt(x);  // correctly rounded, as IEEE requires
}
// The bits of a double: and, or, and shifts of the 64-bit pattern by 52.
inline V bits_and(V a, std::uint64_t mask) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(a) & mask);
}
inline V bits_or(V a, std::uint64_t bits) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(a) | bits);
}
inline V shl52(V a) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(a) << 52);
}
inline V shr52(V a) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(a) >> 52);
}
inline V load(const double* p) {
    return *p;
}
inline V load(const std::int16_t* p) {
    return *p;
}
inline V load(const std::uint8_t* p) {
    return *p;
}
inline void store(double* p, V v) {
    *p = v;
}

#define RF_LANES_FN inline
#include "exact_math.inc"
#undef RF_LANES_FN

}  // namespace rawframes::scalar_lanes
