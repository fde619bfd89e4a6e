// The reports of frame-snr: the text report, CSV rows, a JSON document and an
// SVG plot of the per-frame figures, each a kind in one table; every kind
// shows each measure of the run (measures.hpp) through the measure's own
// entry.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measures.hpp"

namespace rawframes {

struct ReportInfo {
    std::string target, reference;
    ReportLayout layout;
    std::int32_t width = 0, height = 0, frame_skip = 0;
    std::vector<const Measure*> measures{};  // SNR first; none given: SNR alone
    std::optional<Region> region{};          // measured there only
};
// The size of what is measured: the region, or the whole frame.
FrameGeometry measured_geometry(const ReportInfo& info);
// The measures of the run `info` describes.
std::vector<const Measure*> run_measures(const ReportInfo& info);

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

// The report kinds that go to files, as options name them: --csv, --json and
// --plot.
struct ReportFileKind {
    ReportKind kind;
    const char* option;
};
inline constexpr ReportFileKind kReportFileKinds[] = {
    {ReportKind::kCsv, "csv"}, {ReportKind::kJson, "json"}, {ReportKind::kPlot, "plot"}};

// The per-frame values the plot draws, in memory that does not grow with the
// number of frames: up to a fixed number of buckets, each covering a run of
// frames (one frame while there are few) with its lowest and highest value
// and whether the plane was lossless in any of them.
class PlotSeries {
  public:
    // A frame's SNR figures (identical planes lossless).
    void add(std::uint64_t frame, const FrameFigures& f);
    // A frame's values (absent: not drawn), and which planes are lossless.
    void add(std::uint64_t frame, const std::array<std::optional<double>, 3>& values,
             const std::array<bool, 3>& lossless);
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
// `text` (made valid UTF-8) as a JSON string, and as XML text.
std::string json_string(const std::string& text);
std::string xml_text(const std::string& text);

// The pieces of the SVG pictures: the document's head (960 wide, `height`
// high, on white), a coordinate (%.1f) and a tick label (%g), and the tick
// step, 1, 2 or 5 times a power of ten, the smallest that makes at most
// `ticks` steps of `span` (the power found by steps of ten, so that it is
// the same on every machine).
std::string svg_head(double height);
std::string svg_number(double v);
std::string svg_label(double v);
double nice_step(double span, int ticks);

}  // namespace rawframes
