// The machine-readable and graphic reports of frame-snr, beside its text
// report: CSV rows, a JSON document and an SVG plot of the per-frame SNR.
//
// Per-frame SNRs are the values the text report rounds (U in its single
// precision); identical planes, which the text report shows as 0, are "inf" in
// CSV, null in JSON and marked as lossless in the plot.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "snr.hpp"

namespace rawframes {

struct ReportInfo {
    std::string target, reference;
    std::int32_t width = 0, height = 0, frame_skip = 0;
};

struct FrameRecord {
    std::uint64_t frame = 0, reference_frame = 0;
    FrameSnr snr;
};

// One value per plane, absent where there is none (no frame, no error).
struct PlaneValues {
    std::optional<double> y, u, v;
};

// Figures over all compared frames.
class ReportSummary {
  public:
    void add(const FrameSnr& f);
    std::uint64_t frames() const { return frames_; }
    // The text report's averages before printing (identical planes count 0).
    PlaneValues average() const;
    // 10 log10(peak^2 W H K / total SSE) per plane, absent when the total is 0.
    PlaneValues global(std::int32_t width, std::int32_t height) const;
    // Over the frames whose plane differs.
    PlaneValues min() const { return min_; }
    PlaneValues max() const { return max_; }

  private:
    std::uint64_t frames_ = 0;
    SnrSums sums_;
    Sse total_y_ = 0, total_u_ = 0, total_v_ = 0;
    PlaneValues min_, max_;
};

std::string csv_header();
std::string csv_row(const FrameRecord& r);

std::string json_begin(const ReportInfo& info);
std::string json_frame(const FrameRecord& r, bool first);
std::string json_end(const ReportInfo& info, const ReportSummary& summary);

std::string svg_plot(const ReportInfo& info, const std::vector<FrameRecord>& records,
                     const ReportSummary& summary);

}  // namespace rawframes
