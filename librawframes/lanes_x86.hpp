// The lanes of the x86 vector kernels: 4 doubles (AVX2) and 8 doubles
// (AVX-512), with the names of lanes_scalar.hpp. Each operation is the IEEE
// operation of the plain lanes, lane by lane (no fused multiply-add is ever
// used), so the generic code included here gives the plain version's bits.
// Only the *_x86.cpp files include this, and run its code only where
// cpu_supports() allows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "x86_targets.hpp"

#ifdef RAWFRAMES_X86_VARIANTS

RF_VECTOR_CODE_BEGIN

namespace rawframes::avx2_lanes {

struct V {
    __m256d v;
};
struct M {
    __m256d m;  // all ones where true
};
inline constexpr std::size_t kLanes = 4;

RF_AVX2 RF_ALWAYS_INLINE inline V splat(double x) {
    return {_mm256_set1_pd(x)};
}
RF_AVX2 RF_ALWAYS_INLINE inline V operator+(V a, V b) {
    return {_mm256_add_pd(a.v, b.v)};
}
RF_AVX2 RF_ALWAYS_INLINE inline V operator-(V a, V b) {
    return {_mm256_sub_pd(a.v, b.v)};
}
RF_AVX2 RF_ALWAYS_INLINE inline V operator*(V a, V b) {
    return {_mm256_mul_pd(a.v, b.v)};
}
RF_AVX2 RF_ALWAYS_INLINE inline V operator/(V a, V b) {
    return {_mm256_div_pd(a.v, b.v)};
}
RF_AVX2 RF_ALWAYS_INLINE inline M operator<(V a, V b) {
    return {_mm256_cmp_pd(a.v, b.v, _CMP_LT_OQ)};
}
RF_AVX2 RF_ALWAYS_INLINE inline M operator<=(V a, V b) {
    return {_mm256_cmp_pd(a.v, b.v, _CMP_LE_OQ)};
}
RF_AVX2 RF_ALWAYS_INLINE inline M operator>(V a, V b) {
    return {_mm256_cmp_pd(a.v, b.v, _CMP_GT_OQ)};
}
RF_AVX2 RF_ALWAYS_INLINE inline M operator>=(V a, V b) {
    return {_mm256_cmp_pd(a.v, b.v, _CMP_GE_OQ)};
}
RF_AVX2 RF_ALWAYS_INLINE inline M operator==(V a, V b) {
    return {_mm256_cmp_pd(a.v, b.v, _CMP_EQ_OQ)};
}
RF_AVX2 RF_ALWAYS_INLINE inline V select(M m, V a, V b) {
    return {_mm256_blendv_pd(b.v, a.v, m.m)};
}
RF_AVX2 RF_ALWAYS_INLINE inline M and_(M a, M b) {
    return {_mm256_and_pd(a.m, b.m)};
}
RF_AVX2 RF_ALWAYS_INLINE inline M or_(M a, M b) {
    return {_mm256_or_pd(a.m, b.m)};
}
RF_AVX2 RF_ALWAYS_INLINE inline M not_(M a) {
    return {_mm256_xor_pd(a.m, _mm256_castsi256_pd(_mm256_set1_epi64x(-1)))};
}
RF_AVX2 RF_ALWAYS_INLINE inline bool any(M m) {
    return _mm256_movemask_pd(m.m) != 0;
}
RF_AVX2 RF_ALWAYS_INLINE inline V sqrt_(V x) {
    return {_mm256_sqrt_pd(x.v)};
}
RF_AVX2 RF_ALWAYS_INLINE inline V bits_and(V a, std::uint64_t mask) {
    return {
        _mm256_and_pd(a.v, _mm256_castsi256_pd(_mm256_set1_epi64x(static_cast<long long>(mask))))};
}
RF_AVX2 RF_ALWAYS_INLINE inline V bits_or(V a, std::uint64_t bits) {
    return {
        _mm256_or_pd(a.v, _mm256_castsi256_pd(_mm256_set1_epi64x(static_cast<long long>(bits))))};
}
RF_AVX2 RF_ALWAYS_INLINE inline V shl52(V a) {
    return {_mm256_castsi256_pd(_mm256_slli_epi64(_mm256_castpd_si256(a.v), 52))};
}
RF_AVX2 RF_ALWAYS_INLINE inline V shr52(V a) {
    return {_mm256_castsi256_pd(_mm256_srli_epi64(_mm256_castpd_si256(a.v), 52))};
}
RF_AVX2 RF_ALWAYS_INLINE inline V load(const double* p) {
    return {_mm256_loadu_pd(p)};
}
RF_AVX2 RF_ALWAYS_INLINE inline V load(const std::int16_t* p) {
    return {_mm256_cvtepi32_pd(
        _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))))};
}
RF_AVX2 RF_ALWAYS_INLINE inline V load(const std::uint8_t* p) {
    std::int32_t four;
    __builtin_memcpy(&four, p, sizeof four);
    return {_mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(four)))};
}
RF_AVX2 RF_ALWAYS_INLINE inline void store(double* p, V v) {
    _mm256_storeu_pd(p, v.v);
}

