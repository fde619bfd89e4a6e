// Per-plane squared error and signal-to-noise ratio of 16-bit planar frames.
//
// Samples are read as signed 16-bit values. Plane 1 is luma (peak 1023, column
// SnrY), planes 0 and 2 are chroma (peak 2047, columns SnrU and SnrV). SnrU is
// kept in single precision, SnrY and SnrV in double; the column sums are single
// precision. These roundings are part of the printed report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cpu.hpp"
#include "geometry.hpp"

namespace rawframes {

// Squared peaks, exact in single precision.
inline constexpr float kLumaPeakSquared = 1046529.0f;    // 1023 * 1023
inline constexpr float kChromaPeakSquared = 4190209.0f;  // 2047 * 2047

// Largest run of samples whose squared differences are summed in one 64-bit
// accumulator without overflow: (2^32 - 1) * 65535^2 < 2^64.
inline constexpr std::uint64_t kMaxSseRun = 0xFFFFFFFFu;

// Exact sum of (t[i] - r[i])^2 over n <= kMaxSseRun samples. Plain definition.
std::uint64_t squared_error_c(const std::int16_t* t, const std::int16_t* r, std::size_t n);

using SquaredErrorFn = std::uint64_t (*)(const std::int16_t* t, const std::int16_t* r,
                                         std::size_t n);

// Every version of the squared-error sum built into this binary, plain first;
// the caller checks cpu_supports() before running one.
std::span<const KernelVariant<SquaredErrorFn>> squared_error_variants();
// The x86 vector versions, listed in the x86 file (none on other processors).
std::span<const KernelVariant<SquaredErrorFn>> squared_error_x86_variants();

// Exact sum of (t[i] - r[i])^2 over n 8-bit samples, n <= kMaxSseRun. Plain
// definition.
std::uint64_t squared_error8_c(const std::uint8_t* t, const std::uint8_t* r, std::size_t n);

using SquaredError8Fn = std::uint64_t (*)(const std::uint8_t* t, const std::uint8_t* r,
                                          std::size_t n);

std::span<const KernelVariant<SquaredError8Fn>> squared_error8_variants();
std::span<const KernelVariant<SquaredError8Fn>> squared_error8_x86_variants();

// An exact sum of squared differences of a plane of any length.
using Sse = unsigned __int128;

// Sum of squared differences of a whole plane of any length, as a double (exact
// while the sum is below 2^53, rounded once otherwise); `exact`, when given,
// receives the exact sum.
double plane_sse(const std::int16_t* t, const std::int16_t* r, std::uint64_t n,
                 Sse* exact = nullptr);

// The same for 8-bit samples.
double plane_sse8(const std::uint8_t* t, const std::uint8_t* r, std::uint64_t n,
                  Sse* exact = nullptr);

// The decimal digits of an exact sum.
std::string sse_text(Sse sse);

// 10 * log10(W * H * peak_squared / sse) in decibels, or 0 when sse is 0. The
// logarithm is the software one of log10.hpp, the same on every processor.
double snr_db(double sse, std::int32_t width, std::int32_t height, float peak_squared);

struct FrameSnr {
    double y = 0;                         // plane 1
    float u = 0;                          // plane 0
    double v = 0;                         // plane 2
    Sse sse_y = 0, sse_u = 0, sse_v = 0;  // exact squared errors; 0: identical planes
};

// Measures one frame: `target` and `reference` each hold three planes of
// width * height samples.
FrameSnr measure_frame(const std::int16_t* target, const std::int16_t* reference,
                       const FrameGeometry& g);

// The running column sums, each rounded to single precision after every frame.
struct SnrSums {
    float y = 0, u = 0, v = 0;
    void add(const FrameSnr& f);
};

}  // namespace rawframes
