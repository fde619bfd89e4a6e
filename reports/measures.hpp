// What frame-snr measures of a frame, as data: one table of measures, each
// entry with its name, the formats it applies to, its per-frame computation,
// how each report kind shows it, how it is pooled over the frames and how
// --merge reads it back. The report writers (report.hpp), the summary and the
// merge reader iterate the measures of a run; a new measure is a new entry.
//
// Columns are planes in report order: for yuv10 Y, U, V (planes 1, 0, 2), for
// the other formats the planes in file order. SNR is always measured: for
// yuv10 the long-standing report, in which identical planes show 0, U is
// single precision and the averages pass through single-precision sums; for
// the other formats identical planes are inf and each average is the mean over
// the frames where the plane differs. In CSV identical planes are "inf", in
// JSON null, and in the plot they are marked as lossless.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "geometry.hpp"
#include "pixel_format.hpp"
#include "snr.hpp"

namespace rawframes {

struct ReportLayout {
    const PixelFormat* format = &kYuv10;
    std::array<std::uint32_t, 3> plane{};  // the file plane of each column
    bool classic = false;                  // yuv10's report
    std::string name(std::size_t c) const { return format->planes[plane[c]].name; }
};
ReportLayout report_layout(const PixelFormat& format);
// Column c's name as the JSON report's keys give it (lower case).
std::string json_key(const ReportLayout& layout, std::size_t c);
// Whether column c holds single-precision values (classic U).
bool single_precision(const ReportLayout& layout, std::size_t c);

// One column of a frame: its exact squared error and its SNR (for classic
// identical planes 0, otherwise infinity).
struct PlaneFigure {
    Sse sse = 0;
    double snr = 0;
};
using FrameFigures = std::array<PlaneFigure, 3>;

// Column c's figure from its exact squared error: the SNR of its plane (for
// classic identical planes 0, otherwise infinity), as measure() gives it.
PlaneFigure column_figure(const ReportLayout& layout, std::size_t c, Sse sse,
                          const FrameGeometry& g);

// The SNR of one frame; `target` and `reference` are raw frames of the
// layout's format with 16-bit samples in host order.
FrameFigures measure(const ReportLayout& layout, const std::uint8_t* target,
                     const std::uint8_t* reference, const FrameGeometry& g);

// The measures a run may have besides SNR, and the values per frame of each
// (up to three: one per column; NaN where there is none).
inline constexpr std::size_t kMaxMeasures = 4;
using MeasureValues = std::array<double, 3>;
inline constexpr MeasureValues kNoValues{NAN, NAN, NAN};

// What a frame's measures met that a warning at the end says.
struct FrameNotes {
    std::uint64_t clamped = 0;          // samples outside 0 .. peak (colour difference)
    std::uint64_t negative_scales = 0;  // MS-SSIM scales whose mean was negative
};

struct FrameRecord {
    std::uint64_t frame = 0, reference_frame = 0;
    FrameFigures figures;  // SNR
    // The values of the run's measure k in values[k] (k = 0 is SNR, whose
    // values are `figures`).
    std::array<MeasureValues, kMaxMeasures> values{kNoValues, kNoValues, kNoValues, kNoValues};
    FrameNotes notes{};
};

// A measure's figures over the frames: per column the sum and count of its
// values, and the largest.
struct MeasurePool {
    std::array<double, 3> sum{}, largest{-INFINITY, -INFINITY, -INFINITY};
    std::array<std::uint64_t, 3> count{};
};

// A scalar of a frame of a JSON report, as --merge reads it.
struct JsonScalar {
    enum Kind { kNull, kBool, kUnsigned, kNegative, kFloat, kString } kind = kNull;
    std::uint64_t whole = 0;
    std::string text;  // of a string, or a number as written
};
// The scalars of a frame by where they stand: "frame", "sse.y", "delta_e" ...
struct FrameJson {
    std::vector<std::pair<std::string, JsonScalar>> members;
    const JsonScalar* find(const std::string& key) const;
};

class ReportSummary;
struct ReportInfo;

class Measure {
  public:
    virtual ~Measure() = default;
    // As --measure names it, and as the JSON report's "measures" lists it.
    virtual const char* name() const = 0;
    virtual bool applies(const PixelFormat& format) const = 0;
    // Warnings a run of this size earns before it starts (planes too small).
    virtual std::vector<std::string> start_warnings(const ReportLayout&,
                                                    const FrameGeometry&) const {
        return {};
    }
    // Scratch memory, in doubles, that measuring a frame of this size needs.
    virtual std::size_t scratch_doubles(const ReportLayout&, const FrameGeometry&) const {
        return 0;
    }
    // Measures a frame (raw frames, 16-bit samples in host order) into
    // record.values[slot] (SNR: record.figures).
    virtual void measure(const ReportLayout& layout, const std::uint8_t* target,
                         const std::uint8_t* reference, const FrameGeometry& g, double* scratch,
                         FrameRecord& record, std::size_t slot) const = 0;

