// SSIM (Wang, Bovik, Sheikh, Simoncelli 2004) and MS-SSIM (Wang, Simoncelli,
// Bovik 2003) of a plane against a reference plane, the same bits on every
// machine.
//
// The window is w(i, j) = g(i) g(j), g(k) = exp(-k^2 / 4.5) / (the sum over
// k = -5 .. 5), taken from 60-digit values (measure_tables.hpp). At every
// position where it lies wholly inside the plane, with L the peak,
// C1 = (0.01 L)^2 and C2 = (0.03 L)^2:
//   mx = sum w x, my = sum w y, cov = sum w x y - mx my,
//   vx + vy = sum w (x^2 + y^2) - mx^2 - my^2 (the sum of the two variances),
//   cs = (2 cov + C2) / (vx + vy + C2),
//   SSIM = (2 mx my + C1) (2 cov + C2) / ((mx^2 + my^2 + C1) (vx + vy + C2)).
// The four sums of w times x, y, x^2 + y^2 and x y run first down each column
// (the window's rows in pairs k and -k, whose sums are exact), then along the
// row, in a fixed order. A row's values
// are added into 8 partial sums, position p into sum p mod 8 from left to
// right, which are then added in pairs ((s0 + s1) + (s2 + s3)) + ((s4 + s5) +
// (s6 + s7)); the rows' sums are added from top to bottom. A
// plane's SSIM is the mean over the positions; NaN when the plane is smaller
// than the window either way.
//
// MS-SSIM: 5 scales, scale 1 the plane and scale k + 1 the 2 x 2 means of
// scale k (an odd last row or column dropped; the means are exact); the mean
// cs at scales 1 to 4 and the mean SSIM at scale 5, combined as
// prod cs_k^w_k * ssim_5^w_5 with w = 0.0448, 0.2856, 0.3001, 0.2363, 0.1333
// (powers by exact_math.inc), a negative mean counting as 0. NaN when the
// plane is smaller than 176 (11 at scale 5) either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "cpu.hpp"

namespace rawframes {

inline constexpr std::size_t kSsimWindow = 11;
inline constexpr std::size_t kMsSsimScales = 5;
inline constexpr std::size_t kMsSsimLeast = kSsimWindow << (kMsSsimScales - 1);  // 176

// A plane of samples: its first sample and the samples from one row's start
// to the next's.
template <class Sample>
struct SamplePlane {
    const Sample* data;
    std::ptrdiff_t stride;
};

// Scratch memory, in doubles, that the functions below need for planes of
// this width and height.
std::size_t ssim_scratch_doubles(std::size_t width, std::size_t height, bool multi_scale);

// What a plane gave: its value (NaN when it has none) and whether a scale's
// mean was negative and counted as 0 (MS-SSIM).
struct SsimResult {
    double value = 0;
    bool negative_mean = false;
};

SsimResult plane_ssim(SamplePlane<std::int16_t> target, SamplePlane<std::int16_t> reference,
                      std::size_t width, std::size_t height, double peak, double* scratch);
SsimResult plane_ssim(SamplePlane<std::uint8_t> target, SamplePlane<std::uint8_t> reference,
                      std::size_t width, std::size_t height, double peak, double* scratch);
SsimResult plane_ms_ssim(SamplePlane<std::int16_t> target, SamplePlane<std::int16_t> reference,
                         std::size_t width, std::size_t height, double peak, double* scratch);
SsimResult plane_ms_ssim(SamplePlane<std::uint8_t> target, SamplePlane<std::uint8_t> reference,
                         std::size_t width, std::size_t height, double peak, double* scratch);

// The row functions, for the variants and their tests. `v` holds four rows of
// `width` doubles: the window's column sums of x, y, x^2 + y^2 and x y.
//
// Column sums of columns [begin, end): `rows` holds, for each of the four
// quantities in that order, the 11 rows of the window.
using SsimColumnsFn = void (*)(const double* const* rows, std::size_t begin, std::size_t end,
                               std::size_t width, double* v);
// SSIM and cs of positions [begin, end) of a row (whose windows cover
// columns p .. p + 10), each added to the partial sum of its position mod 8,
// `ssim_sums` and `cs_sums` (8 each, when not null); `begin` is a multiple of
// 8.
using SsimPositionsFn = void (*)(const double* v, std::size_t width, std::size_t begin,
                                 std::size_t end, double c1, double c2, double* ssim_sums,
                                 double* cs_sums);
// The four quantities of columns [begin, end) of a row of each plane into
// out[0 .. 3].
template <class Sample>
using SsimQuantitiesFn = void (*)(const Sample* t, const Sample* r, std::size_t begin,
                                  std::size_t end, double* const* out);
struct SsimRowFns {
    SsimQuantitiesFn<std::int16_t> quantities16;
    SsimQuantitiesFn<std::uint8_t> quantities8;
    SsimQuantitiesFn<double> quantities_double;
    SsimColumnsFn columns;
    SsimPositionsFn positions;
};
template <class Sample>
void ssim_quantities_c(const Sample* t, const Sample* r, std::size_t begin, std::size_t end,
                       double* const* out);
void ssim_columns_c(const double* const* rows, std::size_t begin, std::size_t end,
                    std::size_t width, double* v);
void ssim_positions_c(const double* v, std::size_t width, std::size_t begin, std::size_t end,
                      double c1, double c2, double* ssim_sums, double* cs_sums);

std::span<const KernelVariant<const SsimRowFns*>> ssim_variants();
std::span<const KernelVariant<const SsimRowFns*>> ssim_x86_variants();

}  // namespace rawframes
