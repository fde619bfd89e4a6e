// Frame geometry and the sizes of the three raw frame formats.
//
//   Planar16Frame: three planes of W x H little-endian 16-bit samples.
//   Planar8Frame:  three planes of W x H bytes.
//   Yuv420Frame:   W x H luma bytes, then Cb and Cr planes of CW x CH bytes with
//                  CW = (W + 1) / 2 and CH = (H + 1) / 2 (for even sizes exactly
//                  W / 2 x H / 2, so a frame is 3 * W * H / 2 bytes).
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

    std::uint64_t planar16_bytes() const { return 6 * pixels(); }
    std::uint64_t planar8_bytes() const { return 3 * pixels(); }
    std::uint64_t yuv420_bytes() const { return pixels() + 2 * chroma_pixels(); }
    // Byte offsets of the chroma planes within a Yuv420Frame.
    std::uint64_t yuv420_cb_offset() const { return pixels(); }
    std::uint64_t yuv420_cr_offset() const { return pixels() + chroma_pixels(); }
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
