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

namespace rawframes {

namespace {

constexpr OptionSpec kOptions[] = {kThreadsOption, kNoProgressOption};

std::string usage_text(const ConverterSpec& spec, const char* argv0) {
    char text[512];
    std::snprintf(text, sizeof text, spec.usage, argv0);
    return text;
}

}  // namespace

int run_converter(const ConverterSpec& spec, int argc, char** argv) {
    const ConverterPolicy& policy = spec.policy;
    const std::string usage = usage_text(spec, argv[0]);
    const std::string help = std::string(spec.description) + kRunOptionsHelp;
    if (handle_info_option(argc, argv, spec.program, usage.c_str(), help.c_str())) return 0;

    const CommandLine line = parse_command_line(argc, argv, kOptions);
    RunOptions options;
    std::string option_error = line.error;
    if (option_error.empty()) option_error = read_run_options(line, options);
    const std::size_t count = line.positional.size();
    if (!option_error.empty() || (policy.frame_limit ? count != 5 : count < 4)) {
        std::fputs(usage.c_str(), stdout);
        if (!option_error.empty()) report_line(spec.program, option_error);
        return policy.usage_status;
    }
    const char* in_path = line.positional[0];
    const char* out_path = line.positional[1];
    auto fail = [&](const std::string& what, const std::string& reason) {
        report_error(spec.program, what, reason);
        return policy.failure_status;
    };
    auto open_failed = [&](const char* path, const std::string& what, const std::string& reason) {
        if (!policy.terse_open_errors) return fail(what, reason);
        std::fprintf(stderr, "%s file open error \n", path);
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

    const std::uint64_t in_bytes = spec.in_bytes(geometry);
    const std::uint64_t out_bytes = spec.out_bytes(geometry);
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
    std::optional<std::uint64_t> counted;  // whole frames of a seekable input
    std::optional<std::uint64_t> total;    // frames the run will write, when known
    if (!input.is_stream()) {
        std::uint64_t size = 0;
        if (const int e = input.size(size); e != 0)
            return fail("cannot measure " + input.path(), error_text(e));
        counted = total = count_frames(size, in_bytes);
        if (policy.complete_partial_frame && size % in_bytes >= 2) ++*total;
        input.advise_sequential();
    }
    OutputFile output;
    if (const int e = output.create(out_path, input); e != 0) {
        if (e == OutputFile::kSameFile)
            return fail("cannot write " + output.path(),
                        "it is the same file as the input " + input.path());
        return open_failed(out_path, "cannot write " + output.path(), error_text(e));
    }
    input.set_cancel_fd(pipeline.stop_fd());

    if (limit && (!total || *limit < *total)) total = limit;
    Progress progress(spec.program, total, options.progress);

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
        const Transfer got = input.read(frame, in_bytes);
        if (got.error != 0)
            return {FrameRead::kError, "cannot read " + input.path(), error_text(got.error)};
        if (got.bytes == in_bytes) return {};
        if (by_count)
            return {FrameRead::kError, "cannot read " + input.path(),
                    "the file ended inside frame " + std::to_string(i) + " of " +
                        std::to_string(*counted)};
        input_done = true;
        // Less than one whole sample left: the input has ended.
        if (!policy.complete_partial_frame || got.bytes < 2) return {FrameRead::kEnd, {}, {}};
        const std::uint64_t whole = got.bytes / 2 * 2;
        std::memset(frame + whole, 0, in_bytes - whole);
        warnings[slot] = "last frame has only " + std::to_string(got.bytes) + " of " +
                         std::to_string(in_bytes) + " bytes; missing samples are zero";
        return {};
    };
    const ConvertStage convert = [&](std::size_t slot, std::uint64_t) {
        void* in = buffers.first[slot].get();
        if (spec.planar16_input) le16_to_host(static_cast<std::uint16_t*>(in), in_bytes / 2);
        spec.convert(in, out_bytes != 0 ? buffers.second[slot].get() : nullptr, geometry);
    };
    const WriteStage write = [&](std::size_t slot, std::uint64_t i) {
        if (!warnings[slot].empty()) {
            report_error(spec.program, "warning: " + input.path(), warnings[slot]);
            warnings[slot].clear();
        }
        const bool in_place = out_bytes == 0;
        const void* frame = in_place ? buffers.first[slot].get() : buffers.second[slot].get();
        if (const int e = output.write(frame, in_place ? in_bytes : out_bytes); e != 0) {
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
    return 0;
}

}  // namespace rawframes
