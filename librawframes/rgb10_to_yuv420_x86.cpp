// AVX2 and AVX-512 versions of the RGB to 4:2:0 per-pixel pass and the chroma
// averaging. They perform the operations of rgb10_to_yuv420_pixel in the same order and
// precision on 4 or 8 pixels at once; no fused multiply-add is used, and the
// float-to-integer conversions truncate as the plain code does. The input
// samples above 1023 are counted as the pixels are converted.
#include "rgb10_to_yuv420_constants.hpp"
#include "rgb10_to_yuv420_kernel.hpp"
#include "x86_targets.hpp"

#ifdef RAWFRAMES_X86_VARIANTS

namespace rawframes {

RF_VECTOR_CODE_BEGIN

namespace {

struct Consts {
    double scale = rgb10_to_yuv420_constants::kScale;
    double w_r = rgb10_to_yuv420_constants::kWeightR;
    double w_g = rgb10_to_yuv420_constants::kWeightG;
    double w_b = rgb10_to_yuv420_constants::kWeightB;
    double k_b = rgb10_to_yuv420_constants::kCbFactor;
    double k_r = rgb10_to_yuv420_constants::kCrFactor;
};
constexpr Consts kC{};

struct Codes4 {
    __m128i y, cb, cr;  // 32-bit lanes
};

RF_AVX2 inline __m256d load4(const std::uint16_t* p) {
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_cvtepu16_epi32(v)), _mm256_set1_pd(kC.scale));
}

RF_AVX2 inline Codes4 pixels4(const std::uint16_t* r, const std::uint16_t* g,
                              const std::uint16_t* b) {
    const __m256d R = load4(r), G = load4(g), B = load4(b);
    const __m256d Y = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(G, _mm256_set1_pd(kC.w_g)),
                                                  _mm256_mul_pd(B, _mm256_set1_pd(kC.w_b))),
                                    _mm256_mul_pd(R, _mm256_set1_pd(kC.w_r)));
    const __m256d ys = _mm256_cvtps_pd(_mm256_cvtpd_ps(Y));
    const __m256d cb = _mm256_cvtps_pd(
        _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_sub_pd(B, ys), _mm256_set1_pd(kC.k_b))));
    const __m256d cr = _mm256_mul_pd(_mm256_sub_pd(R, ys), _mm256_set1_pd(kC.k_r));
    const __m256d lo = _mm256_set1_pd(-0.5), hi = _mm256_set1_pd(0.5);
    const __m256d yc = _mm256_min_pd(_mm256_max_pd(ys, _mm256_setzero_pd()), _mm256_set1_pd(1.0));
    const __m256d cbc = _mm256_min_pd(_mm256_max_pd(cb, lo), hi);
    const __m256d crc = _mm256_min_pd(_mm256_max_pd(cr, lo), hi);
    const __m256d m255 = _mm256_set1_pd(-255.0);
    const __m128i c128 = _mm_set1_epi32(128);
    return Codes4{_mm256_cvttpd_epi32(_mm256_mul_pd(yc, _mm256_set1_pd(255.0))),
                  _mm_sub_epi32(c128, _mm256_cvttpd_epi32(_mm256_mul_pd(cbc, m255))),
                  _mm_sub_epi32(c128, _mm256_cvttpd_epi32(_mm256_mul_pd(crc, m255)))};
}

struct Codes8 {
    __m256i y, cb, cr;  // 32-bit lanes
};

RF_AVX512 inline __m512d load8(const std::uint16_t* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return _mm512_mul_pd(_mm512_cvtepi32_pd(_mm256_cvtepu16_epi32(v)), _mm512_set1_pd(kC.scale));
}

RF_AVX512 inline Codes8 pixels8(const std::uint16_t* r, const std::uint16_t* g,
                                const std::uint16_t* b) {
    const __m512d R = load8(r), G = load8(g), B = load8(b);
    const __m512d Y = _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(G, _mm512_set1_pd(kC.w_g)),
                                                  _mm512_mul_pd(B, _mm512_set1_pd(kC.w_b))),
                                    _mm512_mul_pd(R, _mm512_set1_pd(kC.w_r)));
    const __m512d ys = _mm512_cvtps_pd(_mm512_cvtpd_ps(Y));
    const __m512d cb = _mm512_cvtps_pd(
        _mm512_cvtpd_ps(_mm512_mul_pd(_mm512_sub_pd(B, ys), _mm512_set1_pd(kC.k_b))));
    const __m512d cr = _mm512_mul_pd(_mm512_sub_pd(R, ys), _mm512_set1_pd(kC.k_r));
    const __m512d lo = _mm512_set1_pd(-0.5), hi = _mm512_set1_pd(0.5);
    const __m512d yc = _mm512_min_pd(_mm512_max_pd(ys, _mm512_setzero_pd()), _mm512_set1_pd(1.0));
    const __m512d cbc = _mm512_min_pd(_mm512_max_pd(cb, lo), hi);
    const __m512d crc = _mm512_min_pd(_mm512_max_pd(cr, lo), hi);
    const __m512d m255 = _mm512_set1_pd(-255.0);
    const __m256i c128 = _mm256_set1_epi32(128);
    return Codes8{_mm512_cvttpd_epi32(_mm512_mul_pd(yc, _mm512_set1_pd(255.0))),
                  _mm256_sub_epi32(c128, _mm512_cvttpd_epi32(_mm512_mul_pd(cbc, m255))),
                  _mm256_sub_epi32(c128, _mm512_cvttpd_epi32(_mm512_mul_pd(crc, m255)))};
}

