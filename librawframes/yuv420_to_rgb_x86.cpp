// AVX2 and AVX-512 rows of the 4:2:0 to RGB conversion. They perform the very
// operations of yuv_to_rgb_pixel, in the same order and precision, on 4 or 8
// pixels at once: double-precision lanes for the double steps, single-precision
// conversions where the plain code rounds to single. No fused multiply-add is
// used, and the float-to-integer conversions truncate as the plain code does.
#include "x86_targets.hpp"
#include "yuv420_to_rgb_constants.hpp"
#include "yuv420_to_rgb_kernel.hpp"

#ifdef RAWFRAMES_X86_VARIANTS

namespace rawframes {

RF_VECTOR_CODE_BEGIN

namespace {

struct Consts {
    double inv255 = yuv420_constants::kInv255;
    double cr_gain = yuv420_constants::kCrGain;
    double cb_gain = yuv420_constants::kCbGain;
    double w_r = yuv420_constants::kWeightR;
    double w_b = yuv420_constants::kWeightB;
    double inv_w_g = yuv420_constants::kInvWeightG;
};
constexpr Consts kC{};

// Four pixels: luma y (already scaled), chroma terms cr2 and cb2 (already
// ((C - 128) * 1/255) * gain). Returns R, G, B as 32-bit integers 0..255.
RF_AVX2 inline void pixels4(__m256d y, __m256d cr2, __m256d cb2, __m128i& R, __m128i& G,
                            __m128i& B) {
    const __m256d rd = _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_add_pd(cr2, y)));
    const __m256d bd = _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_add_pd(cb2, y)));
    const __m256d g =
        _mm256_mul_pd(_mm256_sub_pd(_mm256_sub_pd(y, _mm256_mul_pd(rd, _mm256_set1_pd(kC.w_r))),
                                    _mm256_mul_pd(bd, _mm256_set1_pd(kC.w_b))),
                      _mm256_set1_pd(kC.inv_w_g));
    const __m256d k255 = _mm256_set1_pd(255.0);
    const __m128 zero = _mm_setzero_ps(), top = _mm_set1_ps(255.0f);
    // max(v, 0) turns negative values (and NaN) into 0, as the plain clamp does.
    const __m128 rs = _mm_min_ps(_mm_max_ps(_mm256_cvtpd_ps(_mm256_mul_pd(rd, k255)), zero), top);
    const __m128 gs = _mm_min_ps(_mm_max_ps(_mm256_cvtpd_ps(_mm256_mul_pd(g, k255)), zero), top);
    const __m256d bs =
        _mm256_min_pd(_mm256_max_pd(_mm256_mul_pd(bd, k255), _mm256_setzero_pd()), k255);
    R = _mm_cvttps_epi32(rs);
    G = _mm_cvttps_epi32(gs);
    B = _mm256_cvttpd_epi32(bs);
}

RF_AVX2 inline __m256d chroma_term(__m128i c4, double gain) {
    const __m256d c =
        _mm256_sub_pd(_mm256_cvtepi32_pd(_mm_cvtepu8_epi32(c4)), _mm256_set1_pd(128.0));
    return _mm256_mul_pd(_mm256_mul_pd(c, _mm256_set1_pd(kC.inv255)), _mm256_set1_pd(gain));
}

RF_AVX2 inline __m256d luma4(__m128i y4) {
    return _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_cvtepu8_epi32(y4)), _mm256_set1_pd(kC.inv255));
}

RF_AVX2 inline void store8(std::uint8_t* dst, __m128i lo, __m128i hi) {
    const __m128i w = _mm_packs_epi32(lo, hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(w, w));
}

RF_AVX2 inline __m128i load32(const std::uint8_t* p) {
    std::int32_t v;
    __builtin_memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

}  // namespace

RF_AVX2 void yuv420_row_avx2(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                             std::uint8_t* r, std::uint8_t* g, std::uint8_t* b, std::size_t width) {
    std::size_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i y8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + x));
        const __m256d cr2 = chroma_term(load32(cr + x / 2), kC.cr_gain);
        const __m256d cb2 = chroma_term(load32(cb + x / 2), kC.cb_gain);
        __m128i R0, G0, B0, R1, G1, B1;
        // Pixels 0-3 take chroma 0, 0, 1, 1; pixels 4-7 chroma 2, 2, 3, 3.
        pixels4(luma4(y8), _mm256_permute4x64_pd(cr2, 0x50), _mm256_permute4x64_pd(cb2, 0x50), R0,
                G0, B0);
        pixels4(luma4(_mm_srli_si128(y8, 4)), _mm256_permute4x64_pd(cr2, 0xFA),
                _mm256_permute4x64_pd(cb2, 0xFA), R1, G1, B1);
        store8(r + x, R0, R1);
        store8(g + x, G0, G1);
        store8(b + x, B0, B1);
    }
    if (x < width) yuv420_row_c(y + x, cb + x / 2, cr + x / 2, r + x, g + x, b + x, width - x);
}

