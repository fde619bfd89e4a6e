// The C interface over the suite's kernels: each conversion row by row on
// planes with strides, through the same row functions the programs use.
#include "rawframes.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "ciede2000.hpp"
#include "cpu.hpp"
#include "geometry.hpp"
#include "pixel_format.hpp"
#include "rgb10_to_yuv420_kernel.hpp"
#include "snr.hpp"
#include "ssim.hpp"
#include "ycocg_r.hpp"
#include "ycocg_r_inverse.hpp"
#include "yuv420_to_rgb_kernel.hpp"

using namespace rawframes;

namespace {

template <class T>
const T* row(const rawframes_input_plane& p, std::size_t y) {
    return reinterpret_cast<const T*>(static_cast<const unsigned char*>(p.data) +
                                      static_cast<std::ptrdiff_t>(y) * p.stride);
}
template <class T>
T* row(const rawframes_output_plane& p, std::size_t y) {
    return reinterpret_cast<T*>(static_cast<unsigned char*>(p.data) +
                                static_cast<std::ptrdiff_t>(y) * p.stride);
}

bool usable(const FrameGeometry& g) {
    return check_geometry(g).empty();
}
// A plane of `sample_bytes` samples: its rows start at addresses its samples
// may be read from.
template <class Plane>
bool usable(const Plane& plane, std::size_t sample_bytes) {
    return plane.data != nullptr &&
           reinterpret_cast<std::uintptr_t>(plane.data) % sample_bytes == 0 &&
           plane.stride % static_cast<std::ptrdiff_t>(sample_bytes) == 0;
}
template <class Plane>
bool usable(const Plane* planes, std::size_t sample_bytes) {
    if (planes == nullptr) return false;
    for (int k = 0; k < 3; ++k)
        if (!usable(planes[k], sample_bytes)) return false;
    return true;
}

// Copies the input rows into the output rows, then transforms them there in
// place: the YCoCg-R transform and its inverse.
template <class Fn>
int in_place_rows(const rawframes_input_plane in[3], const rawframes_output_plane out[3],
                  std::int32_t width, std::int32_t height, std::uint64_t* count, Fn transform) {
    const FrameGeometry g{width, height};
    if (!usable(g) || !usable(in, 2) || !usable(out, 2)) return RAWFRAMES_INVALID;
    const std::size_t w = static_cast<std::size_t>(width);
    std::uint64_t total = 0;
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
        std::uint16_t* rows[3];
        for (int k = 0; k < 3; ++k) {
            rows[k] = row<std::uint16_t>(out[k], y);
            std::memmove(rows[k], row<std::uint16_t>(in[k], y), w * sizeof(std::uint16_t));
        }
        total += transform(rows[0], rows[1], rows[2], w);
    }
    if (count != nullptr) *count = total;
    return RAWFRAMES_OK;
}

const PixelFormat* format_of(rawframes_format f) {
    switch (f) {
        case RAWFRAMES_YUV10:
            return &kYuv10;
        case RAWFRAMES_RGB10:
            return &kRgb10;
        case RAWFRAMES_RGB8:
            return &kRgb8;
        case RAWFRAMES_YUV420:
            return &kYuv420;
    }
    return nullptr;
}

}  // namespace