#define RF_LANES_FN inline RF_AVX2 RF_ALWAYS_INLINE
#include "exact_math.inc"
#undef RF_LANES_FN

}  // namespace rawframes::avx2_lanes

namespace rawframes::avx512_lanes {

struct V {
    __m512d v;
};
struct M {
    __mmask8 m;
};
inline constexpr std::size_t kLanes = 8;

RF_AVX512 RF_ALWAYS_INLINE inline V splat(double x) {
    return {_mm512_set1_pd(x)};
}
RF_AVX512 RF_ALWAYS_INLINE inline V operator+(V a, V b) {
    return {_mm512_add_pd(a.v, b.v)};
}
RF_AVX512 RF_ALWAYS_INLINE inline V operator-(V a, V b) {
    return {_mm512_sub_pd(a.v, b.v)};
}
RF_AVX512 RF_ALWAYS_INLINE inline V operator*(V a, V b) {
    return {_mm512_mul_pd(a.v, b.v)};
}
RF_AVX512 RF_ALWAYS_INLINE inline V operator/(V a, V b) {
    return {_mm512_div_pd(a.v, b.v)};
}
RF_AVX512 RF_ALWAYS_INLINE inline M operator<(V a, V b) {
    return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LT_OQ)};
}
RF_AVX512 RF_ALWAYS_INLINE inline M operator<=(V a, V b) {
    return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LE_OQ)};
}
RF_AVX512 RF_ALWAYS_INLINE inline M operator>(V a, V b) {
    return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_GT_OQ)};
}
RF_AVX512 RF_ALWAYS_INLINE inline M operator>=(V a, V b) {
    return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_GE_OQ)};
}
RF_AVX512 RF_ALWAYS_INLINE inline M operator==(V a, V b) {
    return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_EQ_OQ)};
}
RF_AVX512 RF_ALWAYS_INLINE inline V select(M m, V a, V b) {
    return {_mm512_mask_blend_pd(m.m, b.v, a.v)};
}
RF_AVX512 RF_ALWAYS_INLINE inline M and_(M a, M b) {
    return {static_cast<__mmask8>(a.m & b.m)};
}
RF_AVX512 RF_ALWAYS_INLINE inline M or_(M a, M b) {
    return {static_cast<__mmask8>(a.m | b.m)};
}
RF_AVX512 RF_ALWAYS_INLINE inline M not_(M a) {
    return {static_cast<__mmask8>(~a.m)};
}
RF_AVX512 RF_ALWAYS_INLINE inline bool any(M m) {
    return m.m != 0;
}
RF_AVX512 RF_ALWAYS_INLINE inline V sqrt_(V x) {
    return {_mm512_sqrt_pd(x.v)};
}
RF_AVX512 RF_ALWAYS_INLINE inline V bits_and(V a, std::uint64_t mask) {
    return {
        _mm512_and_pd(a.v, _mm512_castsi512_pd(_mm512_set1_epi64(static_cast<long long>(mask))))};
}
RF_AVX512 RF_ALWAYS_INLINE inline V bits_or(V a, std::uint64_t bits) {
    return {
        _mm512_or_pd(a.v, _mm512_castsi512_pd(_mm512_set1_epi64(static_cast<long long>(bits))))};
}
RF_AVX512 RF_ALWAYS_INLINE inline V shl52(V a) {
    return {_mm512_castsi512_pd(_mm512_slli_epi64(_mm512_castpd_si512(a.v), 52))};
}
RF_AVX512 RF_ALWAYS_INLINE inline V shr52(V a) {
    return {_mm512_castsi512_pd(_mm512_srli_epi64(_mm512_castpd_si512(a.v), 52))};
}
RF_AVX512 RF_ALWAYS_INLINE inline V load(const double* p) {
    return {_mm512_loadu_pd(p)};
}
RF_AVX512 RF_ALWAYS_INLINE inline V load(const std::int16_t* p) {
    return {_mm512_cvtepi32_pd(
        _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))))};
}
RF_AVX512 RF_ALWAYS_INLINE inline V load(const std::uint8_t* p) {
    return {_mm512_cvtepi32_pd(
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))))};
}
RF_AVX512 RF_ALWAYS_INLINE inline void store(double* p, V v) {
    _mm512_storeu_pd(p, v.v);
}

#define RF_LANES_FN inline RF_AVX512 RF_ALWAYS_INLINE
#include "exact_math.inc"
#undef RF_LANES_FN

}  // namespace rawframes::avx512_lanes

RF_VECTOR_CODE_END

#endif
