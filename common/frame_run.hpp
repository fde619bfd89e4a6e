// The run every program makes of its frames: the inputs' frames are read into
// frame slots, each on a reader thread of its own, processed by conversion
// workers, and handed on in frame order (see pipeline.hpp).
//
// Its threads and memory are taken in an order that never fails where less
// memory would succeed: the stacks of the threads are reserved first, then as
// many frame slots are allocated as fit (up to what keeps every stage busy),
// and only then are the threads started. A run short of memory has fewer
// slots, or one worker, and is slower; it fails only when not even one slot
// fits beside the threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "buffer.hpp"
#include "frame_source.hpp"
#include "pipeline.hpp"

namespace rawframes {

// One input of a run: run frame i is frame (first + i) * step of `source`.
struct RunInput {
    FrameSource* source;
    std::uint64_t step = 1;
    std::uint64_t first = 0;
};

// The conversion workers of a run: `requested` (--threads) when given (not 0);
// otherwise the processors this process may use, less the stages whose threads
// already keep a core busy copying frames (readers, and the writer of frame
// data), and at least one.
std::size_t run_workers(std::size_t requested, std::size_t busy_stages);

class FrameRun {
  public:
    // Each slot holds one buffer of each size in `buffer_bytes` (the inputs'
    // first, in order, then any others). False when not even one slot fits.
    bool prepare(std::size_t workers, std::size_t readers,
                 const std::vector<std::uint64_t>& buffer_bytes);
    std::size_t slots() const { return buffers_.size(); }
    std::size_t workers() const { return workers_; }
    std::uint8_t* buffer(std::size_t slot, std::size_t k) const { return buffers_[slot][k].get(); }
    // Readable once the run is stopping; see InputFile::set_cancel_fd.
    int stop_fd() const { return pipeline_->stop_fd(); }

    // Frames after the first `frame_limit` are not read.
    std::optional<std::uint64_t> frame_limit;

    // What a reader makes of a frame it has read (or of the end it met):
    // returns the result to hand on. Optional.
    using AfterRead = std::function<FrameRead(std::size_t slot, std::uint64_t frame, FrameRead)>;
    // Reads input k's frames into buffer k of the slots, in the host's byte
    // order, runs `convert` on each frame and `write` in frame order.
    PipelineResult run(std::span<const RunInput> inputs, const AfterRead& after_read,
                       const ConvertStage& convert, const WriteStage& write);

  private:
    std::size_t workers_ = 1;
    std::vector<std::vector<FrameBuffer<std::uint8_t>>> buffers_;
    std::unique_ptr<FramePipeline> pipeline_;
    // Address space held for the threads' stacks until they start.
    void* reserved_ = nullptr;
    std::size_t reserved_bytes_ = 0;
    void release_reservation();

  public:
    FrameRun() = default;
    FrameRun(const FrameRun&) = delete;
    FrameRun& operator=(const FrameRun&) = delete;
    ~FrameRun() { release_reservation(); }
};

}  // namespace rawframes
