// Pixel formats as data. Every raw frame layout the suite reads or writes is
// one PixelFormat constant: its three planes (names and peaks, in file order),
// the size of a sample, whether the last two planes are subsampled 2 x 2, and
// its YUV4MPEG2 form when it has one. Plane sizes, offsets and frame sizes
// follow from a format and a FrameGeometry; adding a format is adding a
// constant here.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "geometry.hpp"

namespace rawframes {

struct PlaneInfo {
    const char* name;    // as reports name it ("R", "Y", "Cb", ...)
    std::uint32_t peak;  // the largest value of the plane's range
};

struct PixelFormat {
    const char* name;            // as --format names it
    std::uint32_t sample_bytes;  // 1, or 2 for 16-bit little-endian samples
    // Planes 1 and 2 hold one sample per 2 x 2 block: CW x CH samples with
    // CW = (W + 1) / 2 and CH = (H + 1) / 2, so odd sizes cover every pixel.
    bool chroma_420;
    std::array<PlaneInfo, 3> planes;
    // YUV4MPEG2 form: the colour-space tags read as this format (the first is
    // the one written; empty when the format has no y4m form), the words a
    // message describes them with, what follows "C" in a written header, and
    // which plane of the raw frame each y4m plane is (y4m puts luma first).
    std::array<const char*, 4> y4m_tags;
    const char* y4m_description;
    const char* y4m_header_tail;
    std::array<std::uint32_t, 3> y4m_plane;
};

// 10-bit R, G, B in 16-bit samples.
inline constexpr PixelFormat kRgb10{"rgb10", 2,  false, {{{"R", 1023}, {"G", 1023}, {"B", 1023}}},
                                    {},      "", "",    {{0, 1, 2}}};
// Co + 1024, Y, Cg + 1024 of the reversible YCoCg-R transform in 16-bit
// samples; as y4m, 12- or 16-bit 4:4:4 with the planes Y, Co + 1024, Cg + 1024.
inline constexpr PixelFormat kYuv10{"yuv10",
                                    2,
                                    false,
                                    {{{"U", 2047}, {"Y", 1023}, {"V", 2047}}},
                                    {"444p12", "444p16"},
                                    "12- or 16-bit 4:4:4",
                                    "444p12 XYSCSS=444P12 XCOLORRANGE=FULL",
                                    {{1, 0, 2}}};
// 8-bit R, G, B.
inline constexpr PixelFormat kRgb8{"rgb8", 1,  false, {{{"R", 255}, {"G", 255}, {"B", 255}}},
                                   {},     "", "",    {{0, 1, 2}}};
// 8-bit full-range Y, Cb, Cr 4:2:0.
inline constexpr PixelFormat kYuv420{"yuv420",
                                     1,
                                     true,
                                     {{{"Y", 255}, {"Cb", 255}, {"Cr", 255}}},
                                     {"420jpeg", "420mpeg2", "420paldv", "420"},
                                     "8-bit 4:2:0",
                                     "420jpeg XCOLORRANGE=FULL",
                                     {{0, 1, 2}}};

// Every format, in the order --format lists them.
std::span<const PixelFormat* const> pixel_formats();
// The format called `name`, or null.
const PixelFormat* find_pixel_format(std::string_view name);

bool has_y4m_form(const PixelFormat& f);

// Width and height of plane p.
std::uint64_t plane_width(const PixelFormat& f, const FrameGeometry& g, std::uint32_t p);
std::uint64_t plane_height(const PixelFormat& f, const FrameGeometry& g, std::uint32_t p);

// A rectangle of a frame: from column x and row y, width x height pixels.
struct Region {
    std::int32_t x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Region&) const = default;
};
// Why `r` is not a region of frames of `g` in format `f` (it must lie inside
// the frame; a subsampled format's chroma rectangle must fall on whole
// samples: x and y even, and the width and height too unless the region
// reaches the frame's edge), or an empty text.
std::string check_region(const PixelFormat& f, const FrameGeometry& g, const Region& r);
// Copies region `r` of `frame` (of `g`) into `out`, a frame of r's size.
void crop_frame(const PixelFormat& f, const FrameGeometry& g, const std::uint8_t* frame,
                const Region& r, std::uint8_t* out);
// Samples of plane p, and where it starts in a frame, in bytes.
std::uint64_t plane_samples(const PixelFormat& f, const FrameGeometry& g, std::uint32_t p);
std::uint64_t plane_offset(const PixelFormat& f, const FrameGeometry& g, std::uint32_t p);
// Bytes of one frame.
std::uint64_t frame_bytes(const PixelFormat& f, const FrameGeometry& g);

}  // namespace rawframes
