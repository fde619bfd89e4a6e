#include "frame_job.hpp"

#include "diag.hpp"

namespace rawframes {

void FrameJob::add_input(InputFile& file, const PixelFormat& format, std::uint64_t step) {
    inputs_.push_back({std::make_unique<FrameSource>(file, format), step});
}

std::optional<FrameJob::Failure> FrameJob::start(FrameGeometry& g) {
    std::string size_from = "the command line";
    for (const Input& in : inputs_) {
        const bool had_size = g.width != 0;
        if (const std::string why = in.source->start(g, size_from); !why.empty())
            return Failure{"cannot read " + in.source->file().path(), why};
        if (!had_size && g.width != 0) size_from = "the header of " + in.source->file().path();
    }
    return std::nullopt;
}

void FrameJob::warn_raw_y4m(const std::string& read_as) const {
    for (const Input& in : inputs_)
        if (in.source->starts_like_y4m())
            report_error(program_, "warning: " + in.source->file().path(),
                         "it begins like a YUV4MPEG2 stream but is read as " + read_as);
}

bool FrameJob::prepare(const FrameGeometry& g, std::size_t busy_stages,
                       const std::vector<std::uint64_t>& other, bool readers_busy) {
    std::vector<std::uint64_t> bytes;
    for (const Input& in : inputs_) bytes.push_back(frame_bytes(in.source->format(), g));
    bytes.insert(bytes.end(), other.begin(), other.end());
    const std::size_t busy = (readers_busy ? inputs_.size() : 0) + busy_stages;
    return run_.prepare(run_workers(options_.threads, busy), inputs_.size(), bytes);
}

std::optional<FrameJob::Failure> FrameJob::measure(const FrameGeometry& g) {
    for (const Input& in : inputs_) {
        if (const std::string why = in.source->set_geometry(g); !why.empty())
            return Failure{"cannot measure " + in.source->file().path(), why};
        if (in.source->file().is_stream()) in.source->file().set_cancel_fd(run_.stop_fd());
    }
    return std::nullopt;
}

std::optional<FrameJob::Failure> FrameJob::range(std::optional<std::uint64_t> count,
                                                 std::optional<std::uint64_t> limit) {
    // Shards divide the frames the run would have, the limit included.
    std::optional<std::uint64_t> frames = count;
    if (frames && limit && *limit < *frames) frames = limit;
    if (const std::string why = apply_shard(options_, frames); !why.empty())
        return Failure{"cannot divide " +
                           (inputs_.size() == 1 ? inputs_[0].source->file().path()
                                                : std::string("the inputs")) +
                           " into shards",
                       why};
    for (const Input& in : inputs_) {
        std::uint64_t first = 0;
        if (__builtin_mul_overflow(options_.start, in.step, &first)) first = UINT64_MAX;
        if (const std::string why = in.source->skip(first); !why.empty())
            return Failure{"cannot read " + in.source->file().path(), why};
        InputFile& file = in.source->file();
        if (!file.is_stream() && in.step == 1) file.advise_sequential();
    }
    total_ = count;
    if (total_) *total_ = *total_ > options_.start ? *total_ - options_.start : 0;
    if (options_.frames && (!limit || *options_.frames < *limit)) limit = options_.frames;
    if (limit && (!total_ || *limit < *total_)) total_ = limit;
    run_.frame_limit = limit;
    return std::nullopt;
}

PipelineResult FrameJob::run(bool show_progress, const FrameRun::AfterRead& after_read,
                             const ConvertStage& convert, const WriteStage& write) {
    Progress progress(program_, total_, show_progress);
    std::vector<RunInput> inputs;
    for (const Input& in : inputs_) inputs.push_back({in.source.get(), in.step, options_.start});
    const WriteStage write_and_show = [&](std::size_t slot, std::uint64_t i) {
        if (!write(slot, i)) return false;
        progress.update(i + 1);
        return true;
    };
    const PipelineResult result = run_.run(inputs, after_read, convert, write_and_show);
    progress.finish();
    return result;
}

}  // namespace rawframes
