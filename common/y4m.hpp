// YUV4MPEG2 (y4m): a stream header line, then each frame after a "FRAME" line.
// A pixel format with a y4m form (pixel_format.hpp) says which colour-space
// tags it is read from and written as, and the order of its planes there.
#pragma once

#include <cstdint>
#include <string>

#include "geometry.hpp"
#include "pixel_format.hpp"

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

// The stream header line of frames of `format`, newline included.
std::string y4m_stream_header(const PixelFormat& format, const FrameGeometry& g, FrameRate rate);

// Checks a stream header's parameters (the line after the magic, without its
// newline) for frames of `format` and of the size `g`, or, when `g` is 0 x 0,
// fills it in from the header; `given_by` says where `g` came from. Returns an
// error text, or an empty string when the stream can be read as such frames.
std::string check_y4m_stream_header(const std::string& params, const PixelFormat& format,
                                    FrameGeometry& g,
                                    const std::string& given_by = "the command line");

// Checks a frame header line (without its newline): "FRAME", optionally
// followed by parameters after a space.
std::string check_y4m_frame_header(const std::string& line);

}  // namespace rawframes
