// Frame geometry: the width and height every tool is told, the full and the
// 2 x 2 subsampled plane sizes derived from them (CW = (W + 1) / 2 and
// CH = (H + 1) / 2, so that odd sizes cover every pixel), and frame counting.
// The frame layouts themselves are pixel formats (pixel_format.hpp).
//
// All sizes are 64-bit so that frames and files of any size are handled in full.
#pragma once

#include <cstdint>
#include <string>

namespace rawframes {

struct FrameGeometry {
    std::int32_t width = 0;
    std::int32_t height = 0;

    // Samples per full-resolution plane, N = W * H.
    std::uint64_t pixels() const {
        return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    }
    std::uint64_t chroma_width() const { return (static_cast<std::uint64_t>(width) + 1) / 2; }
    std::uint64_t chroma_height() const { return (static_cast<std::uint64_t>(height) + 1) / 2; }
    std::uint64_t chroma_pixels() const { return chroma_width() * chroma_height(); }
};

// Largest plane the programs accept: beyond it no frame buffer could be
// allocated anyway, and the byte sizes above could no longer overflow.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 56;

// Checks that both dimensions are at least 1 and that the frame is of a size
// that can be addressed. Returns an empty string when the geometry is usable,
// otherwise the reason it is not.
std::string check_geometry(const FrameGeometry& g);

// Number of whole frames in a file of `file_bytes` bytes; a trailing partial
// frame is not counted.
inline std::uint64_t count_frames(std::uint64_t file_bytes, std::uint64_t frame_bytes) {
    return frame_bytes == 0 ? 0 : file_bytes / frame_bytes;
}

}  // namespace rawframes
