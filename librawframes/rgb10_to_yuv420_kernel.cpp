#include "rgb10_to_yuv420_kernel.hpp"

#include <vector>

#include "pixel_format.hpp"
#include "rgb10_to_yuv420_constants.hpp"

namespace rawframes {

namespace {

using namespace rgb10_to_yuv420_constants;

inline std::uint16_t average(unsigned sum, unsigned count) {
    return static_cast<std::uint16_t>((sum + count / 2) / count);
}

}  // namespace

YCbCrCodes rgb10_to_yuv420_pixel(std::uint16_t r, std::uint16_t g, std::uint16_t b) {
    const double s = kScale;
    const double R = r * s;
    const double G = g * s;
    const double B = b * s;
    const double gw = G * double{kWeightG};
    const double bw = B * double{kWeightB};
    const double rw = R * double{kWeightR};
    float ys = static_cast<float>((gw + bw) + rw);
    float cb = static_cast<float>((B - double{ys}) * double{kCbFactor});
    double cr = (R - double{ys}) * double{kCrFactor};
    if (ys < 0.0f) {
        ys = 0.0f;
    } else if (ys > 1.0f) {
        ys = 1.0f;
    }
    if (cb < -0.5f) cb = -0.5f;
    if (cb > 0.5f) cb = 0.5f;
    if (cr < -0.5) cr = -0.5;
    if (cr > 0.5) cr = 0.5;
    YCbCrCodes c;
    c.y = static_cast<std::uint8_t>(static_cast<int>(double{ys} * 255.0));
    c.cr = static_cast<std::uint8_t>(128 - static_cast<int>(cr * -255.0));
    c.cb = static_cast<std::uint8_t>(128 - static_cast<int>(double{cb} * -255.0));
    return c;
}

std::uint64_t rgb10_to_yuv420_pixels_c(std::uint16_t* r, const std::uint16_t* g, std::uint16_t* b,
                                       std::uint8_t* y, std::size_t n) {
    std::uint64_t above = 0;
    for (std::size_t i = 0; i < n; ++i) {
        above += (r[i] > 1023) + (g[i] > 1023) + (b[i] > 1023);
        const YCbCrCodes c = rgb10_to_yuv420_pixel(r[i], g[i], b[i]);
        y[i] = c.y;
        r[i] = c.cr;
        b[i] = c.cb;
    }
    return above;
}

void rgb10_to_yuv420_average_row_c(const std::uint16_t* top, const std::uint16_t* bottom,
                                   std::size_t width, std::uint8_t* out) {
    const unsigned rows = top == bottom ? 1 : 2;
    std::size_t x = 0, k = 0;
    for (; x + 1 < width; x += 2, ++k) {
        const unsigned sum = rows == 2 ? unsigned{top[x]} + top[x + 1] + bottom[x] + bottom[x + 1]
                                       : unsigned{top[x]} + top[x + 1];
        out[k] = static_cast<std::uint8_t>(average(sum, 2 * rows));
    }
    if (x < width) {
        const unsigned sum = rows == 2 ? unsigned{top[x]} + bottom[x] : unsigned{top[x]};
        out[k] = static_cast<std::uint8_t>(average(sum, rows));
    }
}

std::span<const KernelVariant<Rgb10ToYuv420PixelsFn>> rgb10_to_yuv420_pixels_variants() {
    static const std::vector<KernelVariant<Rgb10ToYuv420PixelsFn>> variants =
        with_plain_variant<Rgb10ToYuv420PixelsFn>({"plain", Isa::kPlain, rgb10_to_yuv420_pixels_c},
                                                  rgb10_to_yuv420_pixels_x86_variants());
    return variants;
}

std::span<const KernelVariant<Rgb10ToYuv420AverageFn>> rgb10_to_yuv420_average_variants() {
    static const std::vector<KernelVariant<Rgb10ToYuv420AverageFn>> variants =
        with_plain_variant<Rgb10ToYuv420AverageFn>(
            {"plain", Isa::kPlain, rgb10_to_yuv420_average_row_c},
            rgb10_to_yuv420_average_x86_variants());
    return variants;
}

std::uint64_t rgb10_to_yuv420_frame(std::uint16_t* frame, std::uint8_t* out,
                                    const FrameGeometry& g) {
    const std::size_t w = static_cast<std::size_t>(g.width);
    const std::size_t h = static_cast<std::size_t>(g.height);
    const std::size_t n = static_cast<std::size_t>(g.pixels());
    const std::size_t cw = static_cast<std::size_t>(g.chroma_width());
    std::uint16_t* rp = frame;
    const std::uint16_t* gp = frame + n;
    std::uint16_t* bp = frame + 2 * n;
    std::uint8_t* cb_out = out + plane_offset(kYuv420, g, 1);
    std::uint8_t* cr_out = out + plane_offset(kYuv420, g, 2);
    static const Rgb10ToYuv420PixelsFn pixels = best_variant(rgb10_to_yuv420_pixels_variants());
    static const Rgb10ToYuv420AverageFn average_row =
        best_variant(rgb10_to_yuv420_average_variants());
    // Each block row depends only on its own two pixel rows, so the per-pixel
    // pass and the averaging run one pair of rows at a time while the rows are
    // still in cache.
    std::uint64_t above = 0;
    for (std::size_t y = 0, j = 0; y < h; y += 2, ++j) {
        const std::size_t rows = y + 1 < h ? 2 : 1;
        const std::size_t at = y * w;
        above += pixels(rp + at, gp + at, bp + at, out + at, rows * w);
        const std::size_t below = rows == 2 ? at + w : at;
        average_row(bp + at, bp + below, w, cb_out + j * cw);
        average_row(rp + at, rp + below, w, cr_out + j * cw);
    }
    return above;
}

}  // namespace rawframes
