#include "ycocg_r.hpp"

#include <algorithm>
#include <vector>

#include "sample_range.hpp"

namespace rawframes {

namespace {
inline std::int32_t clamp_to(std::int32_t v, std::int32_t hi) {
    return v > hi ? hi : (v < 0 ? 0 : v);
}
}  // namespace

void ycocg_r_planes_c(std::uint16_t* r, std::uint16_t* g, std::uint16_t* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t R = r[i], G = g[i], B = b[i];
        const std::int32_t co = R - B;
        const std::int32_t t = B + (co >> 1);
        const std::int32_t cg = G - t;
        const std::int32_t y = t + (cg >> 1);
        g[i] = static_cast<std::uint16_t>(clamp_to(y, 1023));
        r[i] = static_cast<std::uint16_t>(clamp_to(co + 1024, 2047));
        b[i] = static_cast<std::uint16_t>(clamp_to(cg + 1024, 2047));
    }
}

std::span<const KernelVariant<YCoCgRPlanesFn>> ycocg_r_variants() {
    static const std::vector<KernelVariant<YCoCgRPlanesFn>> variants =
        with_plain_variant<YCoCgRPlanesFn>({"plain", Isa::kPlain, ycocg_r_planes_c},
                                           ycocg_r_x86_variants());
    return variants;
}

std::uint64_t ycocg_r_frame(std::uint16_t* frame, const FrameGeometry& g) {
    if (g.height <= 0 || g.width <= 0) return 0;
    const std::size_t n = static_cast<std::size_t>(g.pixels());
    static const YCoCgRPlanesFn planes = best_variant(ycocg_r_variants());
    // In runs whose samples are still in cache when the transform reads them
    // after they have been counted.
    constexpr std::size_t kRun = 8192;
    std::uint64_t above = 0;
    std::uint16_t *r = frame, *gp = frame + n, *b = frame + 2 * n;
    for (std::size_t i = 0; i < n; i += kRun) {
        const std::size_t m = std::min(kRun, n - i);
        above += count_above(r + i, m, 1023) + count_above(gp + i, m, 1023) +
                 count_above(b + i, m, 1023);
        planes(r + i, gp + i, b + i, m);
    }
    return above;
}

}  // namespace rawframes