// How many of 8 unsigned 16-bit samples are above 1023.
RF_AVX2 inline unsigned above_1023(const std::uint16_t* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i over = _mm_cmpgt_epi16(_mm_xor_si128(v, _mm_set1_epi16(-32768)),
                                         _mm_set1_epi16(static_cast<short>(1023 ^ 0x8000)));
    return static_cast<unsigned>(
               __builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(over)))) /
           2;
}

// The same for 16 samples.
RF_AVX512 inline unsigned above_1023_16(const std::uint16_t* p) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    return static_cast<unsigned>(
        __builtin_popcount(_mm256_cmpgt_epu16_mask(v, _mm256_set1_epi16(1023))));
}

RF_AVX512 inline __m512i join(__m256i lo, __m256i hi) {
    return _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1);
}

}  // namespace

RF_AVX2 std::uint64_t rgb10_to_yuv420_pixels_avx2(std::uint16_t* r, const std::uint16_t* g,
                                                  std::uint16_t* b, std::uint8_t* y,
                                                  std::size_t n) {
    std::uint64_t above = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        above += above_1023(r + i) + above_1023(g + i) + above_1023(b + i);
        const Codes4 a = pixels4(r + i, g + i, b + i);
        const Codes4 c = pixels4(r + i + 4, g + i + 4, b + i + 4);
        const __m128i y16 = _mm_packs_epi32(a.y, c.y);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(y + i), _mm_packus_epi16(y16, y16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(r + i), _mm_packus_epi32(a.cr, c.cr));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(b + i), _mm_packus_epi32(a.cb, c.cb));
    }
    if (i < n) above += rgb10_to_yuv420_pixels_c(r + i, g + i, b + i, y + i, n - i);
    return above;
}

RF_AVX512 std::uint64_t rgb10_to_yuv420_pixels_avx512(std::uint16_t* r, const std::uint16_t* g,
                                                      std::uint16_t* b, std::uint8_t* y,
                                                      std::size_t n) {
    std::uint64_t above = 0;
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        above += above_1023_16(r + i) + above_1023_16(g + i) + above_1023_16(b + i);
        const Codes8 a = pixels8(r + i, g + i, b + i);
        const Codes8 c = pixels8(r + i + 8, g + i + 8, b + i + 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y + i), _mm512_cvtepi32_epi8(join(a.y, c.y)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(r + i),
                            _mm512_cvtepi32_epi16(join(a.cr, c.cr)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(b + i),
                            _mm512_cvtepi32_epi16(join(a.cb, c.cb)));
    }
    if (i < n) above += rgb10_to_yuv420_pixels_avx2(r + i, g + i, b + i, y + i, n - i);
    return above;
}

RF_AVX2 void rgb10_to_yuv420_average_row_avx2(const std::uint16_t* top, const std::uint16_t* bottom,
                                              std::size_t width, std::uint8_t* out) {
    if (top == bottom) {
        rgb10_to_yuv420_average_row_c(top, bottom, width, out);
        return;
    }
    // Codes are at most 255, so the sums of four fit easily in 16 bits; madd
    // adds each horizontal pair of column sums.
    const __m256i ones = _mm256_set1_epi16(1), two = _mm256_set1_epi32(2);
    std::size_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m256i s =
            _mm256_add_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + x)),
                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + x)));
        const __m256i avg = _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(s, ones), two), 2);
        const __m256i w = _mm256_packs_epi32(avg, avg);
        const __m256i bytes = _mm256_packus_epi16(w, w);
        const std::int32_t lo = _mm_cvtsi128_si32(_mm256_castsi256_si128(bytes));
        const std::int32_t hi = _mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1));
        __builtin_memcpy(out + x / 2, &lo, 4);
        __builtin_memcpy(out + x / 2 + 4, &hi, 4);
    }
    if (x < width) rgb10_to_yuv420_average_row_c(top + x, bottom + x, width - x, out + x / 2);
}

RF_VECTOR_CODE_END

}  // namespace rawframes

#endif

namespace rawframes {

std::span<const KernelVariant<Rgb10ToYuv420PixelsFn>> rgb10_to_yuv420_pixels_x86_variants() {
#ifdef RAWFRAMES_X86_VARIANTS
    static const KernelVariant<Rgb10ToYuv420PixelsFn> variants[] = {
        {"avx2", Isa::kAvx2, rgb10_to_yuv420_pixels_avx2},
        {"avx512", Isa::kAvx512, rgb10_to_yuv420_pixels_avx512},
    };
    return variants;
#else
    return {};
#endif
}

std::span<const KernelVariant<Rgb10ToYuv420AverageFn>> rgb10_to_yuv420_average_x86_variants() {
#ifdef RAWFRAMES_X86_VARIANTS
    static const KernelVariant<Rgb10ToYuv420AverageFn> variants[] = {
        {"avx2", Isa::kAvx2, rgb10_to_yuv420_average_row_avx2},
    };
    return variants;
#else
    return {};
#endif
}

}  // namespace rawframes
