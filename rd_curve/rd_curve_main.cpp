// rd-curve: the answer of a rate-distortion experiment. Points of routes, each
// a rate and the quality a frame-snr JSON report gives, make a curve per route;
// every route is compared with the anchor by its Bjontegaard delta rate and
// quality. Reports: the table and the deltas as text, CSV, JSON and an SVG
// plot.
#include "rd_curve_main.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bd_rate.hpp"
#include "cli_info.hpp"
#include "diag.hpp"
#include "frame_file.hpp"
#include "merge.hpp"
#include "rd_report.hpp"

namespace rawframes {

namespace {

constexpr const char* kProgram = "rd-curve";
constexpr int kFailed = 1;
constexpr OptionSpec kQualityOption{"quality", true};
constexpr OptionSpec kFpsOption{"fps", true};
constexpr OptionSpec kPoolingOption{"pooling", true};
constexpr OptionSpec kAnchorOption{"anchor", true};
constexpr OptionSpec kInterpolationOption{"interpolation", true};
constexpr OptionSpec kPointsOption{"points", true};
constexpr OptionSpec kCsvOption{"csv", true};
constexpr OptionSpec kJsonOption{"json", true};
constexpr OptionSpec kPlotOption{"plot", true};
constexpr OptionSpec kOptions[] = {kQualityOption, kFpsOption,           kPoolingOption,
                                   kAnchorOption,  kInterpolationOption, kPointsOption,
                                   kCsvOption,     kJsonOption,          kPlotOption};

const ProgramSpec kSpec{
    .program = kProgram,
    .usage =
        "Usage: rd-curve --quality KEY [--fps F] [--pooling mean|global] [--anchor NAME]\n"
        "  [--interpolation pchip|cubic|akima] [--points FILE.csv] [--csv F] [--json F]\n"
        "  [--plot F.svg] [ROUTE RATE REPORT]...\n",
    .help_usage_from = 0,
    .description =
        "Compares the rate-quality curves of routes: each point is a route's name, a\n"
        "rate (kbit/s when it reads as a number, otherwise a coded file: its size\n"
        "times 8 times --fps over the report's frames) and a frame-snr JSON report,\n"
        "whose pooled KEY is the quality: snr_<plane> (the mean, or with --pooling\n"
        "global the SNR of all samples), ssim_<plane>, ms_ssim_<plane>, delta_e,\n"
        "delta_e_max (lower is better), or snr_611, (6 luma + 2 chroma SNRs) / 8.\n"
        "Points come as ROUTE RATE REPORT triples and from --points, a CSV file with\n"
        "the header route,rate,report (paths relative to it). Prints the table and\n"
        "each route's Bjontegaard delta rate (percent, negative: fewer bits) and\n"
        "quality against the anchor (the first route unless --anchor), over the\n"
        "qualities both curves cover.\n"
        "Exit status: 0 on success, 1 on any error, 2 for a usage error.\n",
    .options = kOptions,
    .options_help =
        "  --quality KEY  the quality (see above)\n"
        "  --fps F        frames per second, for rates given as coded files (25, 30000/1001)\n"
        "  --pooling P    mean (default) or global, for snr keys\n"
        "  --anchor NAME  the route the others are compared with\n"
        "  --interpolation I  pchip (default), cubic or akima\n"
        "  --points FILE  points from a CSV file: route,rate,report\n"
        "  --csv FILE     also write the table as CSV\n"
        "  --json FILE    also write the table and the deltas as JSON\n"
        "  --plot FILE    also draw the curves as an SVG picture\n"
        "  (FILE - is standard output, instead of the text report; one of them at most)\n",
    .usage_status = 2,
    .failure_status = kFailed,
    .usage_to_stderr = true,
    .kernels = [] { return Isa::kPlain; },
    .frame_options = false,
};

// A failure of the run: what failed and why.
struct Failure {
    std::string what, reason;
};

std::optional<double> number_of(const std::string& text) {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// A point as given: route, rate text and report path (relative to `base`).
struct PointText {
    std::string route, rate, report, base;
};

std::string joined(const std::string& base, const std::string& path) {
    if (base.empty() || path.empty() || path[0] == '/') return path;
    return base + "/" + path;
}

// The fields of a CSV line (RFC 4180 quoting).
std::vector<std::string> csv_fields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"')
                fields.back() += '"', ++i;
            else if (c == '"')
                quoted = false;
            else
                fields.back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// The points of a CSV file whose header is route,rate,report.
std::optional<Failure> read_points(const std::string& path, std::vector<PointText>& points) {
    InputFile file;
    if (const int e = file.open(path.c_str()); e != 0)
        return Failure{"cannot open " + file.path(), error_text(e)};
    std::string text, chunk(1 << 16, '\0');
    for (;;) {
        const Transfer t = file.read(chunk.data(), chunk.size());
        if (t.error != 0) return Failure{"cannot read " + file.path(), error_text(t.error)};
        text.append(chunk, 0, t.bytes);
        if (t.bytes < chunk.size()) break;
        if (text.size() > (std::size_t{64} << 20))
            return Failure{"cannot read " + file.path(), "it is larger than 64 MiB"};
    }
    const std::size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? "" : path.substr(0, slash);
    std::size_t line_number = 0;
    bool header = true;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++line_number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const std::vector<std::string> f = csv_fields(line);
        if (header) {
            if (f != std::vector<std::string>{"route", "rate", "report"})
                return Failure{"cannot read " + file.path(),
                               "its first line is not the header route,rate,report"};
            header = false;
            continue;
        }
        if (f.size() != 3 || f[0].empty() || f[1].empty() || f[2].empty())
            return Failure{"cannot read " + file.path(),
                           "line " + std::to_string(line_number) + " is not route,rate,report"};
        points.push_back({f[0], f[1], f[2], base});
    }
    if (header) return Failure{"cannot read " + file.path(), "it has no header route,rate,report"};
    return std::nullopt;
}

// What a quality key reads of a report's summary.
struct Quality {
    std::string key, title;
    bool lower_is_better = false;
    bool snr = false;
};

std::optional<Quality> quality_of(const std::string& key, const ReportLayout& layout) {
    const auto plane_title = [&](const std::string& suffix) -> std::optional<std::string> {
        for (std::size_t c = 0; c < 3; ++c)
            if (json_key(layout, c) == suffix) return layout.name(c);
        return std::nullopt;
    };
    if (key == "snr_611") return Quality{key, "SNR (6 luma + 2 chroma) / 8 (dB)", false, true};
    if (key == "delta_e") return Quality{key, "mean CIEDE2000 difference", true, false};
    if (key == "delta_e_max") return Quality{key, "largest CIEDE2000 difference", true, false};
    for (const auto& [prefix, title] : {std::pair<std::string, std::string>{"snr_", "SNR of "},
                                        {"ms_ssim_", "MS-SSIM of "},
                                        {"ssim_", "SSIM of "}}) {
        if (key.rfind(prefix, 0) != 0) continue;
        if (const auto plane = plane_title(key.substr(prefix.size())))
            return Quality{key, title + *plane + (prefix == "snr_" ? " (dB)" : ""), false,
                           prefix == "snr_"};
    }
    return std::nullopt;
}

// Every key the reports of this layout may give.
std::string quality_keys(const ReportLayout& layout) {
    std::string keys;
    for (const char* prefix : {"snr_", "ssim_", "ms_ssim_"})
        for (std::size_t c = 0; c < 3; ++c) keys += prefix + json_key(layout, c) + ", ";
    return keys + "snr_611, delta_e, delta_e_max";
}

// The report's value of the quality.
std::optional<double> value_of(const ReportFigures& figures, const Quality& q, bool global) {
    const auto read = [&](const std::string& place) -> std::optional<double> {
        const JsonScalar* v = figures.summary.find(place);
        if (v == nullptr || v->kind == JsonScalar::kNull || v->kind == JsonScalar::kString ||
            v->kind == JsonScalar::kBool)
            return std::nullopt;
        return number_of(v->text);
    };
    const std::string pooled = global ? "global." : "average.";
    if (q.key == "snr_611") {
        // Luma is Y, or G of RGB; the other two planes are the chroma.
        const ReportLayout& l = figures.info.layout;
        std::size_t luma = 0;
        for (std::size_t c = 0; c < 3; ++c)
            if (json_key(l, c) == "y" || json_key(l, c) == "g") luma = c;
        std::optional<double> v[3];
        for (std::size_t c = 0; c < 3; ++c) v[c] = read(pooled + json_key(l, c));
        if (!v[0] || !v[1] || !v[2]) return std::nullopt;
        double chroma = 0;
        for (std::size_t c = 0; c < 3; ++c)
            if (c != luma) chroma += *v[c];
        return (6 * *v[luma] + chroma) / 8;
    }
    if (q.snr) return read(pooled + q.key.substr(4));
    if (q.key.rfind("ms_ssim_", 0) == 0) return read("average.ms_ssim." + q.key.substr(8));
    if (q.key.rfind("ssim_", 0) == 0) return read("average.ssim." + q.key.substr(5));
    return read("average." + q.key);
}

// The rate a point gives, in kbit/s.
std::optional<Failure> rate_of(const PointText& p, std::optional<double> fps, std::uint64_t frames,
                               double& rate) {
    if (const auto v = number_of(p.rate)) {
        if (!(*v > 0)) return Failure{"invalid rate '" + p.rate + "'", "it is not above 0"};
        rate = *v;
        return std::nullopt;
    }
    const std::string path = joined(p.base, p.rate);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return Failure{
            "cannot read the rate '" + p.rate + "'",
            "it is neither a number of kbit/s nor a coded file (" + error_text(errno) + ")"};
    if (!fps)
        return Failure{"cannot read the rate of " + path,
                       "a rate given as a coded file needs --fps"};
    if (frames == 0) return Failure{"cannot read the rate of " + path, "its report has no frames"};
    rate = static_cast<double>(st.st_size) * 8 * *fps / static_cast<double>(frames) / 1000;
    if (!(rate > 0)) return Failure{"cannot read the rate of " + path, "the file is empty"};
    return std::nullopt;
}

std::optional<double> frame_rate(const std::string& text) {
    const std::size_t over = text.find_first_of("/:");
    if (over == std::string::npos) return number_of(text);
    const auto num = number_of(text.substr(0, over)), den = number_of(text.substr(over + 1));
    if (!num || !den || *den == 0) return std::nullopt;
    return *num / *den;
}

int fail(const Failure& f) {
    report_error(kProgram, f.what, f.reason);
    return kFailed;
}

int run(int argc, char** argv) {
    const ProgramStart start = start_program(kSpec, argc, argv);
    if (start.status) return *start.status;
    const CommandLine& line = start.line;
    const auto quality_key = line.value(kQualityOption.name);
    if (!quality_key) return usage_error(kSpec, argv, "--quality KEY is needed");
    const std::string pooling = line.value(kPoolingOption.name).value_or("mean");
    if (pooling != "mean" && pooling != "global")
        return usage_error(kSpec, argv,
                           "invalid --pooling '" + pooling + "': expected mean or global");
    const Interpolation* how =
        find_interpolation(line.value(kInterpolationOption.name).value_or("pchip"));
    if (how == nullptr)
        return usage_error(kSpec, argv,
                           "invalid --interpolation '" + *line.value(kInterpolationOption.name) +
                               "': expected pchip, cubic or akima");
    std::optional<double> fps;
    if (const auto text = line.value(kFpsOption.name)) {
        fps = frame_rate(*text);
        if (!fps || !(*fps > 0))
            return usage_error(
                kSpec, argv,
                "invalid --fps '" + *text + "': expected a rate such as 25 or 30000/1001");
    }
    if (line.positional.size() % 3 != 0)
        return usage_error(kSpec, argv, "points come as ROUTE RATE REPORT triples");
    int on_stdout = 0;
    for (const OptionSpec* o : {&kCsvOption, &kJsonOption, &kPlotOption})
        on_stdout += line.value(o->name) == std::optional<std::string>("-");
    if (on_stdout > 1)
        return usage_error(kSpec, argv, "give - for one of --csv, --json and --plot only");

    std::vector<PointText> given;
    if (const auto csv = line.value(kPointsOption.name))
        if (auto f = read_points(*csv, given)) return fail(*f);
    for (std::size_t k = 0; k < line.positional.size(); k += 3)
        given.push_back({line.positional[k], line.positional[k + 1], line.positional[k + 2], ""});
    if (given.empty())
        return usage_error(kSpec, argv, "no points: give ROUTE RATE REPORT or --points");

    // Every report is read for its run and summary.
    RdRun rd;
    rd.pooling = pooling;
    rd.how = *how;
    std::optional<Quality> quality;
    std::string format_of_key, first_report;
    std::map<std::string, std::uint64_t> frames_of_route;
    std::vector<std::string> warnings;
    std::vector<std::string> inputs;
    for (const PointText& p : given) {
        const std::string path = joined(p.base, p.report);
        InputFile file;
        if (const int e = file.open(path.c_str()); e != 0)
            return fail({"cannot open " + file.path(), error_text(e)});
        inputs.push_back(path);
        ReportFigures figures;
        try {
            figures = read_report_figures(file);
        } catch (const MergeError& e) {
            return fail({"cannot read " + file.path(), e.what()});
        }
        const ReportLayout& layout = figures.info.layout;
        if (!quality) {
            quality = quality_of(*quality_key, layout);
            if (!quality)
                return usage_error(kSpec, argv,
                                   "unknown --quality '" + *quality_key + "': " + path + " gives " +
                                       quality_keys(layout));
            if (pooling == "global" && !quality->snr)
                return usage_error(kSpec, argv, "--pooling global is for SNR keys only");
            format_of_key = layout.format->name;
            first_report = path;
        }
        if (format_of_key != layout.format->name)
            return fail({"cannot compare " + path,
                         "it measures " + std::string(layout.format->name) + " frames where " +
                             first_report + " measures " + format_of_key});
        const std::optional<double> value = value_of(figures, *quality, pooling == "global");
        if (!value)
            return fail({"cannot read " + path,
                         "it gives no " + *quality_key +
                             (quality->snr ? "" : " (measure it with frame-snr --measure)")});
        const JsonScalar* count = figures.summary.find("frames");
        const std::uint64_t frames =
            count != nullptr && count->kind == JsonScalar::kUnsigned ? count->whole : 0;
        double rate = 0;
        if (auto f = rate_of(p, fps, frames, rate)) return fail(*f);
        if (!number_of(p.rate)) inputs.push_back(joined(p.base, p.rate));
        const auto seen = frames_of_route.find(p.route);
        if (seen == frames_of_route.end())
            frames_of_route[p.route] = frames;
        else if (seen->second != frames)
            warnings.push_back("the points of route " + p.route +
                               " measure different numbers of "
                               "frames (" +
                               std::to_string(seen->second) + " and " + std::to_string(frames) +
                               ")");
        rd.points.push_back({p.route, rate, *value, p.report});
    }
    rd.quality = quality->key;
    rd.title = quality->title;
    rd.lower_is_better = quality->lower_is_better;

    // Routes in the order of their first point; each compared with the anchor.
    std::vector<std::string> routes;
    for (const RdPoint& p : rd.points)
        if (std::find(routes.begin(), routes.end(), p.route) == routes.end())
            routes.push_back(p.route);
    rd.anchor = line.value(kAnchorOption.name).value_or(routes.front());
    if (std::find(routes.begin(), routes.end(), rd.anchor) == routes.end())
        return usage_error(kSpec, argv, "--anchor " + rd.anchor + " is not one of the routes");
    std::map<std::string, std::pair<std::vector<double>, std::vector<double>>> curves;
    for (const RdPoint& p : rd.points) {
        curves[p.route].first.push_back(p.rate);
        curves[p.route].second.push_back(p.quality);
    }
    for (const std::string& r : routes) {
        const std::vector<double>& rates = curves[r].first;
        const std::vector<double>& qualities = curves[r].second;
        if (rates.size() < least_points(*how))
            return fail({"cannot compare route " + r, "it has " + std::to_string(rates.size()) +
                                                          " points where " +
                                                          interpolation_name(*how) + " needs " +
                                                          std::to_string(least_points(*how))});
        // The quality should improve as the rate rises.
        std::vector<std::size_t> order(rates.size());
        for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return rates[a] < rates[b]; });
        for (std::size_t k = 1; k < order.size(); ++k) {
            const double before = qualities[order[k - 1]], after = qualities[order[k]];
            if (rd.lower_is_better ? after > before : after < before) {
                warnings.push_back("the quality of route " + r + " gets worse as the rate rises");
                break;
            }
        }
    }
    for (const std::string& r : routes) {
        if (r == rd.anchor) continue;
        RdDelta d{r, rd.anchor, {}};
        const auto& a = curves[rd.anchor];
        const auto& b = curves[r];
        if (const std::string why = bd_compare(a.first, a.second, b.first, b.second, *how, d.bd);
            !why.empty())
            return fail({"cannot compare route " + r + " with " + rd.anchor, why});
        if (d.bd.overlap < 0.75)
            warnings.push_back(
                "the quality ranges of routes " + r + " and " + rd.anchor + " overlap by only " +
                std::to_string(static_cast<int>(d.bd.overlap * 100)) + "% of their union");
        rd.deltas.push_back(d);
    }

