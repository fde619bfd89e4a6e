// frame-snr: per-frame, per-plane SNR of a target file against a reference file
// of any of the suite's pixel formats (16-bit planar Co/Y/Cg by default), with
// an optional frame skip for targets that keep only every (frame_skip + 1)-th
// frame of the reference.
#include "frame_snr_main.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <tuple>
#include <vector>

#include "cli_info.hpp"
#include "diag.hpp"
#include "error_map.hpp"
#include "frame_file.hpp"
#include "frame_job.hpp"
#include "frame_source.hpp"
#include "geometry.hpp"
#include "measures.hpp"
#include "merge.hpp"
#include "options.hpp"
#include "parse.hpp"
#include "pipeline.hpp"
#include "pixel_format.hpp"
#include "report.hpp"
#include "snr.hpp"

namespace rawframes {

namespace {

constexpr const char* kProgram = "frame-snr";
constexpr int kFailed = 1;
constexpr const char* kDescription =
    "Prints the per-frame SNR of each plane of target_file against reference_file,\n"
    "and the averages. Target frame i is compared with reference frame\n"
    "i * (frame_skip + 1). By default the frames are 16-bit planar Co + 1024, Y,\n"
    "Cg + 1024 (yuv10; plane 1 is luma, peak 1023, planes 0 and 2 chroma, peak 2047)\n"
    "of 160 x 112 unless a size is given or a YUV4MPEG2 input states one.\n"
    "Exit status: 0 when frames were compared, 1 otherwise, 255 when a file\n"
    "cannot be opened.\n";
constexpr int kOpenFailed = 255;
constexpr std::int32_t kDefaultHeight = 112;
constexpr std::int32_t kDefaultWidth = 160;
constexpr OptionSpec kFormatOption{"format", true};
constexpr OptionSpec kMergeOption{"merge", false};
constexpr OptionSpec kMeasureOption{"measure", true};
constexpr OptionSpec kLabelOption{"label", true};
constexpr OptionSpec kReferenceLabelOption{"reference-label", true};
constexpr OptionSpec kRegionOption{"region", true};
constexpr OptionSpec kErrorMapOption{"error-map", true};
constexpr OptionSpec kErrorMapFramesOption{"error-map-frames", true};
constexpr OptionSpec kErrorMapPlaneOption{"error-map-plane", true};
constexpr OptionSpec kRunOnlyOptions[] = {
    kFormatOption,   kMergeOption,          kMeasureOption,
    kLabelOption,    kReferenceLabelOption, kRegionOption,
    kErrorMapOption, kErrorMapFramesOption, kErrorMapPlaneOption};
// The report kinds that go to files each give an option (--csv FILE ...).
constexpr std::array<OptionSpec, std::size(kReportFileKinds) + std::size(kRunOnlyOptions)>
options_of_program() {
    std::array<OptionSpec, std::size(kReportFileKinds) + std::size(kRunOnlyOptions)> all{};
    std::size_t k = 0;
    for (const ReportFileKind& kind : kReportFileKinds) all[k++] = {kind.option, true};
    for (const OptionSpec& o : kRunOnlyOptions) all[k++] = o;
    return all;
}
constexpr auto kOptions = options_of_program();
constexpr const char* kReportOptionsHelp =
    "  --format F     the frames' pixel format: yuv10 (default), rgb10 (16-bit planar\n"
    "                 R, G, B, peak 1023), rgb8 (8-bit planar R, G, B, peak 255) or\n"
    "                 yuv420 (8-bit Y, Cb, Cr 4:2:0, peak 255); yuv10 and yuv420\n"
    "                 inputs may be YUV4MPEG2\n"
    "  --csv FILE     also write one CSV row per compared frame to FILE\n"
    "  --json FILE    also write the per-frame figures and a summary as JSON\n"
    "  --plot FILE    also draw the per-frame figures as an SVG picture\n"
    "  --measure LIST measures besides SNR, comma-separated: ssim, ms-ssim (each\n"
    "                 plane), ciede2000 (rgb10 and rgb8: mean and largest colour\n"
    "                 difference); in every report after the SNR\n"
    "  --region X,Y,W,H  measure that rectangle of the frames only\n"
    "  --label NAME, --reference-label NAME\n"
    "                 the names the reports give the inputs\n"
    "  --error-map PREFIX  write PREFIX-FRAME.png, a picture of where the errors are\n"
    "                 (log scale, with its colour bar), and PREFIX-FRAME.json\n"
    "  --error-map-frames LIST  frame numbers and worst:N (default worst:1: the\n"
    "                 frames of the lowest SNR of the first column)\n"
    "  --error-map-plane P  a plane (y, cb, g ...), or max (default): the largest\n"
    "                 difference over the planes\n"
    "  (FILE - is standard output, instead of the text report; one of them at most)\n"
    "  --merge A.json B.json ...\n"
    "                 the reports of the whole run from the JSON reports of its\n"
    "                 consecutive frame ranges (--start, --frames), in order\n";

const ProgramSpec kSpec{
    .program = kProgram,
    .usage = "\nError!\nUsage: %s target_file reference_file frame_skip [height] [width]\n",
    .help_usage_from = 8,  // --help shows it without "Error!"
    .description = kDescription,
    .options = kOptions,
    .options_help = kReportOptionsHelp,
    .usage_status = kFailed,
    .failure_status = kFailed,
    .usage_to_stderr = false,
    .kernels = [] { return best_isa(squared_error_variants()); },
};

int fail(const std::string& what, const std::string& reason) {
    report_error(kProgram, what, reason);
    return kFailed;
}

// The reports asked for: the text report on standard output, unless one of
// the others takes its place there, and the CSV, JSON and plot files.
class Reports {
  public:
    // Returns the failure status when two are asked for on standard output.
    std::optional<int> choose(const CommandLine& line) {
        for (std::size_t k = 0; k < std::size(kReportFileKinds); ++k) {
            destinations_[k + 1].kind = kReportFileKinds[k].kind;
            destinations_[k + 1].path = line.value(kReportFileKinds[k].option);
        }
        int on_stdout = 0;
        for (const Destination& d : destinations_)
            on_stdout += d.kind != ReportKind::kText && d.path == "-";
        if (on_stdout > 1)
            return fail("cannot write two reports to standard output",
                        "give - for one of --csv, --json and --plot only");
        if (on_stdout == 1) destinations_[0].path.reset();
        return std::nullopt;
    }
    // Opens the report files, and empties them and starts the reports only
    // once none of them is an input or where another report goes.
    std::optional<int> open(std::span<const InputFile* const> inputs, const ReportInfo& info) {
        for (Destination& d : destinations_) {
            if (!d.path) continue;
            int e = d.file.create(d.path->c_str(), *inputs[0],
                                  inputs.size() > 1 ? inputs[1] : nullptr, false);
            for (std::size_t k = 2; k < inputs.size() && e == 0; ++k)
                if (!inputs[k]->is_stream() && same_destination(d.file.fd(), inputs[k]->fd()))
                    e = OutputFile::kSameFile;
            if (e != 0)
                return fail("cannot write " + d.file.path(),
                            e == OutputFile::kSameFile ? "it is one of the inputs" : error_text(e));
        }
        for (std::size_t a = 0; a < std::size(destinations_); ++a) {
            for (std::size_t b = a + 1; b < std::size(destinations_); ++b) {
                const Destination &first = destinations_[a], &second = destinations_[b];
                if (first.path && second.path &&
                    same_destination(first.file.fd(), second.file.fd()))
                    return fail(
                        "cannot write " + second.file.path(),
                        first.kind == ReportKind::kText
                            ? "it is where the text report goes (standard output)"
                            : "it is where another report goes (" + first.file.path() + ")");
            }
        }
        for (Destination& d : destinations_) {
            if (!d.path) continue;
            if (const int e = d.file.truncate(); e != 0)
                return fail("cannot write " + d.file.path(), error_text(e));
            d.report = make_report(d.kind, info);
        }
        if (!write([](Report& r) { return r.begin(); })) return kFailed;
        return std::nullopt;
    }
    // Each false when a report cannot be written (said).
    bool frame(const FrameRecord& record) {
        return write([&](Report& r) { return r.frame(record); });
    }
    bool end(const ReportSummary& summary) {
        if (!write([&](Report& r) { return r.end(summary); })) return false;
        for (Destination& d : destinations_) {
            if (const int e = d.file.close(); e != 0) {
                fail("cannot write " + d.name(), error_text(e));
                return false;
            }
        }
        return true;
    }

