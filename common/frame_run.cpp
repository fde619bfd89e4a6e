#include "frame_run.hpp"

#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>

#include <algorithm>

#include "frame_file.hpp"
#include "process.hpp"

namespace rawframes {

std::size_t run_workers(std::size_t requested, std::size_t busy_stages) {
    if (requested != 0) return requested;
    const std::size_t cpus = available_cpus();
    return cpus > busy_stages ? cpus - busy_stages : 1;
}

namespace {

// The address space a thread takes: its stack, as new threads get it, and a
// guard page.
std::size_t thread_stack_bytes() {
    std::size_t bytes = std::size_t{8} << 20;
    pthread_attr_t attr;
    if (::pthread_getattr_default_np(&attr) == 0) {
        std::size_t size = 0;
        if (::pthread_attr_getstacksize(&attr, &size) == 0 && size != 0) bytes = size;
        ::pthread_attr_destroy(&attr);
    }
    return bytes + (std::size_t{64} << 10);
}

// Kept free beside the stacks for what the run allocates besides its frames
// (messages, reports, the writer's bookkeeping).
constexpr std::size_t kOtherNeeds = std::size_t{16} << 20;

}  // namespace

void FrameRun::release_reservation() {
    if (reserved_ != nullptr) ::munmap(reserved_, reserved_bytes_);
    reserved_ = nullptr;
}

bool FrameRun::prepare(std::size_t workers, std::size_t readers,
                       const std::vector<std::uint64_t>& buffer_bytes) {
#ifdef M_ARENA_MAX
    // Each thread that allocates would otherwise get a malloc arena of its
    // own, 64 MiB of address space taken at a moment that depends on timing,
    // which could leave a later thread no room for its stack. The stages
    // allocate nothing per frame, so one arena costs no speed.
    ::mallopt(M_ARENA_MAX, 1);
#endif
    // With every worker first; when not one slot fits beside their stacks,
    // with one worker.
    for (std::size_t w : {workers, std::size_t{1}}) {
        release_reservation();
        reserved_bytes_ = (w + readers) * thread_stack_bytes() + kOtherNeeds;
        void* p = ::mmap(nullptr, reserved_bytes_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        reserved_ = p == MAP_FAILED ? nullptr : p;
        buffers_ = allocate_slots(FramePipeline::full_slots(w), buffer_bytes);
        if (!buffers_.empty() && reserved_ != nullptr) {
            workers_ = w;
            pipeline_ = std::make_unique<FramePipeline>(w, buffers_.size());
            return true;
        }
        buffers_.clear();
        if (w == 1) break;
    }
    release_reservation();
    return false;
}

PipelineResult FrameRun::run(std::span<const RunInput> inputs, const AfterRead& after_read,
                             const ConvertStage& convert, const WriteStage& write) {
    std::vector<ReadStage> readers;
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        readers.push_back([this, k, &inputs, &after_read](std::size_t slot, std::uint64_t i) {
            const RunInput& in = inputs[k];
            if (frame_limit && i >= *frame_limit) return FrameRead{FrameRead::kEnd, {}, {}};
            std::uint64_t frame = 0;
            FrameRead got = __builtin_add_overflow(i, in.first, &frame) ||
                                    __builtin_mul_overflow(frame, in.step, &frame)
                                ? FrameRead{FrameRead::kEnd, {}, {}}
                                : in.source->read(frame, buffer(slot, k));
            return after_read ? after_read(slot, i, std::move(got)) : got;
        });
    }
    const ConvertStage to_host_then_convert = [&](std::size_t slot, std::uint64_t i) {
        for (std::size_t k = 0; k < inputs.size(); ++k)
            if (inputs[k].source->format().sample_bytes == 2)
                le16_to_host(reinterpret_cast<std::uint16_t*>(buffer(slot, k)),
                             inputs[k].source->frame_bytes() / 2);
        convert(slot, i);
    };
    // The stacks' address space is handed back for the threads to take it.
    release_reservation();
    return pipeline_->run(readers, to_host_then_convert, write);
}

}  // namespace rawframes
