// frame-snr: per-frame, per-plane SNR of a target file against a reference file
// of 16-bit planar frames, with an optional frame skip for targets that keep only
// every (frame_skip + 1)-th frame of the reference.
#include "frame_snr_main.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>
#include <tuple>
#include <vector>

#include "buffer.hpp"
#include "cli_info.hpp"
#include "diag.hpp"
#include "frame_file.hpp"
#include "geometry.hpp"
#include "options.hpp"
#include "parse.hpp"
#include "pipeline.hpp"
#include "report.hpp"
#include "snr.hpp"

namespace rawframes {

namespace {

constexpr const char* kProgram = "frame-snr";
constexpr int kFailed = 1;
constexpr const char* kDescription =
    "Prints the per-frame SNR of each plane of target_file against reference_file\n"
    "(16-bit planar frames, default 160 x 112), and the averages. Plane 1 is luma\n"
    "(peak 1023), planes 0 and 2 chroma (peak 2047). Target frame i is compared\n"
    "with reference frame i * (frame_skip + 1).\n"
    "Exit status: 0 when frames were compared, 1 otherwise, 255 when a file\n"
    "cannot be opened.\n";
constexpr int kOpenFailed = 255;
constexpr std::int32_t kDefaultHeight = 112;
constexpr std::int32_t kDefaultWidth = 160;
constexpr OptionSpec kCsvOption{"csv", true};
constexpr OptionSpec kJsonOption{"json", true};
constexpr OptionSpec kPlotOption{"plot", true};
constexpr OptionSpec kOptions[] = {kThreadsOption, kNoProgressOption, kCsvOption, kJsonOption,
                                   kPlotOption};
constexpr const char* kReportOptionsHelp =
    "  --csv FILE     also write one CSV row per compared frame to FILE\n"
    "  --json FILE    also write the per-frame figures and a summary as JSON\n"
    "  --plot FILE    also draw the per-frame SNR as an SVG picture\n"
    "  (FILE - is standard output, instead of the text report; one of them at most)\n";

int fail(const std::string& what, const std::string& reason) {
    report_error(kProgram, what, reason);
    return kFailed;
}

// Reads the frames of one input for the pipeline. A seekable input holds the
// whole frames counted at the start, and one of them arriving short is an
// error; a stream holds the frames that arrive whole before it ends.
class FrameReader {
  public:
    FrameReader(InputFile& file, std::uint64_t frame_bytes, std::optional<std::uint64_t> counted)
        : file_(file), frame_bytes_(frame_bytes), counted_(counted) {}

    // Reads frame `index`; frames are asked for in increasing order, and a
    // stream skips the frames in between by reading them into `buffer`.
    FrameRead read(std::uint64_t index, void* buffer) {
        if (ended_) return {FrameRead::kEnd, {}, {}};
        if (counted_) {
            if (index >= *counted_) return {FrameRead::kEnd, {}, {}};
            const Transfer got = next_ == index ? file_.read(buffer, frame_bytes_)
                                                : file_.read_at(buffer, frame_bytes_,
                                                                index * frame_bytes_);
            if (got.error != 0) return failure(error_text(got.error));
            if (got.bytes != frame_bytes_)
                return failure("the file ended inside a frame it was counted to hold");
            // Reads at an offset leave the position alone: sequential reading
            // carries on only from where it was.
            if (next_ == index) ++next_;
            return {};
        }
        for (;;) {
            const Transfer got = file_.read(buffer, frame_bytes_);
            if (got.error != 0) return failure(error_text(got.error));
            if (got.bytes != frame_bytes_) {
                ended_ = true;
                trailing_ = got.bytes;
                return {FrameRead::kEnd, {}, {}};
            }
            if (next_++ == index) return {};
        }
    }

    // The whole frames the input holds and the bytes after them: a stream is
    // read to its end to count them. Returns an error text.
    std::string count(void* buffer, std::uint64_t& frames, std::uint64_t& trailing) {
        if (counted_) {
            frames = *counted_;
            trailing = trailing_;
            return {};
        }
        while (!ended_) {
            const FrameRead r = read(next_, buffer);
            if (r.kind == FrameRead::kError) return r.reason;
        }
        frames = next_;
        trailing = trailing_;
        return {};
    }
    void set_trailing(std::uint64_t bytes) { trailing_ = bytes; }
  private:
    FrameRead failure(const std::string& reason) const {
        return {FrameRead::kError, "cannot read " + file_.path(), reason};
    }

