// 10-bit planar RGB to 8-bit full-range BT.709 YCbCr 4:2:0.
//
// Each pixel is converted in floating point, with these roundings being part of
// the result: the luma is rounded to single precision before the chroma uses it,
// Cb is rounded to single precision, Cr stays in double precision, and every
// float-to-integer conversion truncates toward zero. The chroma is turned into
// codes per pixel first and then averaged over 2 x 2 blocks, halves rounded up.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cpu.hpp"
#include "geometry.hpp"

namespace rawframes {

struct YCbCrCodes {
    std::uint8_t y;
    std::uint8_t cb;  // 1..255
    std::uint8_t cr;  // 1..255
};

// The conversion of one pixel; samples above 1023 are accepted and clamped in
// the result. This is the definition every row function reproduces.
YCbCrCodes rgb10_to_yuv420_pixel(std::uint16_t r, std::uint16_t g, std::uint16_t b);

// Converts n pixels: luma codes go to y, and the full-resolution chroma codes
// replace the samples in r (Cr code) and b (Cb code). Returns how many of the
// 3n input samples are above 1023.
std::uint64_t rgb10_to_yuv420_pixels_c(std::uint16_t* r, const std::uint16_t* g, std::uint16_t* b,
                                       std::uint8_t* y, std::size_t n);

// Averages one row of chroma blocks. `top` and `bottom` are two rows of `width`
// full-resolution codes (the same row for the last row of an odd height); each
// output sample is the rounded mean, halves up, of the 4, 2 or 1 codes its block
// covers inside the frame.
void rgb10_to_yuv420_average_row_c(const std::uint16_t* top, const std::uint16_t* bottom,
                                   std::size_t width, std::uint8_t* out);

using Rgb10ToYuv420PixelsFn = std::uint64_t (*)(std::uint16_t* r, const std::uint16_t* g,
                                                std::uint16_t* b, std::uint8_t* y, std::size_t n);
using Rgb10ToYuv420AverageFn = void (*)(const std::uint16_t* top, const std::uint16_t* bottom,
                                        std::size_t width, std::uint8_t* out);

// Every version of the two row functions built into this binary, plain first;
// the caller checks cpu_supports() before running one.
std::span<const KernelVariant<Rgb10ToYuv420PixelsFn>> rgb10_to_yuv420_pixels_variants();
// The x86 vector versions, listed in the x86 file (none on other processors).
std::span<const KernelVariant<Rgb10ToYuv420PixelsFn>> rgb10_to_yuv420_pixels_x86_variants();
std::span<const KernelVariant<Rgb10ToYuv420AverageFn>> rgb10_to_yuv420_average_variants();
// The x86 vector versions, listed in the x86 file (none on other processors).
std::span<const KernelVariant<Rgb10ToYuv420AverageFn>> rgb10_to_yuv420_average_x86_variants();

// Converts one frame with the fastest row functions this processor supports. `frame` holds the R, G
// and B planes (W x H samples each, host order); the R and B planes are overwritten by chroma
// codes. `out` receives the whole Yuv420Frame. Returns the number of input samples above 1023
// (input that is not 10-bit, whose codes are clamped).
std::uint64_t rgb10_to_yuv420_frame(std::uint16_t* frame, std::uint8_t* out,
                                    const FrameGeometry& g);

}  // namespace rawframes
