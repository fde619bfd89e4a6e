// What frame-snr measures of a frame and how it reports it: the text report,
// CSV rows, a JSON document and an SVG plot of the per-frame SNR, for every
// pixel format.
//
// Columns are planes in report order: for yuv10 Y, U, V (planes 1, 0, 2), the
// long-standing report in which identical planes show 0, U is single precision
// and the averages pass through single-precision sums; for the other formats
// the planes in file order, identical planes are inf and each average is the
// mean over the frames where the plane differs. In CSV identical planes are
// "inf", in JSON null, and in the plot they are marked as lossless.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// Measures one frame; `target` and `reference` are raw frames of the layout's
// format with 16-bit samples in host order.
FrameFigures measure(const ReportLayout& layout, const std::uint8_t* target,
                     const std::uint8_t* reference, const FrameGeometry& g);

struct ReportInfo {
    std::string target, reference;
    ReportLayout layout;
    std::int32_t width = 0, height = 0, frame_skip = 0;
};

struct FrameRecord {
    std::uint64_t frame = 0, reference_frame = 0;
    FrameFigures figures;
};

// One value per column, absent where there is none (no frame, no error).
using ColumnValues = std::array<std::optional<double>, 3>;

// Figures over all compared frames.
class ReportSummary {
  public:
    explicit ReportSummary(const ReportLayout& layout) : layout_(layout) {}
    void add(const FrameFigures& f);
    std::uint64_t frames() const { return frames_; }
    // The text report's averages (absent when no frame was compared).
    ColumnValues average() const;
    // The mean over the frames where the plane differs.
    ColumnValues mean_of_differing() const;
    // 10 log10(peak^2 n K / total SSE) per plane of n samples, absent when the
    // total is 0.
    ColumnValues global(const FrameGeometry& g) const;
    // Over the frames whose plane differs.
    const ColumnValues& min() const { return min_; }
    const ColumnValues& max() const { return max_; }

  private:
    ReportLayout layout_;
    std::uint64_t frames_ = 0;
    SnrSums sums_;  // classic
    std::array<Sse, 3> total_{};
    std::array<double, 3> differing_sum_{};
    std::array<std::uint64_t, 3> differing_{};
    ColumnValues min_, max_;
};

// One of the reports of a run: the text report, CSV rows, a JSON document or
// an SVG plot. Each says what it writes as the run begins, for each compared
// frame in order, and at the end.
class Report {
  public:
    virtual ~Report() = default;
    virtual std::string begin() = 0;
    virtual std::string frame(const FrameRecord& r) = 0;
    virtual std::string end(const ReportSummary& summary) = 0;
};

enum class ReportKind { kText, kCsv, kJson, kPlot };
std::unique_ptr<Report> make_report(ReportKind kind, const ReportInfo& info);

// The per-frame values the plot draws, in memory that does not grow with the
// number of frames: up to a fixed number of buckets, each covering a run of
// frames (one frame while there are few) with its lowest and highest value
// and whether the plane was lossless in any of them.
class PlotSeries {
  public:
    void add(std::uint64_t frame, const FrameFigures& f);
    struct Bucket {
        std::uint64_t first_frame = 0;
        std::array<std::optional<double>, 3> low, high;
        std::array<bool, 3> lossless{};
    };
    const std::vector<Bucket>& buckets() const { return buckets_; }
    std::uint64_t frames() const { return frames_; }
    std::uint64_t last_frame() const { return last_frame_; }

  private:
    void merge_pairs();
    static constexpr std::size_t kMaxBuckets = 2048;
    std::vector<Bucket> buckets_;
    std::uint64_t span_ = 1;  // frames a bucket covers
    std::uint64_t frames_ = 0, last_frame_ = 0, first_frame_ = 0;
};

// `s` as valid UTF-8 without noncharacters: what is not becomes U+FFFD.
std::string valid_utf8(const std::string& s);

}  // namespace rawframes
