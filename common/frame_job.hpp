// The frames of a program's run, from its inputs to its writer: the inputs
// (each read as frames of a pixel format, run frame i being frame i * step of
// the input), the range of frames the run handles (--start, --frames,
// --shard), the frame slots and the pipeline with its progress line. The
// converters (convert_driver) and frame-snr each run through these steps in
// order, adding only their own: the output or the reports, and their
// messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame_file.hpp"
#include "frame_run.hpp"
#include "frame_source.hpp"
#include "geometry.hpp"
#include "options.hpp"
#include "pixel_format.hpp"

namespace rawframes {

class FrameJob {
  public:
    // What failed and why, as a message gives them.
    struct Failure {
        std::string what, reason;
    };

    FrameJob(const char* program, RunOptions options)
        : program_(program), options_(std::move(options)) {}

    // Input k, opened by the caller: frames of `format`, run frame i being
    // frame i * step.
    void add_input(InputFile& file, const PixelFormat& format, std::uint64_t step = 1);
    std::size_t inputs() const { return inputs_.size(); }
    FrameSource& source(std::size_t k) const { return *inputs_[k].source; }
    InputFile& file(std::size_t k) const { return inputs_[k].source->file(); }

    // Looks at how each input begins: a YUV4MPEG2 input checks `g` against its
    // header, or fills a 0 x 0 `g` from it.
    std::optional<Failure> start(FrameGeometry& g);
    // Says of each raw input that begins like a YUV4MPEG2 stream that it is
    // read as `read_as` all the same.
    void warn_raw_y4m(const std::string& read_as) const;

    // The frame slots: each holds a frame of every input and the `other`
    // buffers. The inputs' readers (unless the work per frame dwarfs their
    // copying) and `busy_stages` others each keep a core busy (run_workers).
    // False when not even one slot fits.
    bool prepare(const FrameGeometry& g, std::size_t busy_stages,
                 const std::vector<std::uint64_t>& other = {}, bool readers_busy = true);
    std::size_t slots() const { return run_.slots(); }
    std::uint8_t* buffer(std::size_t slot, std::size_t k) const { return run_.buffer(slot, k); }

    // Measures the seekable inputs (their frames are counted from their
    // size), and lets the run's stop signal reach readers of streams.
    std::optional<Failure> measure(const FrameGeometry& g);

    // The range of the run: `count` frames (unknown for streams) divided by
    // --shard, from --start, at most --frames and `limit`; the inputs are
    // moved to its first frame.
    std::optional<Failure> range(std::optional<std::uint64_t> count,
                                 std::optional<std::uint64_t> limit = std::nullopt);
    const RunOptions& options() const { return options_; }
    // The frames the run will handle, when known.
    std::optional<std::uint64_t> total() const { return total_; }

    // Reads every frame of the range, converts it and writes it in frame
    // order (see FrameRun::run), showing progress when `show_progress`.
    PipelineResult run(bool show_progress, const FrameRun::AfterRead& after_read,
                       const ConvertStage& convert, const WriteStage& write);

  private:
    struct Input {
        std::unique_ptr<FrameSource> source;
        std::uint64_t step;
    };
    const char* program_;
    RunOptions options_;
    std::vector<Input> inputs_;
    FrameRun run_;
    std::optional<std::uint64_t> total_;
};

}  // namespace rawframes
