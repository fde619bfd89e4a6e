#include "ciede2000.hpp"

#include <algorithm>
#include <vector>

#include "lanes_scalar.hpp"
#include "measure_tables.hpp"

namespace rawframes {

namespace scalar_lanes {
#define RF_LANES_FN inline
#include "ciede2000_pixels.inc"
#undef RF_LANES_FN
}  // namespace scalar_lanes

void ciede2000_row_c(const double* const* linear, std::size_t begin, std::size_t end, double* out) {
    for (std::size_t c = begin; c < end; ++c) scalar_lanes::ciede2000_pixels_lanes(linear, c, out);
}

double ciede2000_lab(double l1, double a1, double b1, double l2, double a2, double b2) {
    return scalar_lanes::ciede2000_lanes(l1, a1, b1, l2, a2, b2);
}

std::span<const KernelVariant<Ciede2000RowFn>> ciede2000_variants() {
    static const std::vector<KernelVariant<Ciede2000RowFn>> variants =
        with_plain_variant<Ciede2000RowFn>({"plain", Isa::kPlain, ciede2000_row_c},
                                           ciede2000_x86_variants());
    return variants;
}

std::size_t ciede2000_scratch_doubles(std::size_t width) {
    return 7 * width;  // six rows of linear light and one of differences
}

namespace {

template <class Sample>
ColourDifference ciede2000_of(const SamplePlane<Sample> target[3],
                              const SamplePlane<Sample> reference[3], std::size_t width,
                              std::size_t height, int peak, double* scratch) {
    static const Ciede2000RowFn row_fn = best_variant(ciede2000_variants());
    const double* table = peak == 1023 ? measure_tables::kLinear10 : measure_tables::kLinear8;
    double* linear[6];
    for (std::size_t k = 0; k < 6; ++k) linear[k] = scratch + k * width;
    double* differences = scratch + 6 * width;
    ColourDifference result;
    double total = 0;
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t k = 0; k < 6; ++k) {
            const SamplePlane<Sample>& plane = k < 3 ? target[k] : reference[k - 3];
            const Sample* row = plane.data + static_cast<std::ptrdiff_t>(y) * plane.stride;
            for (std::size_t x = 0; x < width; ++x) {
                const int s = row[x];
                const int clamped = s < 0 ? 0 : s > peak ? peak : s;
                result.clamped += clamped != s;
                linear[k][x] = table[clamped];
            }
        }
        row_fn(linear, 0, width, differences);
        double parts[8] = {};
        for (std::size_t x = 0; x < width; ++x) {
            parts[x % 8] += differences[x];
            result.max = std::max(result.max, differences[x]);
        }
        total += ((parts[0] + parts[1]) + (parts[2] + parts[3])) +
                 ((parts[4] + parts[5]) + (parts[6] + parts[7]));
    }
    result.mean = total / (static_cast<double>(width) * static_cast<double>(height));
    return result;
}

}  // namespace

ColourDifference frame_ciede2000(const SamplePlane<std::int16_t> target[3],
                                 const SamplePlane<std::int16_t> reference[3], std::size_t width,
                                 std::size_t height, int peak, double* scratch) {
    return ciede2000_of(target, reference, width, height, peak, scratch);
}

ColourDifference frame_ciede2000(const SamplePlane<std::uint8_t> target[3],
                                 const SamplePlane<std::uint8_t> reference[3], std::size_t width,
                                 std::size_t height, int peak, double* scratch) {
    return ciede2000_of(target, reference, width, height, peak, scratch);
}

}  // namespace rawframes