extern "C" {

const char* rawframes_version(void) {
    return RAWFRAMES_VERSION;
}

const char* rawframes_isa(void) {
    for (const Isa isa : {Isa::kAvx512, Isa::kAvx2})
        if (cpu_supports(isa)) return isa_name(isa);
    return isa_name(Isa::kPlain);
}

const char* rawframes_isa_cap(void) {
    const char* value = std::getenv("RAWFRAMES_ISA");
    if (value == nullptr) return "";
    for (const Isa isa : {Isa::kPlain, Isa::kAvx2, Isa::kAvx512})
        if (std::strcmp(value, isa_name(isa)) == 0) return isa_name(isa);
    return "";
}

int rawframes_rgb10_to_yuv10(const rawframes_input_plane rgb[3],
                             const rawframes_output_plane yuv10[3], int32_t width, int32_t height,
                             uint64_t* above) {
    static const YCoCgRPlanesFn fn = best_variant(ycocg_r_variants());
    return in_place_rows(rgb, yuv10, width, height, above, fn);
}

int rawframes_yuv10_to_rgb10(const rawframes_input_plane yuv10[3],
                             const rawframes_output_plane rgb[3], int32_t width, int32_t height,
                             uint64_t* clamped) {
    static const YCoCgRInversePlanesFn fn = best_variant(ycocg_r_inverse_variants());
    return in_place_rows(yuv10, rgb, width, height, clamped, fn);
}

int rawframes_dovrak(const rawframes_input_plane rgb[3], const rawframes_output_plane yuv420[3],
                     int32_t width, int32_t height, uint64_t* above) {
    const FrameGeometry g{width, height};
    if (!usable(g) || !usable(rgb, 2) || !usable(yuv420, 1)) return RAWFRAMES_INVALID;
    static const Rgb10ToYuv420PixelsFn pixels = best_variant(rgb10_to_yuv420_pixels_variants());
    static const Rgb10ToYuv420AverageFn average = best_variant(rgb10_to_yuv420_average_variants());
    const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    // The R and B samples of two rows, which become Cr and Cb codes.
    std::vector<std::uint16_t> scratch;
    try {
        scratch.resize(4 * w);
    } catch (const std::bad_alloc&) {
        return RAWFRAMES_NO_MEMORY;
    }
    std::uint16_t* r[2] = {scratch.data(), scratch.data() + w};
    std::uint16_t* b[2] = {scratch.data() + 2 * w, scratch.data() + 3 * w};
    std::uint64_t total = 0;
    for (std::size_t y = 0, j = 0; y < h; y += 2, ++j) {
        const std::size_t rows = y + 1 < h ? 2 : 1;
        for (std::size_t k = 0; k < rows; ++k) {
            std::memcpy(r[k], row<std::uint16_t>(rgb[0], y + k), w * sizeof(std::uint16_t));
            std::memcpy(b[k], row<std::uint16_t>(rgb[2], y + k), w * sizeof(std::uint16_t));
            total += pixels(r[k], row<std::uint16_t>(rgb[1], y + k), b[k],
                            row<std::uint8_t>(yuv420[0], y + k), w);
        }
        const std::size_t bottom = rows == 2 ? 1 : 0;
        average(b[0], b[bottom], w, row<std::uint8_t>(yuv420[1], j));
        average(r[0], r[bottom], w, row<std::uint8_t>(yuv420[2], j));
    }
    if (above != nullptr) *above = total;
    return RAWFRAMES_OK;
}

int rawframes_yuv420_to_rgb(const rawframes_input_plane yuv420[3],
                            const rawframes_output_plane rgb8[3], int32_t width, int32_t height) {
    const FrameGeometry g{width, height};
    if (!usable(g) || !usable(yuv420, 1) || !usable(rgb8, 1)) return RAWFRAMES_INVALID;
    static const Yuv420RowFn fn = best_variant(yuv420_row_variants());
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y)
        fn(row<std::uint8_t>(yuv420[0], y), row<std::uint8_t>(yuv420[1], y / 2),
           row<std::uint8_t>(yuv420[2], y / 2), row<std::uint8_t>(rgb8[0], y),
           row<std::uint8_t>(rgb8[1], y), row<std::uint8_t>(rgb8[2], y),
           static_cast<std::size_t>(width));
    return RAWFRAMES_OK;
}

int rawframes_plane_sse(rawframes_format format, int plane, rawframes_input_plane target,
                        rawframes_input_plane reference, int32_t width, int32_t height,
                        rawframes_sse* sse) {
    const PixelFormat* f = format_of(format);
    const FrameGeometry g{width, height};
    if (f == nullptr || plane < 0 || plane > 2 || !usable(g) || !usable(target, f->sample_bytes) ||
        !usable(reference, f->sample_bytes) || sse == nullptr)
        return RAWFRAMES_INVALID;
    static const SquaredErrorFn sse16 = best_variant(squared_error_variants());
    static const SquaredError8Fn sse8 = best_variant(squared_error8_variants());
    const std::uint32_t p = static_cast<std::uint32_t>(plane);
    const std::size_t w = plane_width(*f, g, p), h = plane_height(*f, g, p);
    Sse total = 0;
    for (std::size_t y = 0; y < h; ++y)
        total += f->sample_bytes == 2
                     ? sse16(row<std::int16_t>(target, y), row<std::int16_t>(reference, y), w)
                     : sse8(row<std::uint8_t>(target, y), row<std::uint8_t>(reference, y), w);
    sse->high = static_cast<std::uint64_t>(total >> 64);
    sse->low = static_cast<std::uint64_t>(total);
    return RAWFRAMES_OK;
}

double rawframes_plane_snr(rawframes_format format, int plane, rawframes_sse sse, int32_t width,
                           int32_t height) {
    const PixelFormat* f = format_of(format);
    const FrameGeometry g{width, height};
    if (f == nullptr || plane < 0 || plane > 2 || !usable(g)) return NAN;
    const bool classic = format == RAWFRAMES_YUV10;
    const Sse exact = (Sse{sse.high} << 64) | sse.low;
    if (exact == 0) return classic ? 0.0 : INFINITY;
    const std::uint32_t p = static_cast<std::uint32_t>(plane);
    const double peak = f->planes[p].peak;
    const double snr =
        snr_db(static_cast<double>(exact), static_cast<std::int32_t>(plane_width(*f, g, p)),
               static_cast<std::int32_t>(plane_height(*f, g, p)), static_cast<float>(peak * peak));
    return classic && plane == 0 ? static_cast<double>(static_cast<float>(snr)) : snr;
}

