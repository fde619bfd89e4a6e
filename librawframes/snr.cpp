#include "snr.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "log10.hpp"

namespace rawframes {

std::uint64_t squared_error_c(const std::int16_t* t, const std::int16_t* r, std::size_t n) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t d = std::int64_t{t[i]} - std::int64_t{r[i]};
        sum += static_cast<std::uint64_t>(d * d);
    }
    return sum;
}

std::uint64_t squared_error8_c(const std::uint8_t* t, const std::uint8_t* r, std::size_t n) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t d = std::int32_t{t[i]} - std::int32_t{r[i]};
        sum += static_cast<std::uint64_t>(d * d);
    }
    return sum;
}

std::span<const KernelVariant<SquaredError8Fn>> squared_error8_variants() {
    static const std::vector<KernelVariant<SquaredError8Fn>> variants =
        with_plain_variant<SquaredError8Fn>({"plain", Isa::kPlain, squared_error8_c},
                                            squared_error8_x86_variants());
    return variants;
}

std::span<const KernelVariant<SquaredErrorFn>> squared_error_variants() {
    static const std::vector<KernelVariant<SquaredErrorFn>> variants =
        with_plain_variant<SquaredErrorFn>({"plain", Isa::kPlain, squared_error_c},
                                           squared_error_x86_variants());
    return variants;
}

namespace {

// Sums a plane in runs short enough for one 64-bit kernel sum each.
template <class Sample, class Fn>
double sum_plane(Fn squared_error, const Sample* t, const Sample* r, std::uint64_t n, Sse* exact) {
    Sse sum = 0;
    for (std::uint64_t done = 0; done < n;) {
        const std::uint64_t run = std::min(n - done, kMaxSseRun);
        sum += squared_error(t + done, r + done, static_cast<std::size_t>(run));
        done += run;
    }
    if (exact != nullptr) *exact = sum;
    return static_cast<double>(sum);
}

}  // namespace

double plane_sse(const std::int16_t* t, const std::int16_t* r, std::uint64_t n, Sse* exact) {
    static const SquaredErrorFn squared_error = best_variant(squared_error_variants());
    return sum_plane(squared_error, t, r, n, exact);
}

double plane_sse8(const std::uint8_t* t, const std::uint8_t* r, std::uint64_t n, Sse* exact) {
    static const SquaredError8Fn squared_error = best_variant(squared_error8_variants());
    return sum_plane(squared_error, t, r, n, exact);
}

std::string sse_text(Sse sse) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(sse % 10)));
        sse /= 10;
    } while (sse != 0);
    return digits;
}

double snr_db(double sse, std::int32_t width, std::int32_t height, float peak_squared) {
    if (sse == 0.0) return 0.0;
    const double numerator = static_cast<double>(width) * static_cast<double>(height) *
                             static_cast<double>(peak_squared);
    const double q = numerator / sse;
    return ten_log10(q);
}

FrameSnr measure_frame(const std::int16_t* target, const std::int16_t* reference,
                       const FrameGeometry& g) {
    const std::uint64_t n = g.pixels();
    const std::int32_t width = g.width, height = g.height;
    FrameSnr f;
    f.u = static_cast<float>(
        snr_db(plane_sse(target, reference, n, &f.sse_u), width, height, kChromaPeakSquared));
    f.y =
        snr_db(plane_sse(target + n, reference + n, n, &f.sse_y), width, height, kLumaPeakSquared);
    f.v = snr_db(plane_sse(target + 2 * n, reference + 2 * n, n, &f.sse_v), width, height,
                 kChromaPeakSquared);
    return f;
}

void SnrSums::add(const FrameSnr& f) {
    y = static_cast<float>(f.y + static_cast<double>(y));
    u = static_cast<float>(static_cast<double>(f.u) + static_cast<double>(u));
    v = static_cast<float>(f.v + static_cast<double>(v));
}

}  // namespace rawframes
