// The frames of one input, in order, whatever it is: a raw file or device
// counted by its size, a raw stream read until it ends, or a YUV4MPEG2 stream
// (recognised by how it begins) whose frames are laid out as raw frames of the
// same pixel format. What is left after the last whole frame is measured here,
// once, for every kind of input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "frame_file.hpp"
#include "geometry.hpp"
#include "pipeline.hpp"
#include "pixel_format.hpp"

namespace rawframes {

class FrameSource {
  public:
    FrameSource(InputFile& file, const PixelFormat& format) : file_(file), format_(format) {}

    // Looks at how the input begins. When the format has a y4m form and the
    // input is a y4m stream, its header is read and checked against `g` (a
    // 0 x 0 `g` is filled in from the header; `given_by` says where a size
    // came from); otherwise the input is raw, and starts_like_y4m() tells
    // whether it begins like a y4m stream all the same. Returns an error text.
    std::string start(FrameGeometry& g, const std::string& given_by = "the command line");
    bool y4m() const { return y4m_; }
    bool starts_like_y4m() const { return starts_like_y4m_; }

    // Fixes the geometry of a raw input and measures a seekable one. Returns
    // an error text.
    std::string set_geometry(const FrameGeometry& g);
    std::uint64_t frame_bytes() const { return frame_bytes_; }
    const PixelFormat& format() const { return format_; }
    InputFile& file() const { return file_; }
    // Whole frames of a seekable raw input, counted from its size.
    std::optional<std::uint64_t> counted() const { return counted_; }
    // Reads a counted input as a stream from here on, to its last byte; one
    // that ends before the size it had here has shrunk, which is an error.
    void forget_count() {
        if (counted_) size_at_start_ = *counted_ * frame_bytes_ + trailing_;
        counted_.reset();
    }

    // Passes over the first `frames` frames: a seek on a seekable raw input,
    // nothing on others, whose reads pass over them. Returns an error text.
    std::string skip(std::uint64_t frames);

    // Reads frame `index` into `frame`, in raw layout; frames are asked for in
    // increasing order, and those in between are passed over. kEnd when the
    // input holds no such whole frame; a counted input that ends sooner than
    // counted is an error.
    FrameRead read(std::uint64_t index, std::uint8_t* frame);
    // Bytes the last read delivered of its frame.
    std::uint64_t last_read() const { return last_read_; }
    // Bytes after the last whole frame: of a counted input from the start, of
    // any other once it has ended.
    std::uint64_t trailing() const { return trailing_; }
    // Whole frames of the input: of a counted input from the start, of any
    // other those it has given so far (all of them once it has ended).
    std::uint64_t whole_frames() const { return counted_ ? *counted_ : next_; }
    // Reads the input to its end, through `scratch` (one frame), to count its
    // whole frames and the bytes after them. Returns an error text.
    std::string count_to_end(std::uint8_t* scratch, std::uint64_t& frames, std::uint64_t& trailing);

  private:
    FrameRead failure(const std::string& reason) const;
    FrameRead ended(std::uint64_t trailing);
    FrameRead read_next(std::uint8_t* frame);
    Transfer read_raw(std::uint8_t* frame, std::uint64_t bytes);
    int read_line(std::string& line, bool& whole);

    InputFile& file_;
    const PixelFormat& format_;
    FrameGeometry geometry_;
    std::uint64_t frame_bytes_ = 0;
    bool y4m_ = false;
    bool starts_like_y4m_ = false;
    std::string pending_;  // bytes of a stream already read by start()
    std::optional<std::uint64_t> counted_;
    std::optional<std::uint64_t> size_at_start_;  // of a counted input read as a stream
    std::uint64_t next_ = 0;                      // the frame a sequential read delivers next
    bool ended_ = false;
    std::uint64_t trailing_ = 0;
    std::uint64_t last_read_ = 0;
};

}  // namespace rawframes
