// Differential fuzzing of the kernels: every variant this processor supports
// must give the plain version's results on arbitrary input, and whole frames of
// tiny and odd sizes must convert without touching memory outside their buffers.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cpu.hpp"
#include "rgb10_to_yuv420_kernel.hpp"
#include "snr.hpp"
#include "ycocg_r.hpp"
#include "yuv420_kernel.hpp"

using namespace rawframes;

namespace {

template <class T>
std::vector<T> take(const std::uint8_t*& data, std::size_t& size, std::size_t count) {
    std::vector<T> v(count);
    const std::size_t bytes = std::min(size, count * sizeof(T));
    std::memcpy(v.data(), data, bytes);
    data += bytes;
    size -= bytes;
    return v;
}

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const unsigned which = data[0] % 5;
    const std::size_t n = 1 + (data[1] | (data[2] << 8)) % 700;
    data += 3;
    size -= 3;
    switch (which) {
        case 0: {
            auto r = take<std::uint16_t>(data, size, n), g = take<std::uint16_t>(data, size, n),
                 b = take<std::uint16_t>(data, size, n);
            auto r0 = r, g0 = g, b0 = b;
            ycocg_r_planes_c(r0.data(), g0.data(), b0.data(), n);
            for (const auto& v : ycocg_r_variants()) {
                if (!cpu_supports(v.isa)) continue;
                auto r1 = r, g1 = g, b1 = b;
                v.fn(r1.data(), g1.data(), b1.data(), n);
                check(r1 == r0 && g1 == g0 && b1 == b0);
            }
            break;
        }
        case 1: {
            const auto t = take<std::int16_t>(data, size, n), r = take<std::int16_t>(data, size, n);
            const std::uint64_t want = squared_error_c(t.data(), r.data(), n);
            for (const auto& v : squared_error_variants())
                if (cpu_supports(v.isa)) check(v.fn(t.data(), r.data(), n) == want);
            break;
        }
        case 2: {
            auto r = take<std::uint16_t>(data, size, n), b = take<std::uint16_t>(data, size, n);
            const auto g = take<std::uint16_t>(data, size, n);
            std::vector<std::uint8_t> y0(n), y1(n);
            auto r0 = r, b0 = b;
            rgb10_to_yuv420_pixels_c(r0.data(), g.data(), b0.data(), y0.data(), n);
            for (const auto& v : rgb10_to_yuv420_pixels_variants()) {
                if (!cpu_supports(v.isa)) continue;
                auto r1 = r, b1 = b;
                v.fn(r1.data(), g.data(), b1.data(), y1.data(), n);
                check(r1 == r0 && b1 == b0 && y1 == y0);
            }
            break;
        }
        case 3: {
            const auto y = take<std::uint8_t>(data, size, n);
            const auto cb = take<std::uint8_t>(data, size, (n + 1) / 2),
                       cr = take<std::uint8_t>(data, size, (n + 1) / 2);
            std::vector<std::uint8_t> want(3 * n), got(3 * n);
            yuv420_row_c(y.data(), cb.data(), cr.data(), want.data(), want.data() + n,
                         want.data() + 2 * n, n);
            for (const auto& v : yuv420_row_variants()) {
                if (!cpu_supports(v.isa)) continue;
                v.fn(y.data(), cb.data(), cr.data(), got.data(), got.data() + n, got.data() + 2 * n,
                     n);
                check(got == want);
            }
            break;
        }
        default: {
            // Whole frames of 1..26 x 1..26 pixels through both converters.
            const FrameGeometry g{static_cast<std::int32_t>(1 + n % 26),
                                  static_cast<std::int32_t>(1 + (n / 26) % 26)};
            auto rgb = take<std::uint16_t>(data, size, 3 * g.pixels());
            std::vector<std::uint8_t> yuv(g.yuv420_bytes()), out(g.planar8_bytes());
            rgb10_to_yuv420_frame(rgb.data(), yuv.data(), g);
            yuv420_to_rgb_frame(yuv.data(), out.data(), g);
            break;
        }
    }
    return 0;
}
