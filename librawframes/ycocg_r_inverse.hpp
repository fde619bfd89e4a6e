// The inverse of the reversible YCoCg-R lifting transform: planes Co + 1024, Y
// and Cg + 1024 (16-bit samples) back to 10-bit R, G, B.
//
// Per sample, in integers, with the samples read unsigned:
//   co = p0 - 1024;  y = p1;  cg = p2 - 1024;
//   t = y - (cg >> 1);  g = cg + t;  b = t - (co >> 1);  r = b + co
// (arithmetic shifts, rounding toward minus infinity); r, g and b are each
// clamped to 0..1023. For every 10-bit R, G, B the forward transform's output
// comes back exactly; the clamps act only on other input (a lossy decode, or
// data that is not YCoCg-R of 10-bit RGB), and are counted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cpu.hpp"
#include "geometry.hpp"

namespace rawframes {

// Transforms n positions in place: p0[i], p1[i], p2[i] (Co + 1024, Y, Cg + 1024)
// become R, G, B. Returns how many of the 3n results were clamped. This plain
// version is the definition the faster variants are checked against.
std::uint64_t ycocg_r_inverse_planes_c(std::uint16_t* p0, std::uint16_t* p1, std::uint16_t* p2,
                                       std::size_t n);

using YCoCgRInversePlanesFn = std::uint64_t (*)(std::uint16_t* p0, std::uint16_t* p1,
                                                std::uint16_t* p2, std::size_t n);

// Every version of the inverse built into this binary, plain first; the
// caller checks cpu_supports() before running one.
std::span<const KernelVariant<YCoCgRInversePlanesFn>> ycocg_r_inverse_variants();
// The x86 vector versions, listed in the x86 file (none on other processors).
std::span<const KernelVariant<YCoCgRInversePlanesFn>> ycocg_r_inverse_x86_variants();

// Transforms one frame of three consecutive planes in place with the fastest
// version this processor supports; returns the number of clamped samples.
std::uint64_t ycocg_r_inverse_frame(std::uint16_t* frame, const FrameGeometry& g);

}  // namespace rawframes
