// AVX2 sum of squared differences of signed 16-bit samples, exactly equal to
// squared_error_c. Blocks whose differences all lie within +-4095 (every block
// of 10- and 11-bit material) are summed with 16-bit multiply-adds into 32-bit
// lanes; any block with a larger difference is summed by the plain code.
#include <algorithm>

#include "snr.hpp"
#include "x86_targets.hpp"

#ifdef RAWFRAMES_X86_VARIANTS

namespace rawframes {

RF_VECTOR_CODE_BEGIN

namespace {

// 64 vectors of 16 samples: each 32-bit lane gathers at most
// 64 * 2 * 4095^2 < 2^31, so nothing overflows before it is widened.
constexpr std::size_t kBlock = 64 * 16;

RF_AVX2 inline std::uint64_t widen_sum(__m256i acc) {
    const __m256i lo = _mm256_cvtepu32_epi64(_mm256_castsi256_si128(acc));
    const __m256i hi = _mm256_cvtepu32_epi64(_mm256_extracti128_si256(acc, 1));
    const __m256i s = _mm256_add_epi64(lo, hi);
    const __m128i t = _mm_add_epi64(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(t)) +
           static_cast<std::uint64_t>(_mm_extract_epi64(t, 1));
}

}  // namespace

RF_AVX2 std::uint64_t squared_error_avx2(const std::int16_t* t, const std::int16_t* r,
                                         std::size_t n) {
    std::uint64_t total = 0;
    std::size_t i = 0;
    const __m256i high = _mm256_set1_epi16(4095), low = _mm256_set1_epi16(-4095);
    for (; i + kBlock <= n; i += kBlock) {
        __m256i acc = _mm256_setzero_si256();
        __m256i too_far = _mm256_setzero_si256();
        for (std::size_t k = i; k < i + kBlock; k += 16) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + k));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + k));
            // A saturated difference is at least 32767 in size, so it is caught
            // by the range check and the block is redone exactly.
            const __m256i d = _mm256_subs_epi16(a, b);
            too_far = _mm256_or_si256(
                too_far, _mm256_or_si256(_mm256_cmpgt_epi16(d, high), _mm256_cmpgt_epi16(low, d)));
            acc = _mm256_add_epi32(acc, _mm256_madd_epi16(d, d));
        }
        if (_mm256_testz_si256(too_far, too_far))
            total += widen_sum(acc);
        else
            total += squared_error_c(t + i, r + i, kBlock);
    }
    return total + squared_error_c(t + i, r + i, n - i);
}

// 8-bit samples: differences widened to 16 bits and squared with
// multiply-adds; a 32-bit lane gathers at most 2 * 255^2 per step, so runs of
// 8192 steps stay far below 2^31 before they are widened.
RF_AVX2 std::uint64_t squared_error8_avx2(const std::uint8_t* t, const std::uint8_t* r,
                                          std::size_t n) {
    constexpr std::size_t kRun = 8192 * 16;
    std::uint64_t total = 0;
    std::size_t i = 0;
    while (i + 16 <= n) {
        const std::size_t end = i + std::min(kRun, (n - i) / 16 * 16);
        __m256i acc = _mm256_setzero_si256();
        for (; i < end; i += 16) {
            const __m256i a =
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i)));
            const __m256i b =
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i)));
            const __m256i d = _mm256_sub_epi16(a, b);
            acc = _mm256_add_epi32(acc, _mm256_madd_epi16(d, d));
        }
        total += widen_sum(acc);
    }
    return total + squared_error8_c(t + i, r + i, n - i);
}

RF_VECTOR_CODE_END

}  // namespace rawframes

#endif

namespace rawframes {

std::span<const KernelVariant<SquaredErrorFn>> squared_error_x86_variants() {
#ifdef RAWFRAMES_X86_VARIANTS
    static const KernelVariant<SquaredErrorFn> variants[] = {
        {"avx2", Isa::kAvx2, squared_error_avx2},
    };
    return variants;
#else
    return {};
#endif
}

std::span<const KernelVariant<SquaredError8Fn>> squared_error8_x86_variants() {
#ifdef RAWFRAMES_X86_VARIANTS
    static const KernelVariant<SquaredError8Fn> variants[] = {
        {"avx2", Isa::kAvx2, squared_error8_avx2},
    };
    return variants;
#else
    return {};
#endif
}

}  // namespace rawframes
