// Where converted frames go: raw frames back to back, or a YUV4MPEG2 stream
// of the output's pixel format (a header, then each frame after a FRAME line
// with its planes in y4m order).
#pragma once

#include <cstdint>

#include "frame_file.hpp"
#include "pixel_format.hpp"
#include "y4m.hpp"

namespace rawframes {

class FrameSink {
  public:
    FrameSink(OutputFile& file, const PixelFormat& format, const FrameGeometry& g, bool y4m)
        : file_(file), format_(format), geometry_(g), y4m_(y4m) {}

    // Writes the stream header of a y4m output; returns 0 or an errno value.
    int begin(FrameRate rate);
    // Writes one frame in raw layout; returns 0 or an errno value.
    int write(const std::uint8_t* frame);

  private:
    OutputFile& file_;
    const PixelFormat& format_;
    FrameGeometry geometry_;
    bool y4m_;
};

}  // namespace rawframes
