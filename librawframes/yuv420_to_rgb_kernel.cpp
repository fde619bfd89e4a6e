#include "yuv420_to_rgb_kernel.hpp"

#include <vector>

#include "pixel_format.hpp"
#include "yuv420_to_rgb_constants.hpp"

namespace rawframes {

namespace {

using namespace yuv420_constants;

template <class T>
std::uint8_t clamp_to_byte(T v) {
    if (!(v >= T{0})) v = T{0};  // negative or NaN
    if (v > T{255}) v = T{255};
    return static_cast<std::uint8_t>(static_cast<int>(v));
}

}  // namespace

Rgb8 yuv_to_rgb_pixel(std::uint8_t Y, std::uint8_t Cb, std::uint8_t Cr) {
    const double inv255 = kInv255;
    const double y = Y * inv255;
    const float r = static_cast<float>(((Cr - 128) * inv255) * double{kCrGain} + y);
    const float b = static_cast<float>(((Cb - 128) * inv255) * double{kCbGain} + y);
    const double g =
        ((y - double{r} * double{kWeightR}) - double{b} * double{kWeightB}) * double{kInvWeightG};
    const float rs = static_cast<float>(double{r} * 255.0);
    const float gs = static_cast<float>(g * 255.0);
    const double bs = double{b} * 255.0;
    return Rgb8{clamp_to_byte(rs), clamp_to_byte(gs), clamp_to_byte(bs)};
}

void yuv420_row_c(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                  std::uint8_t* r, std::uint8_t* g, std::uint8_t* b, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x) {
        const Rgb8 p = yuv_to_rgb_pixel(y[x], cb[x / 2], cr[x / 2]);
        r[x] = p.r;
        g[x] = p.g;
        b[x] = p.b;
    }
}

std::span<const KernelVariant<Yuv420RowFn>> yuv420_row_variants() {
    static const std::vector<KernelVariant<Yuv420RowFn>> variants = with_plain_variant<Yuv420RowFn>(
        {"plain", Isa::kPlain, yuv420_row_c}, yuv420_row_x86_variants());
    return variants;
}

void yuv420_to_rgb_frame(const std::uint8_t* in, std::uint8_t* out, const FrameGeometry& g) {
    const std::size_t w = static_cast<std::size_t>(g.width);
    const std::size_t h = static_cast<std::size_t>(g.height);
    const std::size_t n = static_cast<std::size_t>(g.pixels());
    const std::size_t cw = static_cast<std::size_t>(g.chroma_width());
    const std::uint8_t* cb = in + plane_offset(kYuv420, g, 1);
    const std::uint8_t* cr = in + plane_offset(kYuv420, g, 2);
    static const Yuv420RowFn row_fn = best_variant(yuv420_row_variants());
    for (std::size_t row = 0; row < h; ++row) {
        const std::size_t at = row * w;
        const std::size_t c = (row / 2) * cw;
        row_fn(in + at, cb + c, cr + c, out + at, out + n + at, out + 2 * n + at, w);
    }
}

}  // namespace rawframes