namespace {

// The SSIM or MS-SSIM of a plane through plane_ssim/plane_ms_ssim.
int plane_measure(rawframes_format format, int plane, rawframes_input_plane target,
                  rawframes_input_plane reference, int32_t width, int32_t height, double* value,
                  bool multi_scale) {
    const PixelFormat* f = format_of(format);
    const FrameGeometry g{width, height};
    if (f == nullptr || plane < 0 || plane > 2 || !usable(g) || !usable(target, f->sample_bytes) ||
        !usable(reference, f->sample_bytes) || value == nullptr)
        return RAWFRAMES_INVALID;
    const std::uint32_t p = static_cast<std::uint32_t>(plane);
    const std::size_t w = plane_width(*f, g, p), h = plane_height(*f, g, p);
    std::vector<double> scratch;
    try {
        scratch.resize(ssim_scratch_doubles(w, h, multi_scale));
    } catch (const std::bad_alloc&) {
        return RAWFRAMES_NO_MEMORY;
    }
    const double peak = f->planes[p].peak;
    const auto samples = [&](const rawframes_input_plane& plane_) {
        return plane_.stride / static_cast<std::ptrdiff_t>(f->sample_bytes);
    };
    SsimResult r;
    if (f->sample_bytes == 2) {
        const SamplePlane<std::int16_t> t{static_cast<const std::int16_t*>(target.data),
                                          samples(target)};
        const SamplePlane<std::int16_t> ref{static_cast<const std::int16_t*>(reference.data),
                                            samples(reference)};
        r = multi_scale ? plane_ms_ssim(t, ref, w, h, peak, scratch.data())
                        : plane_ssim(t, ref, w, h, peak, scratch.data());
    } else {
        const SamplePlane<std::uint8_t> t{static_cast<const std::uint8_t*>(target.data),
                                          samples(target)};
        const SamplePlane<std::uint8_t> ref{static_cast<const std::uint8_t*>(reference.data),
                                            samples(reference)};
        r = multi_scale ? plane_ms_ssim(t, ref, w, h, peak, scratch.data())
                        : plane_ssim(t, ref, w, h, peak, scratch.data());
    }
    *value = r.value;
    return RAWFRAMES_OK;
}

}  // namespace

int rawframes_plane_ssim(rawframes_format format, int plane, rawframes_input_plane target,
                         rawframes_input_plane reference, int32_t width, int32_t height,
                         double* ssim) {
    return plane_measure(format, plane, target, reference, width, height, ssim, false);
}

int rawframes_plane_ms_ssim(rawframes_format format, int plane, rawframes_input_plane target,
                            rawframes_input_plane reference, int32_t width, int32_t height,
                            double* ms_ssim) {
    return plane_measure(format, plane, target, reference, width, height, ms_ssim, true);
}

int rawframes_ciede2000(rawframes_format format, const rawframes_input_plane target[3],
                        const rawframes_input_plane reference[3], int32_t width, int32_t height,
                        double* mean, double* max, uint64_t* clamped) {
    const PixelFormat* f = format_of(format);
    const FrameGeometry g{width, height};
    if ((format != RAWFRAMES_RGB10 && format != RAWFRAMES_RGB8) || !usable(g) ||
        !usable(target, f->sample_bytes) || !usable(reference, f->sample_bytes) ||
        mean == nullptr || max == nullptr)
        return RAWFRAMES_INVALID;
    std::vector<double> scratch;
    try {
        scratch.resize(ciede2000_scratch_doubles(static_cast<std::size_t>(width)));
    } catch (const std::bad_alloc&) {
        return RAWFRAMES_NO_MEMORY;
    }
    const auto w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    const int peak = static_cast<int>(f->planes[0].peak);
    ColourDifference d;
    if (f->sample_bytes == 2) {
        SamplePlane<std::int16_t> t[3], ref[3];
        for (int k = 0; k < 3; ++k) {
            t[k] = {static_cast<const std::int16_t*>(target[k].data), target[k].stride / 2};
            ref[k] = {static_cast<const std::int16_t*>(reference[k].data), reference[k].stride / 2};
        }
        d = frame_ciede2000(t, ref, w, h, peak, scratch.data());
    } else {
        SamplePlane<std::uint8_t> t[3], ref[3];
        for (int k = 0; k < 3; ++k) {
            t[k] = {static_cast<const std::uint8_t*>(target[k].data), target[k].stride};
            ref[k] = {static_cast<const std::uint8_t*>(reference[k].data), reference[k].stride};
        }
        d = frame_ciede2000(t, ref, w, h, peak, scratch.data());
    }
    *mean = d.mean;
    *max = d.max;
    if (clamped != nullptr) *clamped = d.clamped;
    return RAWFRAMES_OK;
}

}  // extern "C"
