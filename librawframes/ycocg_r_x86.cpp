// AVX2 and AVX-512 YCoCg-R transforms: the integer steps of ycocg_r_planes_c on
// 16 or 32 positions at once, in 32-bit lanes so that any 16-bit input gives
// the same result; the input samples above 1023 are counted as they are loaded.
#include "x86_targets.hpp"
#include "ycocg_r.hpp"

#ifdef RAWFRAMES_X86_VARIANTS

namespace rawframes {

RF_VECTOR_CODE_BEGIN

namespace {

struct Out8 {
    __m256i co, y, cg;
};

RF_AVX2 inline Out8 transform8(__m128i r16, __m128i g16, __m128i b16) {
    const __m256i R = _mm256_cvtepu16_epi32(r16), G = _mm256_cvtepu16_epi32(g16),
                  B = _mm256_cvtepu16_epi32(b16);
    const __m256i co = _mm256_sub_epi32(R, B);
    const __m256i t = _mm256_add_epi32(B, _mm256_srai_epi32(co, 1));
    const __m256i cg = _mm256_sub_epi32(G, t);
    const __m256i y = _mm256_add_epi32(t, _mm256_srai_epi32(cg, 1));
    const __m256i zero = _mm256_setzero_si256(), offset = _mm256_set1_epi32(1024);
    const __m256i max11 = _mm256_set1_epi32(2047);
    return Out8{_mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(co, offset), zero), max11),
                _mm256_min_epi32(_mm256_max_epi32(y, zero), _mm256_set1_epi32(1023)),
                _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(cg, offset), zero), max11)};
}

// How many of 16 unsigned 16-bit samples are above 1023.
RF_AVX2 inline unsigned above_1023(__m256i v) {
    const __m256i bias = _mm256_set1_epi16(-32768);
    const __m256i over = _mm256_cmpgt_epi16(_mm256_xor_si256(v, bias),
                                            _mm256_set1_epi16(static_cast<short>(1023 ^ 0x8000)));
    return static_cast<unsigned>(
               __builtin_popcount(static_cast<unsigned>(_mm256_movemask_epi8(over)))) /
           2;
}

// Packs two vectors of 8 values in 0..2047 into 16 ordered 16-bit samples.
RF_AVX2 inline __m256i pack16(__m256i lo, __m256i hi) {
    return _mm256_permute4x64_epi64(_mm256_packus_epi32(lo, hi), 0xD8);
}

}  // namespace

RF_AVX2 std::uint64_t ycocg_r_planes_avx2(std::uint16_t* r, std::uint16_t* g, std::uint16_t* b,
                                          std::size_t n) {
    std::uint64_t above = 0;
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i R = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + i));
        const __m256i G = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(g + i));
        const __m256i B = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
        above += above_1023(R) + above_1023(G) + above_1023(B);
        const Out8 lo = transform8(_mm256_castsi256_si128(R), _mm256_castsi256_si128(G),
                                   _mm256_castsi256_si128(B));
        const Out8 hi = transform8(_mm256_extracti128_si256(R, 1), _mm256_extracti128_si256(G, 1),
                                   _mm256_extracti128_si256(B, 1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(r + i), pack16(lo.co, hi.co));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(g + i), pack16(lo.y, hi.y));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(b + i), pack16(lo.cg, hi.cg));
    }
    if (i < n) above += ycocg_r_planes_c(r + i, g + i, b + i, n - i);
    return above;
}

namespace {

struct Out16 {
    __m512i co, y, cg;
};

RF_AVX512 inline Out16 transform16(__m256i r16, __m256i g16, __m256i b16) {
    const __m512i R = _mm512_cvtepu16_epi32(r16), G = _mm512_cvtepu16_epi32(g16),
                  B = _mm512_cvtepu16_epi32(b16);
    const __m512i co = _mm512_sub_epi32(R, B);
    const __m512i t = _mm512_add_epi32(B, _mm512_srai_epi32(co, 1));
    const __m512i cg = _mm512_sub_epi32(G, t);
    const __m512i y = _mm512_add_epi32(t, _mm512_srai_epi32(cg, 1));
    const __m512i zero = _mm512_setzero_si512(), offset = _mm512_set1_epi32(1024);
    const __m512i max11 = _mm512_set1_epi32(2047);
    return Out16{_mm512_min_epi32(_mm512_max_epi32(_mm512_add_epi32(co, offset), zero), max11),
                 _mm512_min_epi32(_mm512_max_epi32(y, zero), _mm512_set1_epi32(1023)),
                 _mm512_min_epi32(_mm512_max_epi32(_mm512_add_epi32(cg, offset), zero), max11)};
}

RF_AVX512 inline void store32(std::uint16_t* dst, __m512i lo, __m512i hi) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm512_cvtepi32_epi16(lo));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 16), _mm512_cvtepi32_epi16(hi));
}

}  // namespace

RF_AVX512 std::uint64_t ycocg_r_planes_avx512(std::uint16_t* r, std::uint16_t* g, std::uint16_t* b,
                                              std::size_t n) {
    const __m512i limit = _mm512_set1_epi16(1023);
    std::uint64_t above = 0;
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m512i R = _mm512_loadu_si512(r + i);
        const __m512i G = _mm512_loadu_si512(g + i);
        const __m512i B = _mm512_loadu_si512(b + i);
        above += static_cast<unsigned>(__builtin_popcount(_mm512_cmpgt_epu16_mask(R, limit))) +
                 static_cast<unsigned>(__builtin_popcount(_mm512_cmpgt_epu16_mask(G, limit))) +
                 static_cast<unsigned>(__builtin_popcount(_mm512_cmpgt_epu16_mask(B, limit)));
        const Out16 lo = transform16(_mm512_castsi512_si256(R), _mm512_castsi512_si256(G),
                                     _mm512_castsi512_si256(B));
        const Out16 hi =
            transform16(_mm512_extracti64x4_epi64(R, 1), _mm512_extracti64x4_epi64(G, 1),
                        _mm512_extracti64x4_epi64(B, 1));
        store32(r + i, lo.co, hi.co);
        store32(g + i, lo.y, hi.y);
        store32(b + i, lo.cg, hi.cg);
    }
    if (i < n) above += ycocg_r_planes_avx2(r + i, g + i, b + i, n - i);
    return above;
}

RF_VECTOR_CODE_END

}  // namespace rawframes

#endif

namespace rawframes {

std::span<const KernelVariant<YCoCgRPlanesFn>> ycocg_r_x86_variants() {
#ifdef RAWFRAMES_X86_VARIANTS
    static const KernelVariant<YCoCgRPlanesFn> variants[] = {
        {"avx2", Isa::kAvx2, ycocg_r_planes_avx2},
        {"avx512", Isa::kAvx512, ycocg_r_planes_avx512},
    };
    return variants;
#else
    return {};
#endif
}

}  // namespace rawframes
