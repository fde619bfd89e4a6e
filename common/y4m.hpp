// YUV4MPEG2 (y4m): a stream header line, then each frame after a "FRAME" line.
// The converters write 8-bit 4:2:0 y4m and read it back; the planes of a frame
// are laid out exactly as in a raw 4:2:0 frame.
#pragma once

#include <cstdint>
#include <string>

#include "geometry.hpp"

namespace rawframes {

inline constexpr char kY4mMagic[] = "YUV4MPEG2 ";  // what a y4m stream begins with
inline constexpr char kY4mFrameHeader[] = "FRAME\n";
// Longest header line accepted when reading; real ones are a few dozen bytes.
inline constexpr std::size_t kY4mMaxLine = 4096;

struct FrameRate {
    std::uint32_t num = 25, den = 1;
};

// Reads "NUM" or "NUM:DEN", both whole numbers from 1 to 2^31 - 1.
bool parse_frame_rate(const std::string& text, FrameRate& rate);

// The stream header line of full-range 8-bit 4:2:0 frames, newline included.
std::string y4m_stream_header(const FrameGeometry& g, FrameRate rate);

// Checks a stream header's parameters (the line after the magic, without its
// newline) for 8-bit 4:2:0 frames of the size `g`. Returns an error text, or an
// empty string when the stream can be read as such frames.
std::string check_y4m_stream_header(const std::string& params, const FrameGeometry& g);

// Checks a frame header line (without its newline): "FRAME", optionally
// followed by parameters after a space.
std::string check_y4m_frame_header(const std::string& line);

}  // namespace rawframes