namespace {

// Eight pixels in 512-bit lanes; otherwise the same steps as pixels4.
RF_AVX512 inline void pixels8(__m512d y, __m512d cr2, __m512d cb2, __m256i& R, __m256i& G,
                              __m256i& B) {
    const __m512d rd = _mm512_cvtps_pd(_mm512_cvtpd_ps(_mm512_add_pd(cr2, y)));
    const __m512d bd = _mm512_cvtps_pd(_mm512_cvtpd_ps(_mm512_add_pd(cb2, y)));
    const __m512d g =
        _mm512_mul_pd(_mm512_sub_pd(_mm512_sub_pd(y, _mm512_mul_pd(rd, _mm512_set1_pd(kC.w_r))),
                                    _mm512_mul_pd(bd, _mm512_set1_pd(kC.w_b))),
                      _mm512_set1_pd(kC.inv_w_g));
    const __m512d k255 = _mm512_set1_pd(255.0);
    const __m256 zero = _mm256_setzero_ps(), top = _mm256_set1_ps(255.0f);
    const __m256 rs =
        _mm256_min_ps(_mm256_max_ps(_mm512_cvtpd_ps(_mm512_mul_pd(rd, k255)), zero), top);
    const __m256 gs =
        _mm256_min_ps(_mm256_max_ps(_mm512_cvtpd_ps(_mm512_mul_pd(g, k255)), zero), top);
    const __m512d bs =
        _mm512_min_pd(_mm512_max_pd(_mm512_mul_pd(bd, k255), _mm512_setzero_pd()), k255);
    R = _mm256_cvttps_epi32(rs);
    G = _mm256_cvttps_epi32(gs);
    B = _mm512_cvttpd_epi32(bs);
}

RF_AVX512 inline __m512d chroma_term8(__m128i c8, double gain) {
    const __m512d c =
        _mm512_sub_pd(_mm512_cvtepi32_pd(_mm256_cvtepu8_epi32(c8)), _mm512_set1_pd(128.0));
    return _mm512_mul_pd(_mm512_mul_pd(c, _mm512_set1_pd(kC.inv255)), _mm512_set1_pd(gain));
}

RF_AVX512 inline void store16(std::uint8_t* dst, __m256i lo, __m256i hi) {
    const __m512i both = _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm512_cvtepi32_epi8(both));
}

}  // namespace

RF_AVX512 void yuv420_row_avx512(const std::uint8_t* y, const std::uint8_t* cb,
                                 const std::uint8_t* cr, std::uint8_t* r, std::uint8_t* g,
                                 std::uint8_t* b, std::size_t width) {
    // Each chroma sample serves two neighbouring pixels.
    const __m512i dup_lo = _mm512_set_epi64(3, 3, 2, 2, 1, 1, 0, 0);
    const __m512i dup_hi = _mm512_set_epi64(7, 7, 6, 6, 5, 5, 4, 4);
    std::size_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i y16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        const __m128i cr8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + x / 2));
        const __m128i cb8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + x / 2));
        const __m512d cr2 = chroma_term8(cr8, kC.cr_gain);
        const __m512d cb2 = chroma_term8(cb8, kC.cb_gain);
        const __m512d inv = _mm512_set1_pd(kC.inv255);
        const __m512d y0 = _mm512_mul_pd(_mm512_cvtepi32_pd(_mm256_cvtepu8_epi32(y16)), inv);
        const __m512d y1 =
            _mm512_mul_pd(_mm512_cvtepi32_pd(_mm256_cvtepu8_epi32(_mm_srli_si128(y16, 8))), inv);
        __m256i R0, G0, B0, R1, G1, B1;
        pixels8(y0, _mm512_permutexvar_pd(dup_lo, cr2), _mm512_permutexvar_pd(dup_lo, cb2), R0, G0,
                B0);
        pixels8(y1, _mm512_permutexvar_pd(dup_hi, cr2), _mm512_permutexvar_pd(dup_hi, cb2), R1, G1,
                B1);
        store16(r + x, R0, R1);
        store16(g + x, G0, G1);
        store16(b + x, B0, B1);
    }
    if (x < width) yuv420_row_avx2(y + x, cb + x / 2, cr + x / 2, r + x, g + x, b + x, width - x);
}

RF_VECTOR_CODE_END

}  // namespace rawframes

#endif

namespace rawframes {

std::span<const KernelVariant<Yuv420RowFn>> yuv420_row_x86_variants() {
#ifdef RAWFRAMES_X86_VARIANTS
    static const KernelVariant<Yuv420RowFn> variants[] = {
        {"avx2", Isa::kAvx2, yuv420_row_avx2},
        {"avx512", Isa::kAvx512, yuv420_row_avx512},
    };
    return variants;
#else
    return {};
#endif
}

}  // namespace rawframes
