#include "ssim.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "lanes_scalar.hpp"
#include "measure_tables.hpp"

namespace rawframes {

namespace scalar_lanes {
#define RF_LANES_FN inline
#include "ssim_rows.inc"
#undef RF_LANES_FN
}  // namespace scalar_lanes

template <class Sample>
void ssim_quantities_c(const Sample* t, const Sample* r, std::size_t begin, std::size_t end,
                       double* const* out) {
    for (std::size_t c = begin; c < end; ++c) scalar_lanes::ssim_quantities_lanes(t, r, c, out);
}
template void ssim_quantities_c(const std::int16_t*, const std::int16_t*, std::size_t, std::size_t,
                                double* const*);
template void ssim_quantities_c(const std::uint8_t*, const std::uint8_t*, std::size_t, std::size_t,
                                double* const*);
template void ssim_quantities_c(const double*, const double*, std::size_t, std::size_t,
                                double* const*);

void ssim_columns_c(const double* const* rows, std::size_t begin, std::size_t end,
                    std::size_t width, double* v) {
    for (std::size_t c = begin; c < end; ++c) scalar_lanes::ssim_columns_lanes(rows, c, width, v);
}

void ssim_positions_c(const double* v, std::size_t width, std::size_t begin, std::size_t end,
                      double c1, double c2, double* ssim_sums, double* cs_sums) {
    // One lane at a time: the position's partial sum is the lane's block.
    for (std::size_t p = begin; p < end; ++p) {
        const std::size_t k = p % 8;
        scalar_lanes::ssim_positions_lanes(v, width, p, p + 1, c1, c2,
                                           ssim_sums != nullptr ? ssim_sums + k : nullptr,
                                           cs_sums != nullptr ? cs_sums + k : nullptr);
    }
}

namespace {

const SsimRowFns kPlainRows{ssim_quantities_c<std::int16_t>, ssim_quantities_c<std::uint8_t>,
                            ssim_quantities_c<double>, ssim_columns_c, ssim_positions_c};
constexpr std::size_t kStrip = 64;  // positions of a strip (see scale_sums)
constexpr std::size_t kRowDoubles = (4 + 4 * kSsimWindow) * (kStrip + kSsimWindow - 1);

}  // namespace

std::span<const KernelVariant<const SsimRowFns*>> ssim_variants() {
    static const std::vector<KernelVariant<const SsimRowFns*>> variants =
        with_plain_variant<const SsimRowFns*>({"plain", Isa::kPlain, &kPlainRows},
                                              ssim_x86_variants());
    return variants;
}

std::size_t ssim_scratch_doubles(std::size_t width, std::size_t height, bool multi_scale) {
    // Four rows of column sums and 11 rows of the four quantities, of a strip;
    // 8 partial sums of SSIM and of cs per row; for MS-SSIM, scales 2 to 5 of
    // both planes.
    std::size_t n = kRowDoubles + 16 * height;
    if (multi_scale)
        for (std::size_t k = 1; k < kMsSsimScales; ++k) n += 2 * (width >> k) * (height >> k);
    return n;
}

namespace {

struct ScaleSums {
    double ssim = 0, cs = 0;
    std::uint64_t positions = 0;
};

double sum_of_parts(const double* s) {
    return ((s[0] + s[1]) + (s[2] + s[3])) + ((s[4] + s[5]) + (s[6] + s[7]));
}

template <class Sample>
SsimQuantitiesFn<Sample> quantities_of(const SsimRowFns& fns) {
    if constexpr (std::is_same_v<Sample, std::int16_t>)
        return fns.quantities16;
    else if constexpr (std::is_same_v<Sample, std::uint8_t>)
        return fns.quantities8;
    else
        return fns.quantities_double;
}

// The sums of SSIM and cs (those asked for) over every position of one
// scale. The plane is taken in strips of kStrip positions, whose rows fit the
// first-level cache; each row keeps its 8 partial sums across the strips, so
// its positions are still added from left to right, and the rows' sums are
// added from top to bottom at the end.

template <class Sample>
ScaleSums scale_sums(SamplePlane<Sample> t, SamplePlane<Sample> r, std::size_t width,
                     std::size_t height, double c1, double c2, bool want_ssim, bool want_cs,
                     double* scratch) {
    static const SsimRowFns* const fns = best_variant(ssim_variants());
    const std::size_t positions = width - (kSsimWindow - 1);
    const std::size_t rows = height - (kSsimWindow - 1);
    const std::size_t strip_columns = std::min(width, kStrip + kSsimWindow - 1);
    double* v = scratch;                                          // 4 rows of column sums
    double* ring = v + 4 * strip_columns;                         // 11 rows of each quantity
    double* ssim_parts = ring + 4 * kSsimWindow * strip_columns;  // 8 per row
    double* cs_parts = ssim_parts + 8 * rows;
    std::fill(ssim_parts, ssim_parts + 16 * rows, 0.0);
    const auto ring_row = [&](std::size_t q, std::size_t slot) {
        return ring + (q * kSsimWindow + slot) * strip_columns;
    };
    for (std::size_t first = 0; first < positions; first += kStrip) {
        const std::size_t count = std::min(kStrip, positions - first);
        const std::size_t columns = count + kSsimWindow - 1;
        for (std::size_t y = 0; y < height; ++y) {
            const std::size_t slot = y % kSsimWindow;
            double* const out[4] = {ring_row(0, slot), ring_row(1, slot), ring_row(2, slot),
                                    ring_row(3, slot)};
            quantities_of<Sample> (*fns)(t.data + static_cast<std::ptrdiff_t>(y) * t.stride + first,
                                         r.data + static_cast<std::ptrdiff_t>(y) * r.stride + first,
                                         0, columns, out);
            if (y + 1 < kSsimWindow) continue;
            // The window's rows y - 10 .. y of each quantity, in order.
            const double* window[4 * kSsimWindow];
            for (std::size_t q = 0; q < 4; ++q)
                for (std::size_t i = 0; i < kSsimWindow; ++i)
                    window[q * kSsimWindow + i] = ring_row(q, (y + 1 + i) % kSsimWindow);
            const std::size_t row = y + 1 - kSsimWindow;
            fns->columns(window, 0, columns, strip_columns, v);
            fns->positions(v, strip_columns, 0, count, c1, c2,
                           want_ssim ? ssim_parts + 8 * row : nullptr,
                           want_cs ? cs_parts + 8 * row : nullptr);
        }
    }
    ScaleSums sums;
    for (std::size_t row = 0; row < rows; ++row) {
        sums.ssim += sum_of_parts(ssim_parts + 8 * row);
        sums.cs += sum_of_parts(cs_parts + 8 * row);
    }
    sums.positions = positions * rows;
    return sums;
}

// The 2 x 2 means of a plane (exact: sums of four values that are multiples
// of 2^-8 at most, divided by 4), into `out`, (width / 2) x (height / 2).
template <class Sample>
SamplePlane<double> halve(SamplePlane<Sample> p, std::size_t width, std::size_t height,
                          double* out) {
    const std::size_t w = width / 2, h = height / 2;
    for (std::size_t y = 0; y < h; ++y) {
        const Sample* a = p.data + static_cast<std::ptrdiff_t>(2 * y) * p.stride;
        const Sample* b = a + p.stride;
        for (std::size_t x = 0; x < w; ++x)
            out[y * w + x] = ((static_cast<double>(a[2 * x]) + static_cast<double>(a[2 * x + 1])) +
                              (static_cast<double>(b[2 * x]) + static_cast<double>(b[2 * x + 1]))) *
                             0.25;
    }
    return {out, static_cast<std::ptrdiff_t>(w)};
}

std::pair<double, double> constants(double peak) {
    return {(0.01 * peak) * (0.01 * peak), (0.03 * peak) * (0.03 * peak)};
}

template <class Sample>
SsimResult ssim_of(SamplePlane<Sample> t, SamplePlane<Sample> r, std::size_t width,
                   std::size_t height, double peak, double* scratch) {
    if (width < kSsimWindow || height < kSsimWindow) return {NAN, false};
    const auto [c1, c2] = constants(peak);
    const ScaleSums s = scale_sums(t, r, width, height, c1, c2, true, false, scratch);
    return {s.ssim / static_cast<double>(s.positions), false};
}

template <class Sample>
SsimResult ms_ssim_of(SamplePlane<Sample> t, SamplePlane<Sample> r, std::size_t width,
                      std::size_t height, double peak, double* scratch) {
    if (width < kMsSsimLeast || height < kMsSsimLeast) return {NAN, false};
    static constexpr double kWeights[kMsSsimScales] = {0.0448, 0.2856, 0.3001, 0.2363, 0.1333};
    const auto [c1, c2] = constants(peak);
    double* pyramid = scratch + kRowDoubles + 16 * height;
    double means[kMsSsimScales];
    const ScaleSums first = scale_sums(t, r, width, height, c1, c2, false, true, scratch);
    means[0] = first.cs / static_cast<double>(first.positions);
    SamplePlane<double> ts = halve(t, width, height, pyramid);
    SamplePlane<double> rs = halve(r, width, height, pyramid + (width / 2) * (height / 2));
    pyramid += 2 * (width / 2) * (height / 2);
    std::size_t w = width / 2, h = height / 2;
    for (std::size_t k = 1; k < kMsSsimScales; ++k) {
        const bool last = k + 1 == kMsSsimScales;
        const ScaleSums s = scale_sums(ts, rs, w, h, c1, c2, last, !last, scratch);
        means[k] = (last ? s.ssim : s.cs) / static_cast<double>(s.positions);
        if (last) break;
        ts = halve(ts, w, h, pyramid);
        rs = halve(rs, w, h, pyramid + (w / 2) * (h / 2));
        pyramid += 2 * (w / 2) * (h / 2);
        w /= 2;
        h /= 2;
    }
    SsimResult result{1.0, false};
    for (std::size_t k = 0; k < kMsSsimScales; ++k) {
        if (means[k] < 0) result.negative_mean = true;
        result.value =
            result.value * scalar_lanes::pow_(means[k] < 0 ? 0.0 : means[k], kWeights[k]);
    }
    return result;
}

}  // namespace

SsimResult plane_ssim(SamplePlane<std::int16_t> target, SamplePlane<std::int16_t> reference,
                      std::size_t width, std::size_t height, double peak, double* scratch) {
    return ssim_of(target, reference, width, height, peak, scratch);
}
SsimResult plane_ssim(SamplePlane<std::uint8_t> target, SamplePlane<std::uint8_t> reference,
                      std::size_t width, std::size_t height, double peak, double* scratch) {
    return ssim_of(target, reference, width, height, peak, scratch);
}
SsimResult plane_ms_ssim(SamplePlane<std::int16_t> target, SamplePlane<std::int16_t> reference,
                         std::size_t width, std::size_t height, double peak, double* scratch) {
    return ms_ssim_of(target, reference, width, height, peak, scratch);
}
SsimResult plane_ms_ssim(SamplePlane<std::uint8_t> target, SamplePlane<std::uint8_t> reference,
                         std::size_t width, std::size_t height, double peak, double* scratch) {
    return ms_ssim_of(target, reference, width, height, peak, scratch);
}

}  // namespace rawframes