    InputFile& file_;
    std::uint64_t frame_bytes_;
    std::optional<std::uint64_t> counted_;
    std::uint64_t next_ = 0;  // the frame a sequential read delivers next
    bool ended_ = false;      // a stream has ended
    std::uint64_t trailing_ = 0;
};

}  // namespace

int frame_snr_main(int argc, char** argv) {
    constexpr const char* kUsage =
        "\nError!\nUsage: %s target_file reference_file frame_skip [height] [width]\n";
    {
        char usage[512];
        std::snprintf(usage, sizeof usage, kUsage + 8, argv[0]);  // without "Error!"
        const std::string help = std::string(kDescription) + kRunOptionsHelp + kReportOptionsHelp;
        const ProgramInfo info{kProgram, usage, help.c_str(), best_isa(squared_error_variants()),
                               kFailed};
        if (const auto status = program_preamble(argc, argv, info)) return *status;
    }
    const CommandLine line = parse_command_line(argc, argv, kOptions);
    RunOptions options;
    std::string option_error = read_run_options(line, options);
    const std::size_t count = line.positional.size();
    // A height without a width is as incomplete as a missing argument.
    if (!option_error.empty() || count < 3 || count == 4) {
        std::printf(kUsage, argv[0]);
        if (!option_error.empty()) report_line(kProgram, option_error);
        return kFailed;
    }
    const char* target_path = line.positional[0];
    const char* reference_path = line.positional[1];
    const std::int32_t frame_skip = parse_int(line.positional[2]);
    FrameGeometry geometry{kDefaultWidth, kDefaultHeight};
    if (count >= 5) {
        geometry.height = parse_int(line.positional[3]);
        geometry.width = parse_int(line.positional[4]);
    }
    if (const std::string why = check_geometry(geometry); !why.empty())
        return fail("invalid frame size", why);
    if (std::strcmp(target_path, "-") == 0 && std::strcmp(reference_path, "-") == 0)
        return fail("cannot read standard input twice",
                    "give - for one of target_file and reference_file only");
    // The reports asked for; one of them may take standard output's place.
    struct ReportFile {
        std::optional<std::string> path;
        OutputFile file;
    };
    ReportFile reports[] = {{line.value(kCsvOption.name), {}},
                            {line.value(kJsonOption.name), {}},
                            {line.value(kPlotOption.name), {}}};
    ReportFile& csv = reports[0];
    ReportFile& json = reports[1];
    ReportFile& plot = reports[2];
    int on_stdout = 0;
    for (const ReportFile& r : reports) on_stdout += r.path == "-";
    if (on_stdout > 1)
        return fail("cannot write two reports to standard output",
                    "give - for one of --csv, --json and --plot only");
    const bool text_report = on_stdout == 0;

    InputFile target, reference;
    if (target.open(target_path) != 0) {
        report_raw_line(std::string("Error open file ") + target_path);
        return kOpenFailed;
    }
    if (reference.open(reference_path) != 0) {
        report_raw_line(std::string("Error open file ") + reference_path);
        return kOpenFailed;
    }

    const std::uint64_t n = geometry.pixels();
    const std::uint64_t frame_bytes = geometry.planar16_bytes();
    SlotBuffers buffers =
        allocate_slots(FramePipeline::full_slots(options.threads), frame_bytes, frame_bytes);
    if (buffers.count() == 0)
        return fail("cannot allocate frame buffers",
                    "2 x " + std::to_string(frame_bytes) + " bytes are not available");
    FramePipeline pipeline(options.threads, buffers.count());

    // Seekable files are measured before any report line; streams are read
    // until they end.
    std::optional<std::uint64_t> target_frames, reference_frames;
    std::uint64_t target_trailing = 0, reference_trailing = 0;
    for (auto [file, frames] : {std::pair{&target, &target_frames}, {&reference, &reference_frames}}) {
        if (file->is_stream()) {
            file->set_cancel_fd(pipeline.stop_fd());
            continue;
        }
        std::uint64_t bytes = 0;
        if (const int e = file->size(bytes); e != 0)
            return fail("cannot measure " + file->path(), error_text(e));
        *frames = count_frames(bytes, frame_bytes);
        (file == &target ? target_trailing : reference_trailing) = bytes % frame_bytes;
    }

    for (ReportFile& r : reports) {
        if (!r.path) continue;
        if (const int e = r.file.create(r.path->c_str(), target, &reference); e != 0)
            return fail("cannot write " + r.file.path(),
                        e == OutputFile::kSameFile ? "it is one of the inputs" : error_text(e));
    }
    const ReportInfo info{target.path(), reference.path(), geometry.width, geometry.height,
                          frame_skip};
    ReportSummary summary;
    std::vector<FrameRecord> records;  // kept for the plot only
    bool first_row = true;
    const auto write_report = [&](ReportFile& r, const std::string& text) {
        if (!r.path) return true;
        if (const int e = r.file.write(text.data(), text.size()); e != 0) {
            fail("cannot write " + r.file.path(), error_text(e));
            return false;
        }
        return true;
    };
    if (!write_report(csv, csv_header()) || !write_report(json, json_begin(info))) return kFailed;

    if (text_report) std::printf("\nFrame\tSnrY\tSnrU\tSnrV");

    // Target frame i is compared with reference frame i * step, and only while
    // that reference frame lies wholly inside the reference.
    const std::uint64_t step = frame_skip > 0 ? std::uint64_t(frame_skip) + 1 : 1;
    std::optional<std::uint64_t> total;
    if (target_frames && reference_frames)
        total = std::min(*target_frames, (*reference_frames + step - 1) / step);
    if (!target.is_stream()) target.advise_sequential();
    if (!reference.is_stream() && step == 1) reference.advise_sequential();
    // On a terminal the report itself shows how far the run is.
    Progress progress(kProgram, total, options.progress && ::isatty(STDOUT_FILENO) != 1);

    FrameReader target_reader(target, frame_bytes, target_frames);
    FrameReader reference_reader(reference, frame_bytes, reference_frames);
    target_reader.set_trailing(target_trailing);
    reference_reader.set_trailing(reference_trailing);
    const ReadStage readers[] = {
        [&](std::size_t slot, std::uint64_t i) {
            return target_reader.read(i, buffers.first[slot].get());
        },
        [&](std::size_t slot, std::uint64_t i) {
            std::uint64_t j = 0;
            if (__builtin_mul_overflow(i, step, &j)) return FrameRead{FrameRead::kEnd, {}, {}};
            return reference_reader.read(j, buffers.second[slot].get());
        },
    };
    std::vector<FrameSnr> results(buffers.count());
    const ConvertStage measure = [&](std::size_t slot, std::uint64_t) {
        auto* t = reinterpret_cast<std::int16_t*>(buffers.first[slot].get());
        auto* r = reinterpret_cast<std::int16_t*>(buffers.second[slot].get());
        le16_to_host(reinterpret_cast<std::uint16_t*>(t), 3 * n);
        le16_to_host(reinterpret_cast<std::uint16_t*>(r), 3 * n);
        results[slot] = measure_frame(t, r, geometry);
    };
    const WriteStage report = [&](std::size_t slot, std::uint64_t i) {
        const FrameSnr& f = results[slot];
        summary.add(f);
        const FrameRecord record{i, i * step, f};
        if (plot.path) records.push_back(record);
        if (!write_report(csv, csv_row(record)) || !write_report(json, json_frame(record, first_row)))
            return false;
        first_row = false;
        if (text_report)
            std::printf("\n%" PRIu64 "\t%.3f\t%.4f\t%.4f", i, f.y, static_cast<double>(f.u), f.v);
        progress.update(i + 1);
        return !std::ferror(stdout);
    };
    // Inputs of different lengths, or that end inside a frame, point to a
    // wrong size or a wrong file: say so. A stream is read to its end for it.
    const auto warn_about_sizes = [&] {
        std::uint64_t t_frames = 0, t_trailing = 0, r_frames = 0, r_trailing = 0;
        void* scratch = buffers.first[0].get();
        for (auto [reader, file, frames, trailing] :
             {std::tuple{&target_reader, &target, &t_frames, &t_trailing},
              {&reference_reader, &reference, &r_frames, &r_trailing}}) {
            file->set_cancel_fd(-1);  // the pipeline's stop signal no longer applies
            if (const std::string why = reader->count(scratch, *frames, *trailing); !why.empty()) {
                fail("cannot read " + file->path(), why);
                return false;
            }
        }
        const std::uint64_t k = summary.frames();
        if (t_frames != (r_frames + step - 1) / step)
            report_line(kProgram, "warning: the inputs hold different numbers of frames: compared " +
                                      std::to_string(k) + " of the " + std::to_string(t_frames) +
                                      " frames of " + target.path() + " with " +
                                      std::to_string(k) + " of the " + std::to_string(r_frames) +
                                      " frames of " + reference.path() + " (frame skip " +
                                      std::to_string(frame_skip) + ")");
        for (auto [file, frames, trailing] : {std::tuple{&target, t_frames, t_trailing},
                                              {&reference, r_frames, r_trailing}}) {
            if (trailing != 0)
                report_error(kProgram, "warning: " + file->path(),
                             std::to_string(trailing) + " trailing bytes ignored after " +
                                 std::to_string(frames) + " whole frames of " +
                                 std::to_string(frame_bytes) + " bytes");
        }
        return true;
    };
    const PipelineResult result = pipeline.run(readers, measure, report);
    progress.finish();
    if (result.end == FrameRead::kError) return fail(result.what, result.reason);
    const std::uint64_t compared = result.frames;

    // A report file that failed has said so; standard output is checked below.
    if (result.write_failed && !std::ferror(stdout)) return kFailed;
    if (text_report && !result.write_failed) {
        const PlaneValues average = summary.average();
        if (compared == 0) {
            std::printf("\n\nAverage SNR Y: nan\nAverage SNR U: nan\nAverage SNR V: nan\n");
        } else {
            std::printf("\n\nAverage SNR Y: %.4f", *average.y);
            std::printf("\nAverage SNR U: %.4f", *average.u);
            std::printf("\nAverage SNR V: %.4f\n", *average.v);
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return fail("cannot write the report to standard output", error_text(errno));
    if (!write_report(json, json_end(info, summary)) ||
        !write_report(plot, plot.path ? svg_plot(info, records, summary) : std::string()))
        return kFailed;
    for (ReportFile& r : reports) {
        if (const int e = r.file.close(); e != 0)
            return fail("cannot write " + r.file.path(), error_text(e));
    }
    if (!warn_about_sizes()) return kFailed;
    // Nothing to compare is a failure, as the nan averages show.
    return compared == 0 ? kFailed : 0;
}

}  // namespace rawframes