    // The text report: the columns' headers and values (each after a tab),
    // and the summary lines (each after a line break).
    virtual std::string text_header(const ReportLayout& layout) const = 0;
    virtual std::string text_values(const ReportLayout& layout, const FrameRecord& r,
                                    std::size_t slot) const = 0;
    virtual std::string text_summary(const ReportLayout& layout, const ReportSummary& summary,
                                     std::size_t slot) const = 0;
    // CSV: the columns' names and values, each after a comma.
    virtual std::string csv_header(const ReportLayout& layout) const = 0;
    virtual std::string csv_values(const ReportLayout& layout, const FrameRecord& r,
                                   std::size_t slot) const = 0;
    // JSON: a frame's members and the summary's "average" members, each after
    // ", "; members of the summary after "average" (each after ", ").
    virtual std::string json_values(const ReportLayout& layout, const FrameRecord& r,
                                    std::size_t slot) const = 0;
    virtual std::string json_average(const ReportLayout& layout, const ReportSummary& summary,
                                     std::size_t slot) const = 0;
    virtual std::string json_summary(const ReportInfo&, const ReportSummary&) const { return {}; }
    // Pools a frame's values.
    virtual void pool(const FrameRecord& r, std::size_t slot, MeasurePool& pool) const;
    // Reads a frame's values back from its JSON members and checks them
    // against the run; returns why they are not a run's, or an empty text.
    virtual std::string read(const FrameJson& json, const ReportInfo& info, FrameRecord& r,
                             std::size_t slot) const = 0;

    // The plot's panel of this measure: its axis title, the columns' names
    // and the format of values in its legend.
    struct Panel {
        std::string title;                     // "SNR", in "SNR of target against ..."
        std::string axis;                      // "SNR (dB)"
        std::vector<std::string> columns;      // "Y", "U", "V"
        const char* legend_format = "%.1f";    // an average in the legend
        const char* legend_unit = "";          // after it
        bool lossless_marks = false;           // frames whose plane is identical
        double empty_low = 0, empty_high = 1;  // the range when there is no value
        double least_span = 1;                 // the smallest range shown
        // What the dashed line of each column is ("average" when not given).
        std::vector<std::string> pooled = {};
    };
    virtual Panel panel(const ReportLayout& layout) const = 0;
    // A frame's values in the plot (absent: not drawn), and which of them
    // are lossless.
    virtual std::array<std::optional<double>, 3> plot_values(const FrameRecord& r, std::size_t slot,
                                                             std::array<bool, 3>& lossless) const;
};

// The measures of a run, SNR first, as --measure names them (comma-separated;
// "snr" may be left out); an error text names what cannot be measured.
std::string choose_measures(const std::string& list, const PixelFormat& format,
                            std::vector<const Measure*>& measures);
// The SNR measure of a format: the run's first.
const Measure* snr_measure(const PixelFormat& format);
// Every name --measure takes.
std::string measure_names();

// Figures over all compared frames: SNR's, and a pool of each other measure.
class ReportSummary {
  public:
    explicit ReportSummary(const ReportLayout& layout, std::vector<const Measure*> measures = {})
        : layout_(layout), measures_(std::move(measures)) {}
    void add(const FrameFigures& f);
    void add(const FrameRecord& r);
    std::uint64_t frames() const { return frames_; }
    // The text report's SNR averages (absent when no frame was compared).
    using ColumnValues = std::array<std::optional<double>, 3>;
    ColumnValues average() const;
    // The mean over the frames where the plane differs.
    ColumnValues mean_of_differing() const;
    // 10 log10(peak^2 n K / total SSE) per plane of n samples, absent when the
    // total is 0.
    ColumnValues global(const FrameGeometry& g) const;
    // Over the frames whose plane differs.
    const ColumnValues& min() const { return min_; }
    const ColumnValues& max() const { return max_; }
    // Measure `slot`'s pool, its means (NaN where no frame had a value) and
    // its largest values.
    const MeasurePool& pool(std::size_t slot) const { return pools_[slot]; }
    MeasureValues mean(std::size_t slot) const;
    MeasureValues largest(std::size_t slot) const;
    const FrameNotes& notes() const { return notes_; }

  private:
    ReportLayout layout_;
    std::vector<const Measure*> measures_;
    std::uint64_t frames_ = 0;
    SnrSums sums_;  // classic
    std::array<Sse, 3> total_{};
    std::array<double, 3> differing_sum_{};
    std::array<std::uint64_t, 3> differing_{};
    ColumnValues min_, max_;
    std::array<MeasurePool, kMaxMeasures> pools_{};
    FrameNotes notes_;
};
using ColumnValues = ReportSummary::ColumnValues;

// The warnings a run's notes give at its end.
std::vector<std::string> note_warnings(const ReportLayout& layout, const FrameNotes& notes);

// The shortest decimal text that reads back to the same value.
std::string shortest(double value);
std::string shortest(float value);

}  // namespace rawframes
