// Where the errors of a frame are: the absolute difference of each pixel of a
// plane (or the largest over the planes, 4:2:0 chroma repeated over its 2 x 2
// pixels), as a PNG picture through a perceptually uniform colour map
// (viridis) on a logarithmic scale, with a colour bar and its scale in a strip
// below the picture, and a JSON sidecar that gives the plane, the scale and
// the largest difference and where it is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "geometry.hpp"
#include "pixel_format.hpp"

namespace rawframes {

// The frames --error-map-frames names: frame numbers, and worst:N for the N
// frames of the lowest SNR of the report's first column (comma-separated).
struct ErrorMapFrames {
    std::vector<std::uint64_t> frames;
    std::size_t worst = 0;
};
// Returns an error text.
std::string parse_error_map_frames(const std::string& list, ErrorMapFrames& out);

struct ErrorMap {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint32_t> difference;  // per pixel, row by row
    std::uint32_t largest = 0, x = 0, y = 0;
    std::uint32_t plane_of_largest = 0;  // the file plane
};

// The differences of a frame pair of `format` (raw frames, 16-bit samples in
// host order, read as signed) in plane `plane`, or the largest over the
// planes when none is given.
ErrorMap error_map(const PixelFormat& format, const FrameGeometry& g, const std::uint8_t* target,
                   const std::uint8_t* reference, std::optional<std::uint32_t> plane);

// The picture: width x (height + the strip) RGB bytes, row by row. A zero
// difference is the colour map's first colour; d > 0 is colour
// 1 + floor(254 log(1 + d) / log(1 + largest)), the logarithm the project's
// own, so that the picture is the same on every machine.
std::vector<std::uint8_t> error_map_picture(const ErrorMap& map, std::uint32_t& picture_height);
inline constexpr std::uint32_t kErrorMapStrip = 32;  // the colour bar's strip, in rows

// Writes PATH as a PNG of the picture; returns an error text. (Not in builds
// without libpng, where it says so.)
std::string write_png(const std::string& path, const std::vector<std::uint8_t>& rgb,
                      std::uint32_t width, std::uint32_t height, const std::string& comment);
bool png_available();

}  // namespace rawframes