  private:
    struct Destination {
        ReportKind kind = ReportKind::kText;
        std::optional<std::string> path = "-";  // "-": standard output
        OutputFile file;
        std::unique_ptr<Report> report;
        // The name in messages.
        std::string name() const {
            return kind == ReportKind::kText ? "the report to standard output" : file.path();
        }
    };
    template <class TextOf>
    bool write(const TextOf& text_of) {
        for (Destination& d : destinations_) {
            if (!d.report) continue;
            const std::string text = text_of(*d.report);
            if (const int e = d.file.write(text.data(), text.size()); e != 0) {
                fail("cannot write " + d.name(), error_text(e));
                return false;
            }
        }
        return true;
    }
    // The text report first, then the report kinds that go to files.
    std::array<Destination, 1 + std::size(kReportFileKinds)> destinations_;
};

// "X,Y,W,H", four whole numbers.
std::optional<Region> parse_region(const std::string& text) {
    std::int64_t v[4];
    std::size_t at = 0;
    for (int k = 0; k < 4; ++k) {
        const std::size_t end = k < 3 ? text.find(',', at) : text.size();
        if (end == std::string::npos || end <= at || end - at > 10) return std::nullopt;
        v[k] = 0;
        for (std::size_t i = at; i < end; ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            v[k] = v[k] * 10 + (text[i] - '0');
        }
        if (v[k] > INT32_MAX) return std::nullopt;
        at = end + 1;
    }
    return Region{static_cast<std::int32_t>(v[0]), static_cast<std::int32_t>(v[1]),
                  static_cast<std::int32_t>(v[2]), static_cast<std::int32_t>(v[3])};
}

// The error maps of a run: each frame it names as the frame is reported, and
// the N worst kept (their frames copied: N pairs at most) until the run ends.
class ErrorMaps {
  public:
    ErrorMaps(std::string prefix, ErrorMapFrames frames, std::optional<std::uint32_t> plane,
              const ReportInfo& info, const PixelFormat& format, const FrameGeometry& g)
        : prefix_(std::move(prefix)),
          frames_(std::move(frames)),
          plane_(plane),
          info_(info),
          format_(format),
          g_(g),
          bytes_(frame_bytes(format, g)) {}
    // False when a map cannot be written (said).
    bool frame(const FrameRecord& r, const std::uint8_t* target, const std::uint8_t* reference) {
        if (std::binary_search(frames_.frames.begin(), frames_.frames.end(), r.frame) &&
            !write(r.frame, r.reference_frame, target, reference))
            return false;
        if (frames_.worst == 0) return true;
        // The lowest SNR of the first column; identical planes are the best.
        const double score = r.figures[0].sse == 0 ? INFINITY : r.figures[0].snr;
        if (worst_.size() == frames_.worst && !(score < worst_.back().score)) return true;
        if (worst_.size() == frames_.worst) worst_.pop_back();
        Kept kept{score, r.frame, r.reference_frame, std::vector<std::uint8_t>(2 * bytes_)};
        std::memcpy(kept.frames.data(), target, bytes_);
        std::memcpy(kept.frames.data() + bytes_, reference, bytes_);
        const auto at =
            std::upper_bound(worst_.begin(), worst_.end(), kept,
                             [](const Kept& a, const Kept& b) { return a.score < b.score; });
        worst_.insert(at, std::move(kept));
        return true;
    }
    bool end() {
        std::sort(worst_.begin(), worst_.end(),
                  [](const Kept& a, const Kept& b) { return a.frame < b.frame; });
        for (const Kept& k : worst_)
            if (!std::binary_search(frames_.frames.begin(), frames_.frames.end(), k.frame) &&
                !write(k.frame, k.reference_frame, k.frames.data(), k.frames.data() + bytes_))
                return false;
        return true;
    }

