// The CIEDE2000 colour difference (CIE 142-2001, kL = kC = kH = 1) of each
// pixel of an RGB frame against a reference frame, the same bits on every
// machine.
//
// Per pixel: v = sample / peak (samples clamped to 0 .. peak first); linear
// light by the sRGB curve, from a table made with 60-digit values; XYZ by the
// matrix of the BT.709 primaries and the D65 white (Y of white = 1), and
// CIELAB against that white (measure_tables.hpp); then CIEDE2000 with the
// reference as the first colour, the hue terms of T by the multiple-angle
// formulas, and the functions of exact_math.inc. A frame gives the mean
// (each row's differences into 8 partial sums, pixel x into sum x mod 8,
// added in pairs; the rows' sums from top to bottom; divided by the pixels)
// and the largest difference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "cpu.hpp"
#include "ssim.hpp"

namespace rawframes {

struct ColourDifference {
    double mean = 0, max = 0;
    std::uint64_t clamped = 0;  // samples outside 0 .. peak, clamped
};

// Scratch memory, in doubles, for frames of this width.
std::size_t ciede2000_scratch_doubles(std::size_t width);

// The planes R, G, B of each frame; `peak` 1023 (16-bit samples) or 255.
ColourDifference frame_ciede2000(const SamplePlane<std::int16_t> target[3],
                                 const SamplePlane<std::int16_t> reference[3], std::size_t width,
                                 std::size_t height, int peak, double* scratch);
ColourDifference frame_ciede2000(const SamplePlane<std::uint8_t> target[3],
                                 const SamplePlane<std::uint8_t> reference[3], std::size_t width,
                                 std::size_t height, int peak, double* scratch);

// CIEDE2000 from the CIELAB colour (l1, a1, b1) to (l2, a2, b2), as the
// frames' differences are computed (plain).
double ciede2000_lab(double l1, double a1, double b1, double l2, double a2, double b2);

// The differences of pixels [begin, end) of a row, from six rows of linear
// light: the target's R, G, B, then the reference's.
using Ciede2000RowFn = void (*)(const double* const* linear, std::size_t begin, std::size_t end,
                                double* out);
void ciede2000_row_c(const double* const* linear, std::size_t begin, std::size_t end, double* out);
std::span<const KernelVariant<Ciede2000RowFn>> ciede2000_variants();
std::span<const KernelVariant<Ciede2000RowFn>> ciede2000_x86_variants();

}  // namespace rawframes
