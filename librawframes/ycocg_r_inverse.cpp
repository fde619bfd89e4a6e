#include "ycocg_r_inverse.hpp"

#include <vector>

namespace rawframes {

namespace {
inline std::uint16_t clamp_10bit(std::int32_t v, std::uint64_t& clamped) {
    if (v < 0 || v > 1023) {
        ++clamped;
        return v < 0 ? 0 : 1023;
    }
    return static_cast<std::uint16_t>(v);
}
}  // namespace

std::uint64_t ycocg_r_inverse_planes_c(std::uint16_t* p0, std::uint16_t* p1, std::uint16_t* p2,
                                       std::size_t n) {
    std::uint64_t clamped = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t co = std::int32_t{p0[i]} - 1024;
        const std::int32_t y = p1[i];
        const std::int32_t cg = std::int32_t{p2[i]} - 1024;
        const std::int32_t t = y - (cg >> 1);
        const std::int32_t g = cg + t;
        const std::int32_t b = t - (co >> 1);
        const std::int32_t r = b + co;
        p0[i] = clamp_10bit(r, clamped);
        p1[i] = clamp_10bit(g, clamped);
        p2[i] = clamp_10bit(b, clamped);
    }
    return clamped;
}

std::span<const KernelVariant<YCoCgRInversePlanesFn>> ycocg_r_inverse_variants() {
    static const std::vector<KernelVariant<YCoCgRInversePlanesFn>> variants =
        with_plain_variant<YCoCgRInversePlanesFn>({"plain", Isa::kPlain, ycocg_r_inverse_planes_c},
                                                  ycocg_r_inverse_x86_variants());
    return variants;
}

std::uint64_t ycocg_r_inverse_frame(std::uint16_t* frame, const FrameGeometry& g) {
    const std::size_t n = static_cast<std::size_t>(g.pixels());
    static const YCoCgRInversePlanesFn planes = best_variant(ycocg_r_inverse_variants());
    return planes(frame, frame + n, frame + 2 * n, n);
}

}  // namespace rawframes
