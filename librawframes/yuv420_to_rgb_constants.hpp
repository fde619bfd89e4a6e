// Single-precision constants of the 4:2:0 to RGB conversion, used as exactly
// these values by every version of the kernel.
#pragma once

#include "exact_float.hpp"

namespace rawframes::yuv420_constants {

inline constexpr float kInv255 = 1.0f / 255.0f;  // applied by multiplication
inline constexpr float kCrGain = 1.5748f;
inline constexpr float kCbGain = 1.8556f;
inline constexpr float kInvWeightG = 1.3982103f;  // 1 / 0.7152, by multiplication
static_assert(std::bit_cast<std::uint32_t>(kInv255) == 0x3B808081u);
static_assert(std::bit_cast<std::uint32_t>(kCrGain) == 0x3FC9930Cu);
static_assert(std::bit_cast<std::uint32_t>(kCbGain) == 0x3FED844Du);
static_assert(std::bit_cast<std::uint32_t>(kInvWeightG) == 0x3FB2F88Eu);
using bt709::kWeightB;
using bt709::kWeightR;

}  // namespace rawframes::yuv420_constants
