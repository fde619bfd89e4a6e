// Command-line number parsing shared by all programs.
#pragma once

#include <cstdint>

namespace rawframes {

// Reads a decimal integer the way atoi does: leading white space is skipped, one
// optional '+' or '-' is accepted, digits are taken up to the first non-digit, and
// text without leading digits gives 0. Values outside the 32-bit range wrap
// modulo 2^32 instead of overflowing; no input is ever an error.
std::int32_t parse_int(const char* text) noexcept;

}  // namespace rawframes
