// The frame pipeline every program runs: readers fill frame slots, conversion
// workers process them, and the caller's thread hands them on in frame order.
//
// Frame i lives in slot i % slots from the moment it is read until it has been
// written, so the slots are the bounded queue between the stages and their
// buffers are reused for every frame; nothing is allocated per frame.
//
// Everything that reaches the user happens in frame order on the caller's
// thread: frame i is written (or a reader's failure at frame i reported) only
// after every earlier frame, so outputs, reports and messages are the same for
// any number of workers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace rawframes {

// What a reader made of frame i.
struct FrameRead {
    enum Kind {
        kFrame,  // the frame is in its slot
        kEnd,    // the input has no frame i: the run ends cleanly before it
        kError,  // reading failed; `what` and `reason` say why
    };
    Kind kind = kFrame;
    std::string what, reason;
};

// read(slot, i) fills the reader's part of slot `slot` with frame i. Frames are
// asked for in order, each reader on a thread of its own.
using ReadStage = std::function<FrameRead(std::size_t slot, std::uint64_t frame)>;
// convert(slot, i) processes a frame that every reader has delivered.
using ConvertStage = std::function<void(std::size_t slot, std::uint64_t frame)>;
// write(slot, i) hands on a converted frame, in frame order; false stops the
// run (the stage has reported why).
using WriteStage = std::function<bool(std::size_t slot, std::uint64_t frame)>;

struct PipelineResult {
    std::uint64_t frames = 0;  // frames written
    // kEnd: an input ended; kError: a reader failed at frame `frames` (the
    // first reader in order to fail or end at that frame decides), or the
    // threads could not be started; `what` and `reason` say why.
    FrameRead::Kind end = FrameRead::kEnd;
    std::string what, reason;
    bool write_failed = false;  // the write stage stopped the run
};

class FramePipeline {
  public:
    // At most `slots` frames are in flight; workers + 2 lets every stage run at
    // once, fewer (when memory is short) only makes the stages take turns.
    FramePipeline(std::size_t workers, std::size_t slots);
    ~FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // Frame slots the stages share: the number of buffer sets to allocate.
    std::size_t slots() const { return slots_; }
    static std::size_t full_slots(std::size_t workers) { return workers + 2; }
    // A descriptor that becomes readable when the run is stopping, for readers
    // blocked on a stream to give up (see InputFile::set_cancel_fd).
    int stop_fd() const { return stop_pipe_[0]; }

    PipelineResult run(std::span<const ReadStage> readers, const ConvertStage& convert,
                       const WriteStage& write);

  private:
    std::size_t workers_;
    std::size_t slots_;
    int stop_pipe_[2] = {-1, -1};
};

}  // namespace rawframes
