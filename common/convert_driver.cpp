#include "convert_driver.hpp"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "buffer.hpp"
#include "cli_info.hpp"
#include "diag.hpp"
#include "frame_file.hpp"
#include "options.hpp"
#include "parse.hpp"
#include "pipeline.hpp"
#include "y4m.hpp"

namespace rawframes {

namespace {

constexpr OptionSpec kY4mOption{"y4m", false};
constexpr OptionSpec kFpsOption{"fps", true};
constexpr OptionSpec kOptions[] = {kThreadsOption, kNoProgressOption, kY4mOption, kFpsOption};

constexpr const char* kY4mOptionsHelp =
    "  --y4m          write YUV4MPEG2 (also when outfile ends in .y4m)\n"
    "  --fps NUM[:DEN]  the frame rate a YUV4MPEG2 output states (default 25)\n";

std::string usage_text(const ConverterSpec& converter, const char* argv0) {
    char text[512];
    std::snprintf(text, sizeof text, converter.usage, argv0);
    return text;
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The frames of the input, raw or YUV4MPEG2. Read on one thread, in order.
class FrameInput {
  public:
    FrameInput(InputFile& file, std::uint64_t frame_bytes) : file_(file), frame_bytes_(frame_bytes) {}

    // Looks at how the input begins: a YUV4MPEG2 stream header is read and
    // checked; any other bytes are the start of the first raw frame. Returns
    // an error text.
    std::string start(const FrameGeometry& g) {
        const std::size_t magic = sizeof kY4mMagic - 1;
        std::string head(magic, '\0');
        const Transfer got = file_.is_stream() ? file_.read(head.data(), magic)
                                               : file_.read_at(head.data(), magic, 0);
        if (got.error != 0) return error_text(got.error);
        head.resize(got.bytes);
        if (head != kY4mMagic) {
            if (file_.is_stream()) pending_ = head;
            return {};
        }
        y4m_ = true;
        if (!file_.is_stream()) {
            std::string skip(magic, '\0');
            if (const Transfer t = file_.read(skip.data(), magic); t.error != 0)
                return error_text(t.error);
        }
        std::string line;
        bool whole = false;
        if (const int e = read_line(line, whole); e != 0) return error_text(e);
        if (!whole) return "the YUV4MPEG2 header is cut short or too long";
        return check_y4m_stream_header(line, g);
    }
    bool y4m() const { return y4m_; }

    // Reads the next frame. On a clean end `trailing` is how many bytes were
    // left over that make no whole frame.
    FrameRead read(std::uint8_t* frame, std::uint64_t& trailing) {
        std::uint64_t marker = 0;
        if (y4m_) {
            std::string line;
            bool whole = false;
            if (const int e = read_line(line, whole); e != 0) return failure(error_text(e));
            if (line.empty() && !whole) return {FrameRead::kEnd, {}, {}};
            // Cut short inside what can still be a frame header: a partial frame.
            const std::size_t start = std::min<std::size_t>(line.size(), 5);
            if (!whole && line.size() < kY4mMaxLine && line.compare(0, start, "FRAME", start) == 0) {
                trailing = line.size();
                return {FrameRead::kEnd, {}, {}};
            }
            if (const std::string why = check_y4m_frame_header(line); !why.empty() || !whole)
                return failure(why.empty() ? "a YUV4MPEG2 frame header is too long" : why);
            marker = line.size() + 1;
        }
        const std::uint64_t from_pending = std::min<std::uint64_t>(pending_.size(), frame_bytes_);
        std::memcpy(frame, pending_.data(), from_pending);
        pending_.erase(0, from_pending);
        const Transfer got = file_.read(frame + from_pending, frame_bytes_ - from_pending);
        if (got.error != 0) return failure(error_text(got.error));
        const std::uint64_t bytes = from_pending + got.bytes;
        last_read_ = bytes;
        if (bytes == frame_bytes_) return {};
        trailing = marker + bytes;
        return {FrameRead::kEnd, {}, {}};
    }
    // Bytes the last read delivered.
    std::uint64_t last_read() const { return last_read_; }

  private:
    FrameRead failure(const std::string& reason) const {
        return {FrameRead::kError, "cannot read " + file_.path(), reason};
    }
    // Reads up to and including a newline, at most kY4mMaxLine bytes; `whole`
    // tells whether the newline was reached.
    int read_line(std::string& line, bool& whole) {
        for (char c; line.size() < kY4mMaxLine;) {
            const Transfer t = file_.read(&c, 1);
            if (t.error != 0) return t.error;
            if (t.bytes == 0) return 0;
            if (c == '\n') {
                whole = true;
                return 0;
            }
            line.push_back(c);
        }
        return 0;
    }

    InputFile& file_;
    std::uint64_t frame_bytes_;
    bool y4m_ = false;
    std::string pending_;  // bytes already read of the first raw frame
    std::uint64_t last_read_ = 0;
};

}  // namespace

int run_converter(const ConverterSpec& converter, int argc, char** argv) {
    const ConverterPolicy& policy = converter.policy;
    const std::string usage = usage_text(converter, argv[0]);
    const std::string help =
        std::string(converter.description) + kRunOptionsHelp + (policy.y4m_output ? kY4mOptionsHelp : "");
    const ProgramInfo info{converter.program, usage.c_str(), help.c_str(), converter.kernels(),
                           policy.failure_status};
    if (const auto status = program_preamble(argc, argv, info)) return *status;

    const std::span<const OptionSpec> options_known =
        policy.y4m_output ? std::span<const OptionSpec>(kOptions) : std::span(kOptions, 2);
    const CommandLine line = parse_command_line(argc, argv, options_known);
    RunOptions options;
    std::string option_error = read_run_options(line, options);
    FrameRate rate;
    if (const auto fps = line.value(kFpsOption.name); fps && option_error.empty()) {
        if (!parse_frame_rate(*fps, rate))
            option_error = "invalid --fps value '" + *fps + "': expected NUM or NUM:DEN";
    }
    const std::size_t count = line.positional.size();
    if (!option_error.empty() || (policy.frame_limit ? count != 5 : count < 4)) {
        std::fputs(usage.c_str(), stdout);
        if (!option_error.empty()) report_line(converter.program, option_error);
        return policy.usage_status;
    }
    const char* in_path = line.positional[0];
    const char* out_path = line.positional[1];
    const bool y4m_out =
        policy.y4m_output && (line.has(kY4mOption.name) || line.has(kFpsOption.name) ||
                              ends_with(out_path, ".y4m"));
    auto fail = [&](const std::string& what, const std::string& reason) {
        report_error(converter.program, what, reason);
        return policy.failure_status;
    };
    auto open_failed = [&](const char* path, const std::string& what, const std::string& reason) {
        if (!policy.terse_open_errors) return fail(what, reason);
        report_raw_line(std::string(path) + " file open error ");
        return policy.failure_status;
    };

    const FrameGeometry geometry{parse_int(line.positional[2]), parse_int(line.positional[3])};
    // A negative count reads as a very large one: convert until the input ends.
    const std::optional<std::uint64_t> limit =
        policy.frame_limit
            ? std::optional<std::uint64_t>(static_cast<std::uint32_t>(parse_int(line.positional[4])))
            : std::nullopt;
    if (const std::string why = check_geometry(geometry); !why.empty())
        return fail("invalid frame size", why);

    const std::uint64_t in_bytes = converter.in_bytes(geometry);
    const std::uint64_t out_bytes = converter.out_bytes(geometry);
    SlotBuffers buffers =
        allocate_slots(FramePipeline::full_slots(options.threads), in_bytes, out_bytes);
    if (buffers.count() == 0)
        return fail("cannot allocate frame buffers",
                    std::to_string(in_bytes + out_bytes) + " bytes are not available");
    FramePipeline pipeline(options.threads, buffers.count());

    InputFile input;
    if (const int e = input.open(in_path); e != 0)
        return open_failed(in_path, "cannot open " + std::string(in_path), error_text(e));
    // A seekable input is measured before the output is created, so that one
    // that cannot be measured leaves no empty output behind.
    std::optional<std::uint64_t> counted;  // whole frames of a seekable raw input
    std::optional<std::uint64_t> total;    // frames the run will write, when known
    std::uint64_t trailing = 0;            // bytes after the last whole frame
    FrameInput frames(input, in_bytes);
    if (!input.is_stream()) {
        std::uint64_t size = 0;
        if (const int e = input.size(size); e != 0)
            return fail("cannot measure " + input.path(), error_text(e));
        counted = total = count_frames(size, in_bytes);
        trailing = size % in_bytes;
        if (policy.complete_partial_frame && trailing >= 2) ++*total;
        input.advise_sequential();
    }
    if (policy.y4m_input) {
        if (const std::string why = frames.start(geometry); !why.empty())
            return fail("cannot read " + input.path(), why);
        if (frames.y4m()) counted = total = std::nullopt, trailing = 0;
    }
    OutputFile output;
    if (const int e = output.create(out_path, input); e != 0) {
        if (e == OutputFile::kSameFile)
            return fail("cannot write " + output.path(),
                        "it is the same file as the input " + input.path());
        return open_failed(out_path, "cannot write " + output.path(), error_text(e));
    }
    input.set_cancel_fd(pipeline.stop_fd());
    if (y4m_out) {
        const std::string header = y4m_stream_header(geometry, rate);
        if (const int e = output.write(header.data(), header.size()); e != 0)
            return fail("cannot write " + output.path(), error_text(e));
    }

    if (limit && (!total || *limit < *total)) total = limit;
    Progress progress(converter.program, total, options.progress);

    // The reader runs on one thread, frame after frame.
    bool input_done = false;
    std::vector<std::string> warnings(buffers.count());
    const ReadStage read = [&](std::size_t slot, std::uint64_t i) -> FrameRead {
        if (input_done || (limit && i >= *limit)) return {FrameRead::kEnd, {}, {}};
        // A partial frame is completed only where one is read, so the whole
        // input is read then; otherwise the frames counted at the start.
        const bool by_count = counted && !policy.complete_partial_frame;
        if (by_count && i >= *counted) return {FrameRead::kEnd, {}, {}};
        std::uint8_t* frame = buffers.first[slot].get();
        std::uint64_t left = 0;
        FrameRead got = frames.read(frame, left);
        if (got.kind != FrameRead::kEnd) return got;
        if (by_count)
            return {FrameRead::kError, "cannot read " + input.path(),
                    "the file ended inside frame " + std::to_string(i) + " of " +
                        std::to_string(*counted)};
        input_done = true;
        trailing = left;
        // Less than one whole sample left: the input has ended.
        const std::uint64_t bytes = frames.last_read();
        if (!policy.complete_partial_frame || bytes < 2) return got;
        trailing = 0;
        const std::uint64_t whole = bytes / 2 * 2;
        std::memset(frame + whole, 0, in_bytes - whole);
        warnings[slot] = "last frame has only " + std::to_string(bytes) + " of " +
                         std::to_string(in_bytes) + " bytes; missing samples are zero";
        return {};
    };
    const ConvertStage convert = [&](std::size_t slot, std::uint64_t) {
        void* in = buffers.first[slot].get();
        if (converter.planar16_input) le16_to_host(static_cast<std::uint16_t*>(in), in_bytes / 2);
        converter.convert(in, out_bytes != 0 ? buffers.second[slot].get() : nullptr, geometry);
    };
    const WriteStage write = [&](std::size_t slot, std::uint64_t i) {
        if (!warnings[slot].empty()) {
            report_error(converter.program, "warning: " + input.path(), warnings[slot]);
            warnings[slot].clear();
        }
        const bool in_place = out_bytes == 0;
        const void* frame = in_place ? buffers.first[slot].get() : buffers.second[slot].get();
        int e = y4m_out ? output.write(kY4mFrameHeader, sizeof kY4mFrameHeader - 1) : 0;
        if (e == 0) e = output.write(frame, in_place ? in_bytes : out_bytes);
        if (e != 0) {
            fail("cannot write " + output.path(), error_text(e));
            return false;
        }
        progress.update(i + 1);
        return true;
    };
    const PipelineResult result = pipeline.run({&read, 1}, convert, write);
    progress.finish();
    if (result.write_failed) return policy.failure_status;
    if (result.end == FrameRead::kError) return fail(result.what, result.reason);
    if (const int e = output.close(); e != 0)
        return fail("cannot write " + output.path(), error_text(e));
    // Input that makes no whole frame is ignored, which a wrong size shows as.
    if (!policy.complete_partial_frame && trailing != 0)
        report_error(converter.program, "warning: " + input.path(),
                     std::to_string(trailing) + " trailing bytes ignored after " +
                         std::to_string(result.frames) + " whole frames of " +
                         std::to_string(in_bytes) + " bytes");
    return 0;
}

}  // namespace rawframes