    // The reports, written once everything is known; none over an input.
    struct Output {
        std::optional<std::string> path;
        std::string text;
    };
    std::vector<Output> outputs = {{"-", rd_text(rd)},
                                   {line.value(kCsvOption.name), rd_csv(rd)},
                                   {line.value(kJsonOption.name), rd_json(rd)},
                                   {line.value(kPlotOption.name), rd_svg(rd)}};
    if (on_stdout == 1) outputs[0].path.reset();
    for (const Output& o : outputs) {
        if (!o.path || *o.path == "-") continue;
        struct stat out {};
        if (::stat(o.path->c_str(), &out) != 0) continue;
        for (const std::string& in : inputs) {
            struct stat st {};
            if (::stat(in.c_str(), &st) == 0 && st.st_dev == out.st_dev && st.st_ino == out.st_ino)
                return fail({"cannot write " + *o.path, "it is one of the inputs"});
        }
    }
    for (const std::string& w : warnings) report_line(kProgram, "warning: " + w);
    InputFile none;
    for (const Output& o : outputs) {
        if (!o.path) continue;
        OutputFile file;
        if (const int e = file.create(o.path->c_str(), none); e != 0)
            return fail({"cannot write " + file.path(), error_text(e)});
        if (const int e = file.write(o.text.data(), o.text.size()); e != 0)
            return fail({"cannot write " + file.path(), error_text(e)});
        if (const int e = file.close(); e != 0)
            return fail({"cannot write " + file.path(), error_text(e)});
    }
    return 0;
}

}  // namespace

int rd_curve_main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return fail({"out of memory", "the run needs more memory than it can have"});
    }
}

}  // namespace rawframes
