// The SSIM row functions on 4 (AVX2) and 8 (AVX-512) columns or positions at a
// time: the generic row code of ssim_rows.inc on vector lanes, whose every
// operation is the plain one lane by lane, so the bits are the plain
// version's; columns and positions left over are done by the plain functions.
#include "lanes_x86.hpp"
#include "measure_tables.hpp"
#include "ssim.hpp"

namespace rawframes {

#ifdef RAWFRAMES_X86_VARIANTS

RF_VECTOR_CODE_BEGIN

namespace avx2_lanes {
#define RF_LANES_FN inline RF_AVX2 RF_ALWAYS_INLINE
#include "ssim_rows.inc"
#undef RF_LANES_FN
}  // namespace avx2_lanes

namespace avx512_lanes {
#define RF_LANES_FN inline RF_AVX512 RF_ALWAYS_INLINE
#include "ssim_rows.inc"
#undef RF_LANES_FN
}  // namespace avx512_lanes

namespace {

template <class Sample>
RF_AVX2 void ssim_quantities_avx2(const Sample* t, const Sample* r, std::size_t begin,
                                  std::size_t end, double* const* out) {
    std::size_t c = begin;
    for (; c + avx2_lanes::kLanes <= end; c += avx2_lanes::kLanes)
        avx2_lanes::ssim_quantities_lanes(t, r, c, out);
    ssim_quantities_c(t, r, c, end, out);
}

RF_AVX2 void ssim_columns_avx2(const double* const* rows, std::size_t begin, std::size_t end,
                               std::size_t width, double* v) {
    std::size_t c = begin;
    for (; c + avx2_lanes::kLanes <= end; c += avx2_lanes::kLanes)
        avx2_lanes::ssim_columns_lanes(rows, c, width, v);
    ssim_columns_c(rows, c, end, width, v);
}

RF_AVX2 void ssim_positions_avx2(const double* v, std::size_t width, std::size_t begin,
                                 std::size_t end, double c1, double c2, double* ssim_sums,
                                 double* cs_sums) {
    const std::size_t p =
        avx2_lanes::ssim_positions_lanes(v, width, begin, end, c1, c2, ssim_sums, cs_sums);
    ssim_positions_c(v, width, p, end, c1, c2, ssim_sums, cs_sums);
}

template <class Sample>
RF_AVX512 void ssim_quantities_avx512(const Sample* t, const Sample* r, std::size_t begin,
                                      std::size_t end, double* const* out) {
    std::size_t c = begin;
    for (; c + avx512_lanes::kLanes <= end; c += avx512_lanes::kLanes)
        avx512_lanes::ssim_quantities_lanes(t, r, c, out);
    ssim_quantities_c(t, r, c, end, out);
}

RF_AVX512 void ssim_columns_avx512(const double* const* rows, std::size_t begin, std::size_t end,
                                   std::size_t width, double* v) {
    std::size_t c = begin;
    for (; c + avx512_lanes::kLanes <= end; c += avx512_lanes::kLanes)
        avx512_lanes::ssim_columns_lanes(rows, c, width, v);
    ssim_columns_c(rows, c, end, width, v);
}

RF_AVX512 void ssim_positions_avx512(const double* v, std::size_t width, std::size_t begin,
                                     std::size_t end, double c1, double c2, double* ssim_sums,
                                     double* cs_sums) {
    const std::size_t p =
        avx512_lanes::ssim_positions_lanes(v, width, begin, end, c1, c2, ssim_sums, cs_sums);
    ssim_positions_c(v, width, p, end, c1, c2, ssim_sums, cs_sums);
}

const SsimRowFns kAvx2Rows{ssim_quantities_avx2<std::int16_t>, ssim_quantities_avx2<std::uint8_t>,
                           ssim_quantities_avx2<double>, ssim_columns_avx2, ssim_positions_avx2};
const SsimRowFns kAvx512Rows{ssim_quantities_avx512<std::int16_t>,
                             ssim_quantities_avx512<std::uint8_t>, ssim_quantities_avx512<double>,
                             ssim_columns_avx512, ssim_positions_avx512};

}  // namespace

RF_VECTOR_CODE_END

std::span<const KernelVariant<const SsimRowFns*>> ssim_x86_variants() {
    static const KernelVariant<const SsimRowFns*> variants[] = {
        {"avx2", Isa::kAvx2, &kAvx2Rows},
        {"avx512", Isa::kAvx512, &kAvx512Rows},
    };
    return variants;
}

#else

std::span<const KernelVariant<const SsimRowFns*>> ssim_x86_variants() {
    return {};
}

#endif

}  // namespace rawframes
