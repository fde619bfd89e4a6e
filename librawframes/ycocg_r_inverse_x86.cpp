// AVX2 and AVX-512 inverse YCoCg-R: the integer steps of
// ycocg_r_inverse_planes_c on 16 or 32 positions at once, in 32-bit lanes so
// that any 16-bit input gives the same result; a clamped lane is counted by
// comparing it with its clamped value.
#include "x86_targets.hpp"
#include "ycocg_r_inverse.hpp"

#ifdef RAWFRAMES_X86_VARIANTS

namespace rawframes {

RF_VECTOR_CODE_BEGIN

namespace {

struct RgbLanes {
    __m256i r, g, b;
    unsigned clamped;
};

RF_AVX2 inline __m256i clamp_lanes(__m256i v, unsigned& clamped) {
    const __m256i c =
        _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(1023));
    const unsigned differ =
        ~static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(c, v)))) &
        0xFFu;
    clamped += static_cast<unsigned>(__builtin_popcount(differ));
    return c;
}

RF_AVX2 inline RgbLanes inverse8(__m128i p0, __m128i p1, __m128i p2) {
    const __m256i offset = _mm256_set1_epi32(1024);
    const __m256i co = _mm256_sub_epi32(_mm256_cvtepu16_epi32(p0), offset);
    const __m256i y = _mm256_cvtepu16_epi32(p1);
    const __m256i cg = _mm256_sub_epi32(_mm256_cvtepu16_epi32(p2), offset);
    const __m256i t = _mm256_sub_epi32(y, _mm256_srai_epi32(cg, 1));
    const __m256i g = _mm256_add_epi32(cg, t);
    const __m256i b = _mm256_sub_epi32(t, _mm256_srai_epi32(co, 1));
    const __m256i r = _mm256_add_epi32(b, co);
    RgbLanes out{};
    out.r = clamp_lanes(r, out.clamped);
    out.g = clamp_lanes(g, out.clamped);
    out.b = clamp_lanes(b, out.clamped);
    return out;
}

// Packs two vectors of 8 values in 0..1023 into 16 ordered 16-bit samples.
RF_AVX2 inline __m256i pack16(__m256i lo, __m256i hi) {
    return _mm256_permute4x64_epi64(_mm256_packus_epi32(lo, hi), 0xD8);
}

}  // namespace

RF_AVX2 std::uint64_t ycocg_r_inverse_planes_avx2(std::uint16_t* p0, std::uint16_t* p1,
                                                  std::uint16_t* p2, std::size_t n) {
    std::uint64_t clamped = 0;
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p0 + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p1 + i));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p2 + i));
        const RgbLanes lo = inverse8(_mm256_castsi256_si128(a), _mm256_castsi256_si128(b),
                                     _mm256_castsi256_si128(c));
        const RgbLanes hi = inverse8(_mm256_extracti128_si256(a, 1), _mm256_extracti128_si256(b, 1),
                                     _mm256_extracti128_si256(c, 1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p0 + i), pack16(lo.r, hi.r));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p1 + i), pack16(lo.g, hi.g));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p2 + i), pack16(lo.b, hi.b));
        clamped += lo.clamped + hi.clamped;
    }
    if (i < n) clamped += ycocg_r_inverse_planes_c(p0 + i, p1 + i, p2 + i, n - i);
    return clamped;
}

namespace {

RF_AVX512 inline __m512i clamp_lanes16(__m512i v, std::uint64_t& clamped) {
    const __m512i c =
        _mm512_min_epi32(_mm512_max_epi32(v, _mm512_setzero_si512()), _mm512_set1_epi32(1023));
    clamped += static_cast<std::uint64_t>(
        __builtin_popcount(static_cast<unsigned>(_mm512_cmpneq_epi32_mask(c, v))));
    return c;
}

RF_AVX512 inline __m512i load(const std::uint16_t* p) {
    return _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

RF_AVX512 inline void inverse16(std::uint16_t* p0, std::uint16_t* p1, std::uint16_t* p2,
                                std::uint64_t& clamped) {
    const __m512i offset = _mm512_set1_epi32(1024);
    const __m512i co = _mm512_sub_epi32(load(p0), offset);
    const __m512i y = load(p1);
    const __m512i cg = _mm512_sub_epi32(load(p2), offset);
    const __m512i t = _mm512_sub_epi32(y, _mm512_srai_epi32(cg, 1));
    const __m512i g = _mm512_add_epi32(cg, t);
    const __m512i b = _mm512_sub_epi32(t, _mm512_srai_epi32(co, 1));
    const __m512i r = _mm512_add_epi32(b, co);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p0),
                        _mm512_cvtepi32_epi16(clamp_lanes16(r, clamped)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p1),
                        _mm512_cvtepi32_epi16(clamp_lanes16(g, clamped)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p2),
                        _mm512_cvtepi32_epi16(clamp_lanes16(b, clamped)));
}

}  // namespace

RF_AVX512 std::uint64_t ycocg_r_inverse_planes_avx512(std::uint16_t* p0, std::uint16_t* p1,
                                                      std::uint16_t* p2, std::size_t n) {
    std::uint64_t clamped = 0;
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) inverse16(p0 + i, p1 + i, p2 + i, clamped);
    if (i < n) clamped += ycocg_r_inverse_planes_c(p0 + i, p1 + i, p2 + i, n - i);
    return clamped;
}

RF_VECTOR_CODE_END

}  // namespace rawframes

#endif

namespace rawframes {

std::span<const KernelVariant<YCoCgRInversePlanesFn>> ycocg_r_inverse_x86_variants() {
#ifdef RAWFRAMES_X86_VARIANTS
    static const KernelVariant<YCoCgRInversePlanesFn> variants[] = {
        {"avx2", Isa::kAvx2, ycocg_r_inverse_planes_avx2},
        {"avx512", Isa::kAvx512, ycocg_r_inverse_planes_avx512},
    };
    return variants;
#else
    return {};
#endif
}

}  // namespace rawframes
