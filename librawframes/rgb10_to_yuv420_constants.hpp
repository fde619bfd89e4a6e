// Single-precision constants of the RGB to 4:2:0 conversion, used as exactly
// these values by every version of the kernel.
#pragma once

#include "exact_float.hpp"

namespace rawframes::rgb10_to_yuv420_constants {

inline constexpr float kScale = 1.0f / 1023.0f;  // sample normalisation
inline constexpr float kCbFactor = 0.53890926f;  // 0.5 / (1 - 0.0722)
inline constexpr float kCrFactor = 0.63500124f;  // 0.5 / (1 - 0.2126)
static_assert(std::bit_cast<std::uint32_t>(kScale) == 0x3A802008u);
static_assert(std::bit_cast<std::uint32_t>(kCbFactor) == 0x3F09F5F5u);
static_assert(std::bit_cast<std::uint32_t>(kCrFactor) == 0x3F228F71u);
using bt709::kWeightB;
using bt709::kWeightG;
using bt709::kWeightR;

}  // namespace rawframes::rgb10_to_yuv420_constants
