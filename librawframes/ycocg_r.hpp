// Reversible YCoCg-R lifting transform of 10-bit RGB frames.
//
// Per sample, with R, G, B read as unsigned 16-bit values:
//   Co = R - B;  t = B + (Co >> 1);  Cg = G - t;  Y = t + (Cg >> 1)
// (arithmetic shifts), stored as Co + 1024 and Cg + 1024 clamped to 0..2047 and Y
// clamped to 0..1023. For 10-bit input the clamps never act and the transform is
// exactly invertible.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cpu.hpp"
#include "geometry.hpp"

namespace rawframes {

// Transforms n positions in place: r[i], g[i], b[i] become Co + 1024, Y, Cg + 1024.
// Returns how many of the 3n input samples are above 1023. This plain version
// is the definition the faster variants are checked against.
std::uint64_t ycocg_r_planes_c(std::uint16_t* r, std::uint16_t* g, std::uint16_t* b, std::size_t n);

using YCoCgRPlanesFn = std::uint64_t (*)(std::uint16_t* r, std::uint16_t* g, std::uint16_t* b,
                                         std::size_t n);

// Every version of the plane transform built into this binary, plain first;
// the caller checks cpu_supports() before running one.
std::span<const KernelVariant<YCoCgRPlanesFn>> ycocg_r_variants();
// The x86 vector versions, listed in the x86 file (none on other processors).
std::span<const KernelVariant<YCoCgRPlanesFn>> ycocg_r_x86_variants();

// Transforms one frame of three consecutive planes in place. Only the product of
// the dimensions matters; when either is zero or negative nothing changes. Uses
// the fastest version this processor supports. Returns the number of input
// samples above 1023 (input that is not 10-bit, whose results are clamped).
std::uint64_t ycocg_r_frame(std::uint16_t* frame, const FrameGeometry& g);

}  // namespace rawframes
