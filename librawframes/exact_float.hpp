// Conditions the floating-point conversions rely on, checked when they are
// compiled, and the BT.709 luma weights they share. Every operation must be
// evaluated in its own type (no excess precision) and never be reassociated
// or contracted; the build adds -ffp-contract=off, and a test probes it.
#pragma once

#include <bit>
#include <cfloat>
#include <cstdint>

#if FLT_EVAL_METHOD != 0
#error "the conversions need floating-point operations evaluated in their own type"
#endif
#ifdef __FAST_MATH__
#error "the conversions must not be built with -ffast-math"
#endif

namespace rawframes::bt709 {

// Luma weights as single-precision values, used as exactly these values.
inline constexpr float kWeightR = 0.2126f;
inline constexpr float kWeightG = 0.7152f;
inline constexpr float kWeightB = 0.0722f;
static_assert(std::bit_cast<std::uint32_t>(kWeightR) == 0x3E59B3D0u);
static_assert(std::bit_cast<std::uint32_t>(kWeightG) == 0x3F371759u);
static_assert(std::bit_cast<std::uint32_t>(kWeightB) == 0x3D93DD98u);

}  // namespace rawframes::bt709
