// 8-bit full-range BT.709 YCbCr 4:2:0 to 8-bit planar RGB.
//
// Each chroma sample is replicated over the pixels of its 2 x 2 block, and each
// pixel is converted in floating point with single-precision constants; r, b, R'
// and G' are rounded to single precision, g and B' are not, and every
// float-to-integer conversion truncates toward zero.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cpu.hpp"
#include "geometry.hpp"

namespace rawframes {

struct Rgb8 {
    std::uint8_t r, g, b;
};

// The conversion of one pixel; the definition every row function reproduces.
Rgb8 yuv_to_rgb_pixel(std::uint8_t y, std::uint8_t cb, std::uint8_t cr);

// Converts one row of `width` pixels: pixel x takes luma y[x] and chroma
// cb[x / 2], cr[x / 2].
void yuv420_row_c(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                  std::uint8_t* r, std::uint8_t* g, std::uint8_t* b, std::size_t width);

using Yuv420RowFn = void (*)(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                             std::uint8_t* r, std::uint8_t* g, std::uint8_t* b, std::size_t width);

// Every version of the row function built into this binary, plain first; the
// caller checks cpu_supports() before running one.
std::span<const KernelVariant<Yuv420RowFn>> yuv420_row_variants();
// The x86 vector versions, listed in the x86 file (none on other processors).
std::span<const KernelVariant<Yuv420RowFn>> yuv420_row_x86_variants();

// Converts one Yuv420Frame `in` into the three planes of `out`, with the fastest
// row function this processor supports.
void yuv420_to_rgb_frame(const std::uint8_t* in, std::uint8_t* out, const FrameGeometry& g);

}  // namespace rawframes
