// The colour differences of 4 (AVX2) and 8 (AVX-512) pixels at a time: the
// generic code of ciede2000_pixels.inc on vector lanes, whose every
// operation is the plain one lane by lane, so the bits are the plain
// version's; pixels left over are done by the plain function.
#include "ciede2000.hpp"
#include "lanes_x86.hpp"
#include "measure_tables.hpp"

namespace rawframes {

#ifdef RAWFRAMES_X86_VARIANTS

RF_VECTOR_CODE_BEGIN

namespace avx2_lanes {
#define RF_LANES_FN inline RF_AVX2 RF_ALWAYS_INLINE
#include "ciede2000_pixels.inc"
#undef RF_LANES_FN
}  // namespace avx2_lanes

namespace avx512_lanes {
#define RF_LANES_FN inline RF_AVX512 RF_ALWAYS_INLINE
#include "ciede2000_pixels.inc"
#undef RF_LANES_FN
}  // namespace avx512_lanes

namespace {

RF_AVX2 void ciede2000_row_avx2(const double* const* linear, std::size_t begin, std::size_t end,
                                double* out) {
    std::size_t c = begin;
    for (; c + avx2_lanes::kLanes <= end; c += avx2_lanes::kLanes)
        avx2_lanes::ciede2000_pixels_lanes(linear, c, out);
    ciede2000_row_c(linear, c, end, out);
}

RF_AVX512 void ciede2000_row_avx512(const double* const* linear, std::size_t begin, std::size_t end,
                                    double* out) {
    std::size_t c = begin;
    for (; c + avx512_lanes::kLanes <= end; c += avx512_lanes::kLanes)
        avx512_lanes::ciede2000_pixels_lanes(linear, c, out);
    ciede2000_row_c(linear, c, end, out);
}

}  // namespace

RF_VECTOR_CODE_END

std::span<const KernelVariant<Ciede2000RowFn>> ciede2000_x86_variants() {
    static const KernelVariant<Ciede2000RowFn> variants[] = {
        {"avx2", Isa::kAvx2, ciede2000_row_avx2},
        {"avx512", Isa::kAvx512, ciede2000_row_avx512},
    };
    return variants;
}

#else

std::span<const KernelVariant<Ciede2000RowFn>> ciede2000_x86_variants() {
    return {};
}

#endif

}  // namespace rawframes
