#include "convert_driver.hpp"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "diag.hpp"
#include "frame_file.hpp"
#include "frame_job.hpp"
#include "frame_sink.hpp"
#include "frame_source.hpp"
#include "options.hpp"
#include "parse.hpp"
#include "pipeline.hpp"
#include "y4m.hpp"

namespace rawframes {

namespace {

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

int run_converter(const ConverterSpec& converter, int argc, char** argv) {
    const ProgramSpec& about = converter.program;
    const ConverterPolicy& policy = converter.policy;
    const ProgramStart start = start_program(about, argc, argv);
    if (start.status) return *start.status;
    const CommandLine& line = start.line;
    const RunOptions& options = start.run;
    FrameRate rate;
    if (const auto fps = line.value("fps"); fps && !parse_frame_rate(*fps, rate))
        return usage_error(about, argv,
                           "invalid --fps value '" + *fps + "': expected NUM or NUM:DEN");
    const std::size_t count = line.positional.size();
    if (policy.frame_limit ? count != 5 : count < 4) return usage_error(about, argv, "");
    const char* in_path = line.positional[0];
    const char* out_path = line.positional[1];
    // Only a converter that takes the y4m options may write y4m.
    const bool y4m_out = !about.options.empty() &&
                         (line.has("y4m") || line.has("fps") || ends_with(out_path, ".y4m"));
    auto fail = [&](const std::string& what, const std::string& reason) {
        report_error(about.program, what, reason);
        return about.failure_status;
    };
    if (y4m_out && !line.has("y4m") && !ends_with(out_path, ".y4m"))
        report_line(
            about.program,
            "warning: --fps writes YUV4MPEG2, not raw frames, to " +
                std::string(std::strcmp(out_path, "-") == 0 ? "standard output" : out_path));
    auto open_failed = [&](const char* path, const std::string& what, const std::string& reason) {
        if (!policy.terse_open_errors) return fail(what, reason);
        report_raw_line(std::string(path) + " file open error ");
        return about.failure_status;
    };

    FrameGeometry geometry{parse_int(line.positional[2]), parse_int(line.positional[3])};
    // A negative count reads as a very large one: convert until the input ends.
    std::optional<std::uint64_t> limit =
        policy.frame_limit ? std::optional<std::uint64_t>(
                                 static_cast<std::uint32_t>(parse_int(line.positional[4])))
                           : std::nullopt;
    if (const std::string why = check_geometry(geometry); !why.empty())
        return fail("invalid frame size", why);

    const std::uint64_t in_bytes = frame_bytes(converter.input, geometry);
    const std::uint64_t out_bytes =
        converter.in_place ? 0 : frame_bytes(converter.output, geometry);
    InputFile input;
    FrameJob job(about.program, options);
    job.add_input(input, converter.input);
    // The writer keeps a core busy copying frames, as the reader does.
    std::vector<std::uint64_t> other;
    if (out_bytes != 0) other.push_back(out_bytes);
    if (!job.prepare(geometry, 1, other))
        return fail("cannot allocate frame buffers",
                    std::to_string(in_bytes + out_bytes) + " bytes are not available");
    if (const int e = input.open(in_path); e != 0)
        return open_failed(in_path, "cannot open " + input.path(), error_text(e));
    // The input is looked at and a seekable one measured before the output is
    // created, so that one that cannot be read leaves no empty output behind.
    FrameSource& frames = job.source(0);
    if (auto failure = job.start(geometry)) return fail(failure->what, failure->reason);
    if (auto failure = job.measure(geometry)) return fail(failure->what, failure->reason);
    std::optional<std::uint64_t> whole = frames.counted();  // frames the run would write
    if (policy.complete_partial_frame && whole) {
        // A partial last frame is completed where it is read, so the whole
        // input is read then.
        if (frames.trailing() >= 2) ++*whole;
        frames.forget_count();
    }
    if (auto failure = job.range(whole, limit)) return fail(failure->what, failure->reason);
    OutputFile output;
    if (const int e = output.create(out_path, input); e != 0) {
        if (e == OutputFile::kSameFile)
            return fail("cannot write " + output.path(),
                        "it is the same file as the input " + input.path());
        return open_failed(out_path, "cannot write " + output.path(), error_text(e));
    }
    job.warn_raw_y4m("raw frames");
    FrameSink sink(output, converter.output, geometry, y4m_out);
    if (const int e = sink.begin(rate); e != 0)
        return fail("cannot write " + output.path(), error_text(e));

    // The reader runs on one thread, frame after frame.
    std::vector<std::string> warnings(job.slots());
    std::vector<std::uint64_t> counts(job.slots(), 0);
    std::uint64_t counted_samples = 0;
    const FrameRun::AfterRead after_read = [&](std::size_t slot, std::uint64_t,
                                               FrameRead got) -> FrameRead {
        // Less than one whole sample left: the input has ended.
        const std::uint64_t bytes = frames.last_read();
        if (got.kind != FrameRead::kEnd || !policy.complete_partial_frame || bytes < 2) return got;
        const std::uint64_t whole = bytes / 2 * 2;
        std::memset(job.buffer(slot, 0) + whole, 0, in_bytes - whole);
        warnings[slot] = "last frame has only " + std::to_string(bytes) + " of " +
                         std::to_string(in_bytes) + " bytes; missing samples are zero";
        return {};
    };
    const ConvertStage convert = [&](std::size_t slot, std::uint64_t) {
        counts[slot] = converter.convert(
            job.buffer(slot, 0), converter.in_place ? nullptr : job.buffer(slot, 1), geometry);
    };
    const WriteStage write = [&](std::size_t slot, std::uint64_t) {
        if (!warnings[slot].empty()) {
            report_error(about.program, "warning: " + input.path(), warnings[slot]);
            warnings[slot].clear();
        }
        counted_samples += counts[slot];
        const std::uint8_t* frame = job.buffer(slot, converter.in_place ? 0 : 1);
        if (const int e = sink.write(frame); e != 0) {
            fail("cannot write " + output.path(), error_text(e));
            return false;
        }
        return true;
    };
    const PipelineResult result = job.run(options.progress, after_read, convert, write);
    if (result.write_failed) return about.failure_status;
    if (result.end == FrameRead::kError) return fail(result.what, result.reason);
    if (const int e = output.close(); e != 0)
        return fail("cannot write " + output.path(), error_text(e));
    // Input that makes no whole frame is ignored, which a wrong size shows as.
    if (!policy.complete_partial_frame && frames.trailing() != 0)
        report_error(about.program, "warning: " + input.path(),
                     std::to_string(frames.trailing()) + " trailing bytes ignored after " +
                         std::to_string(frames.whole_frames()) + " whole frames of " +
                         std::to_string(in_bytes) + " bytes");
    if (counted_samples != 0)
        report_error(about.program, "warning: " + input.path(),
                     std::to_string(counted_samples) + " " + converter.count_warning);
    return 0;
}

}  // namespace rawframes
