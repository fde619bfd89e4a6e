// Long checks, run by hand (ctest --preset long): every one of the 2^30 10-bit
// (R, G, B) inputs through every dovrak pixel variant this processor supports,
// compared with the plain kernel and with the step-by-step transcription; and
// through the YCoCg-R transform and back through every variant of its inverse.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "rgb10_to_yuv420_kernel.hpp"
#include "transcription.hpp"
#include "ycocg_r.hpp"
#include "ycocg_r_inverse.hpp"

using namespace rawframes;

namespace {

using Row = std::vector<std::uint16_t>;

// The 1024 inputs with R = vr, G = vg and every B, as three planes.
void every_blue(unsigned vr, unsigned vg, Row& r, Row& g, Row& b) {
    for (unsigned vb = 0; vb < 1024; ++vb) {
        r[vb] = static_cast<std::uint16_t>(vr);
        g[vb] = static_cast<std::uint16_t>(vg);
        b[vb] = static_cast<std::uint16_t>(vb);
    }
}

}  // namespace

TEST(DovrakExhaustive, AllTenBitInputsAgreeInEveryVariant) {
    std::vector<std::uint16_t> r(1024), g(1024), b(1024), r2(1024), b2(1024);
    std::vector<std::uint8_t> y(1024), y2(1024);
    std::uint64_t mismatches = 0, checked = 0;
    for (unsigned vr = 0; vr < 1024; ++vr) {
        for (unsigned vg = 0; vg < 1024; ++vg) {
            every_blue(vr, vg, r, g, b);
            r2 = r, b2 = b;
            rgb10_to_yuv420_pixels_c(r.data(), g.data(), b.data(), y.data(), 1024);
            for (unsigned vb = 0; vb < 1024; ++vb) {
                const auto t = transcription::rgb_to_codes(vr, vg, vb);
                mismatches += t.y != y[vb] || t.cr != r[vb] || t.cb != b[vb];
            }
            for (const auto& v : rgb10_to_yuv420_pixels_variants()) {
                if (v.isa == Isa::kPlain || !cpu_supports(v.isa)) continue;
                auto rv = r2, bv = b2;
                v.fn(rv.data(), g.data(), bv.data(), y2.data(), 1024);
                mismatches += rv != r || bv != b || y2 != y;
            }
            checked += 1024;
        }
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(checked, 1u << 30);
}

TEST(YCoCgRExhaustive, EveryTenBitInputComesBackFromEveryInverseVariant) {
    std::vector<std::uint16_t> r(1024), g(1024), b(1024), p0, p1, p2;
    std::uint64_t mismatches = 0, clamped = 0, checked = 0;
    for (unsigned vr = 0; vr < 1024; ++vr) {
        for (unsigned vg = 0; vg < 1024; ++vg) {
            every_blue(vr, vg, r, g, b);
            std::vector<std::uint16_t> c0 = r, c1 = g, c2 = b;
            ycocg_r_planes_c(c0.data(), c1.data(), c2.data(), 1024);
            for (const auto& v : ycocg_r_inverse_variants()) {
                if (!cpu_supports(v.isa)) continue;
                p0 = c0, p1 = c1, p2 = c2;
                clamped += v.fn(p0.data(), p1.data(), p2.data(), 1024);
                mismatches += p0 != r || p1 != g || p2 != b;
            }
            checked += 1024;
        }
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(clamped, 0u);
    EXPECT_EQ(checked, 1u << 30);
}
