#include "ycocg_r.hpp"

#include <vector>

namespace rawframes {

namespace {
inline std::int32_t clamp_to(std::int32_t v, std::int32_t hi) {
    return v > hi ? hi : (v < 0 ? 0 : v);
}
}  // namespace

std::uint64_t ycocg_r_planes_c(std::uint16_t* r, std::uint16_t* g, std::uint16_t* b,
                               std::size_t n) {
    std::uint64_t above = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t R = r[i], G = g[i], B = b[i];
        above += (R > 1023) + (G > 1023) + (B > 1023);
        const std::int32_t co = R - B;
        const std::int32_t t = B + (co >> 1);
        const std::int32_t cg = G - t;
        const std::int32_t y = t + (cg >> 1);
        g[i] = static_cast<std::uint16_t>(clamp_to(y, 1023));
        r[i] = static_cast<std::uint16_t>(clamp_to(co + 1024, 2047));
        b[i] = static_cast<std::uint16_t>(clamp_to(cg + 1024, 2047));
    }
    return above;
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
    return planes(frame, frame + n, frame + 2 * n, n);
}

}  // namespace rawframes