  private:
    struct Kept {
        double score;
        std::uint64_t frame, reference_frame;
        std::vector<std::uint8_t> frames;  // target, then reference
    };
    std::string key_of(std::uint32_t plane) const {
        std::string s = format_.planes[plane].name;
        for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        return s;
    }
    bool write(std::uint64_t frame, std::uint64_t reference_frame, const std::uint8_t* target,
               const std::uint8_t* reference) {
        const ErrorMap map = error_map(format_, g_, target, reference, plane_);
        std::uint32_t height = 0;
        const std::vector<std::uint8_t> picture = error_map_picture(map, height);
        const std::string base = prefix_ + "-" + std::to_string(frame);
        const std::string png = base + ".png", sidecar = base + ".json";
        const std::string what =
            plane_ ? "the |difference| of " + std::string(format_.planes[*plane_].name)
                   : std::string("the largest |difference| of the planes");
        if (const std::string why =
                write_png(png, picture, map.width, height,
                          "frame-snr error map of frame " + std::to_string(frame) + ": " + what +
                              ", log scale from 0 to " + std::to_string(map.largest));
            !why.empty()) {
            fail("cannot write " + png, why);
            return false;
        }
        const std::string json =
            "{\"frame\": " + std::to_string(frame) +
            ", \"reference_frame\": " + std::to_string(reference_frame) +
            ", \"target\": " + json_string(info_.target) +
            ", \"reference\": " + json_string(info_.reference) +
            ", \"picture\": " + json_string(png.substr(png.rfind('/') + 1)) +
            ", \"width\": " + std::to_string(map.width) +
            ", \"height\": " + std::to_string(map.height) + ", \"plane\": \"" +
            (plane_ ? key_of(*plane_) : std::string("max")) +
            "\",\n \"scale\": {\"kind\": \"log\", \"from\": 0, \"to\": " +
            std::to_string(map.largest) +
            ", \"colours\": \"viridis: a difference of 0 is colour 0, d > 0 colour 1 + floor(254 "
            "ln(1 + d) / ln(1 + to))\", \"bar_rows\": " +
            std::to_string(kErrorMapStrip) +
            "},\n \"largest\": {\"difference\": " + std::to_string(map.largest) +
            ", \"x\": " + std::to_string(map.x) + ", \"y\": " + std::to_string(map.y) +
            ", \"plane\": \"" + key_of(map.plane_of_largest) + "\"}}\n";
        OutputFile out;
        InputFile none;
        int e = out.create(sidecar.c_str(), none);
        if (e == 0) e = out.write(json.data(), json.size());
        if (e == 0) e = out.close();
        if (e != 0) {
            fail("cannot write " + sidecar, error_text(e));
            return false;
        }
        return true;
    }
    std::string prefix_;
    ErrorMapFrames frames_;
    std::optional<std::uint32_t> plane_;
    const ReportInfo& info_;
    const PixelFormat& format_;
    FrameGeometry g_;
    std::uint64_t bytes_;
    std::vector<Kept> worst_;  // by score, the lowest first
};

// frame-snr --merge: the reports of the whole measurement from the JSON
// reports of its consecutive frame ranges. Each is read three times: for the
// run it is of, then checked throughout (so that no report is begun that
// could not be finished), then handed on frame by frame. Reports must be
// regular files, which are looked at before they are opened.
int merge(const CommandLine& line) {
    const std::vector<const char*>& paths = line.positional;
    if (paths.empty()) return fail("nothing to merge", "give the JSON reports of the ranges");
    Reports reports;
    if (const auto status = reports.choose(line)) return *status;
    std::vector<std::unique_ptr<InputFile>> files;
    for (const char* path : paths) {
        if (std::strcmp(path, "-") == 0)
            return fail("cannot merge standard input", "give the reports as files");
        struct stat st {};
        if (::stat(path, &st) != 0) return fail("cannot open " + escaped(path), error_text(errno));
        if (!S_ISREG(st.st_mode))
            return fail("cannot merge " + escaped(path),
                        "it is not a regular file (a report is read more than once)");
        files.push_back(std::make_unique<InputFile>());
        if (const int e = files.back()->open(path); e != 0)
            return fail("cannot open " + std::string(path), error_text(e));
    }
    const auto same_run = [](const ReportInfo& a, const ReportInfo& b) {
        return a.layout.format == b.layout.format && a.width == b.width && a.height == b.height &&
               a.frame_skip == b.frame_skip && a.measures == b.measures && a.region == b.region;
    };
    const auto run_text = [](const ReportInfo& i) {
        std::string measured;
        for (const Measure* m : i.measures) measured += std::string(", ") + m->name();
        return std::string(i.layout.format->name) + " " + std::to_string(i.width) + " x " +
               std::to_string(i.height) + ", frame skip " + std::to_string(i.frame_skip) +
               (i.measures.size() > 1 ? measured : std::string());
    };
    ReportInfo info;
    std::optional<std::uint64_t> next;  // the frame the next range must begin with
    std::string previous;               // the report that ended before it
    for (std::size_t k = 0; k < files.size(); ++k) {
        InputFile& file = *files[k];
        try {
            const ReportInfo shard = read_report_info(file);
            if (k == 0) info = shard;
            if (!same_run(info, shard))
                return fail("cannot merge " + file.path(), "it measures " + run_text(shard) +
                                                               " where " + files[0]->path() +
                                                               " measures " + run_text(info));
            read_report_frames(file, info, [&](const FrameRecord& r) {
                if (next && r.frame != *next)
                    throw MergeError("it goes on from frame " + std::to_string(r.frame) + ", but " +
                                     previous + " ends at frame " + std::to_string(*next - 1) +
                                     (r.frame < *next
                                          ? ": the ranges overlap"
                                          : ": frames " + std::to_string(*next) + " to " +
                                                std::to_string(r.frame - 1) + " are missing"));
                next = r.frame + 1;
                previous = file.path();
            });
        } catch (const MergeError& e) {
            return fail("cannot merge " + file.path(), e.what());
        }
    }
    std::vector<const InputFile*> inputs;
    for (const auto& f : files) inputs.push_back(f.get());
    if (const auto status = reports.open(inputs, info)) return *status;
    ReportSummary summary(info.layout, info.measures);
    struct WriteFailed {};
    for (const auto& file : files) {
        try {
            read_report_frames(*file, info, [&](const FrameRecord& r) {
                summary.add(r);
                if (!reports.frame(r)) throw WriteFailed{};
            });
        } catch (const MergeError& e) {
            return fail("cannot merge " + file->path(), e.what());
        } catch (const WriteFailed&) {
            return kFailed;
        }
    }
    if (!reports.end(summary)) return kFailed;
    return summary.frames() == 0 ? kFailed : 0;
}

int run(int argc, char** argv) {
    const ProgramStart start = start_program(kSpec, argc, argv);
    if (start.status) return *start.status;
    const CommandLine& line = start.line;
    const RunOptions& options = start.run;
    const PixelFormat* format = &kYuv10;
    if (const auto name = line.value(kFormatOption.name)) {
        format = find_pixel_format(*name);
        if (format == nullptr) {
            std::string known;
            for (const PixelFormat* f : pixel_formats())
                known += (known.empty() ? " " : ", ") + std::string(f->name);
            return usage_error(kSpec, argv, "unknown --format '" + *name + "': expected" + known);
        }
    }
    if (line.has(kMergeOption.name)) {
        for (const OptionSpec& o : kRunOnlyOptions)
            if (std::string(o.name) != kMergeOption.name && line.has(o.name))
                return usage_error(kSpec, argv,
                                   "--merge takes the run (format, size, frames, measures, "
                                   "region, names) from the reports: --" +
                                       std::string(o.name) + " has no place there");
        if (line.has(kStartOption.name) || line.has(kFramesOption.name) ||
            line.has(kShardOption.name))
            return usage_error(kSpec, argv, "--merge takes the frames from the reports");
        return merge(line);
    }
    const std::size_t count = line.positional.size();
    if (count < 3)
        return usage_error(kSpec, argv, "target_file, reference_file and frame_skip are needed");
    if (count == 4) return usage_error(kSpec, argv, "a height was given without a width");
    const ReportLayout layout = report_layout(*format);
    const char* target_path = line.positional[0];
    const char* reference_path = line.positional[1];
    const std::int32_t frame_skip = parse_int(line.positional[2]);
    FrameGeometry geometry{0, 0};  // 0 x 0: not given
    if (count >= 5) {
        geometry.height = parse_int(line.positional[3]);
        geometry.width = parse_int(line.positional[4]);
        if (const std::string why = check_geometry(geometry); !why.empty())
            return fail("invalid frame size", why);
    }
    if (std::strcmp(target_path, "-") == 0 && std::strcmp(reference_path, "-") == 0)
        return fail("cannot read standard input twice",
                    "give - for one of target_file and reference_file only");
    std::vector<const Measure*> measures;
    if (const std::string why =
            choose_measures(line.value(kMeasureOption.name).value_or("snr"), *format, measures);
        !why.empty())
        return usage_error(kSpec, argv, why);
    std::optional<Region> region;
    if (const auto text = line.value(kRegionOption.name)) {
        region = parse_region(*text);
        if (!region)
            return usage_error(kSpec, argv,
                               "invalid --region '" + *text + "': expected X,Y,WIDTH,HEIGHT");
    }
    // Error maps: the frames and the plane.
    const std::optional<std::string> map_prefix = line.value(kErrorMapOption.name);
    ErrorMapFrames map_frames;
    std::optional<std::uint32_t> map_plane;
    if (!map_prefix &&
        (line.has(kErrorMapFramesOption.name) || line.has(kErrorMapPlaneOption.name)))
        return usage_error(kSpec, argv,
                           "--error-map-frames and --error-map-plane go with --error-map");
    if (map_prefix) {
        if (!png_available())
            return fail("cannot write error maps", "this build has no PNG support (libpng)");
        const std::string list = line.value(kErrorMapFramesOption.name).value_or("worst:1");
        if (const std::string why = parse_error_map_frames(list, map_frames); !why.empty())
            return usage_error(kSpec, argv, "--error-map-frames: " + why);
        const std::string plane = line.value(kErrorMapPlaneOption.name).value_or("max");
        if (plane != "max") {
            for (std::size_t c = 0; c < 3; ++c)
                if (json_key(layout, c) == plane) map_plane = layout.plane[c];
            if (!map_plane)
                return usage_error(kSpec, argv,
                                   "--error-map-plane '" + plane +
                                       "': expected max or a plane of " + format->name);
        }
    }
    Reports reports;
    if (const auto status = reports.choose(line)) return *status;

    InputFile target, reference;
    if (target.open(target_path) != 0) {
        report_raw_line(std::string("Error open file ") + target_path);
        return kOpenFailed;
    }
    if (reference.open(reference_path) != 0) {
        report_raw_line(std::string("Error open file ") + reference_path);
        return kOpenFailed;
    }
    // Target frame i is compared with reference frame i * step.
    const std::uint64_t step = frame_skip > 0 ? std::uint64_t(frame_skip) + 1 : 1;
    FrameJob job(kProgram, options);
    job.add_input(target, *format);
    job.add_input(reference, *format, step);
    FrameSource &target_frames = job.source(0), &reference_frames = job.source(1);
    // A YUV4MPEG2 input states its size; raw ones take the default when none
    // is given.
    if (auto failure = job.start(geometry)) return fail(failure->what, failure->reason);
    if (geometry.width == 0 && geometry.height == 0) {
        geometry = {kDefaultWidth, kDefaultHeight};
        report_line(kProgram, "warning: no size given: assuming the default " +
                                  std::to_string(kDefaultWidth) + " x " +
                                  std::to_string(kDefaultHeight) + " (give height and width)");
    }
    if (const std::string why = check_geometry(geometry); !why.empty())
        return fail("invalid frame size", why);
    job.warn_raw_y4m(std::string("raw ") + format->name + " frames");
    if (region)
        if (const std::string why = check_region(*format, geometry, *region); !why.empty())
            return fail("cannot measure a region", why);
    // What is measured: the region, or the whole frames.
    const FrameGeometry measured = region ? FrameGeometry{region->width, region->height} : geometry;
    for (const Measure* m : measures)
        for (const std::string& w : m->start_warnings(layout, measured))
            report_line(kProgram, "warning: " + w);

    // Each slot has the measures' scratch memory beside its two frames, and
    // the region of each when one is measured.
    std::size_t scratch = 0;
    for (const Measure* m : measures)
        scratch = std::max(scratch, m->scratch_doubles(layout, measured));
    const std::uint64_t frame_bytes = rawframes::frame_bytes(*format, geometry);
    const std::uint64_t region_bytes = rawframes::frame_bytes(*format, measured);
    std::vector<std::uint64_t> other;
    const std::size_t scratch_buffer = 2, region_buffer = scratch != 0 ? 3 : 2;
    if (scratch != 0) other.push_back(scratch * sizeof(double));
    if (region) other.insert(other.end(), {region_bytes, region_bytes});
    // Measures beyond SNR keep the workers busier than the readers.
    if (!job.prepare(geometry, 0, other, measures.size() == 1))
        return fail("cannot allocate frame buffers",
                    "2 x " + std::to_string(frame_bytes) +
                        (scratch ? " bytes and scratch memory" : " bytes") + " are not available");

    // Seekable files are measured before any report line; streams are read
    // until they end. Only while the reference frame lies wholly inside the
    // reference is a target frame compared.
    if (auto failure = job.measure(geometry)) return fail(failure->what, failure->reason);
    std::optional<std::uint64_t> compared;
    if (target_frames.counted() && reference_frames.counted())
        compared =
            std::min(*target_frames.counted(), (*reference_frames.counted() + step - 1) / step);
    if (auto failure = job.range(compared)) return fail(failure->what, failure->reason);
    const std::uint64_t first = job.options().start;

    // The reports give the skip that was used (none for a negative one).
    const ReportInfo info{line.value(kLabelOption.name).value_or(target.path()),
                          line.value(kReferenceLabelOption.name).value_or(reference.path()),
                          layout,
                          geometry.width,
                          geometry.height,
                          static_cast<std::int32_t>(step - 1),
                          measures,
                          region};
    const InputFile* const inputs_of_reports[] = {&target, &reference};
    if (const auto status = reports.open(inputs_of_reports, info)) return *status;
    ReportSummary summary(layout, measures);

    std::vector<FrameRecord> results(job.slots());
    // The frames measured: the slot's frames, or their regions.
    const auto measured_frames = [&](std::size_t slot) {
        if (!region) return std::pair{job.buffer(slot, 0), job.buffer(slot, 1)};
        return std::pair{job.buffer(slot, region_buffer), job.buffer(slot, region_buffer + 1)};
    };
    const ConvertStage measure_stage = [&](std::size_t slot, std::uint64_t) {
        FrameRecord& r = results[slot];
        r = FrameRecord{};
        if (region)
            for (std::size_t k = 0; k < 2; ++k)
                crop_frame(*format, geometry, job.buffer(slot, k), *region,
                           job.buffer(slot, region_buffer + k));
        double* scratch_memory =
            scratch != 0 ? reinterpret_cast<double*>(job.buffer(slot, scratch_buffer)) : nullptr;
        const auto [t, ref] = measured_frames(slot);
        for (std::size_t k = 0; k < measures.size(); ++k)
            measures[k]->measure(layout, t, ref, measured, scratch_memory, r, k);
    };
    ErrorMaps maps(map_prefix.value_or(""), map_frames, map_plane, info, *format, measured);
    const WriteStage report = [&](std::size_t slot, std::uint64_t i) {
        FrameRecord& record = results[slot];
        record.frame = first + i;
        record.reference_frame = (first + i) * step;
        summary.add(record);
        if (!reports.frame(record)) return false;
        if (!map_prefix) return true;
        const auto [t, ref] = measured_frames(slot);
        return maps.frame(record, t, ref);
    };
    // Inputs of different lengths, or that end inside a frame, point to a
    // wrong size or a wrong file: say so. A stream is read to its end for it,
    // unless --frames ended the run (the stream may never end).
    const auto warn_about_sizes = [&](const PipelineResult& result) {
        if (job.options().frames && result.frames == *job.options().frames &&
            (target.is_stream() || reference.is_stream()))
            return true;
        std::uint64_t t_frames = 0, t_trailing = 0, r_frames = 0, r_trailing = 0;
        std::uint8_t* scratch_frame = job.buffer(0, 0);
        for (auto [source, file, frames, trailing] :
             {std::tuple{&target_frames, &target, &t_frames, &t_trailing},
              {&reference_frames, &reference, &r_frames, &r_trailing}}) {
            file->set_cancel_fd(-1);  // the pipeline's stop signal no longer applies
            if (const std::string why = source->count_to_end(scratch_frame, *frames, *trailing);
                !why.empty()) {
                fail("cannot read " + file->path(), why);
                return false;
            }
        }
        const std::uint64_t k = summary.frames();
        if (t_frames != (r_frames + step - 1) / step)
            report_line(kProgram,
                        "warning: the inputs hold different numbers of frames: compared " +
                            std::to_string(k) + " of the " + std::to_string(t_frames) +
                            " frames of " + target.path() + " with " + std::to_string(k) +
                            " of the " + std::to_string(r_frames) + " frames of " +
                            reference.path() + " (frame skip " + std::to_string(frame_skip) + ")");
        for (auto [file, frames, trailing] :
             {std::tuple{&target, t_frames, t_trailing}, {&reference, r_frames, r_trailing}}) {
            if (trailing != 0)
                report_error(kProgram, "warning: " + file->path(),
                             std::to_string(trailing) + " trailing bytes ignored after " +
                                 std::to_string(frames) + " whole frames of " +
                                 std::to_string(frame_bytes) + " bytes");
        }
        return true;
    };
    // On a terminal the report itself shows how far the run is.
    const PipelineResult result =
        job.run(options.progress && ::isatty(STDOUT_FILENO) != 1, {}, measure_stage, report);
    if (result.end == FrameRead::kError) return fail(result.what, result.reason);
    if (result.write_failed || !reports.end(summary)) return kFailed;
    if (map_prefix && !maps.end()) return kFailed;
    for (const std::string& w : note_warnings(layout, summary.notes()))
        report_line(kProgram, "warning: " + w);
    if (!warn_about_sizes(result)) return kFailed;
    // Nothing to compare is a failure, as the nan averages show.
    return result.frames == 0 ? kFailed : 0;
}

}  // namespace

int frame_snr_main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return fail("out of memory", "the run needs more memory than it can have");
    }
}

}  // namespace rawframes
