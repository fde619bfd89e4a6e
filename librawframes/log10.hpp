// The decibel logarithm of the SNR, the same on every processor.
//
// 10 * log10(q) is defined as three roundings to nearest, ties to even:
//   L = the product c * log2(q) rounded to a 64-bit significand, where c is
//       log10(2) rounded to a 64-bit significand (0x9A209A84FBCFF799 * 2^-65);
//   P = 10 * L rounded to a 64-bit significand;
//   the result is P rounded to double.
// These are the roundings the x87 evaluation of the report made, with the
// logarithm correctly rounded where the x87 one is not always. It is computed
// in integer arithmetic only, so no processor or library can change it.
#pragma once

#include <cstdint>

namespace rawframes {

// (-1)^negative * significand * 2^exponent; the significand is normalised
// (its top bit set) unless the value is 0.
struct Extended {
    bool negative = false;
    std::uint64_t significand = 0;
    int exponent = 0;
};

// L above for a positive, finite q.
Extended log10_extended(double q);

// 10 * log10(q) as defined above, for a positive, finite q.
double ten_log10(double q);

}  // namespace rawframes
