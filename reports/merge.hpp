// The JSON reports of consecutive frame ranges of one measurement, read back
// so that the whole measurement's reports can be made from them: each gives
// the run's size, format and frame skip, and for every frame its number, its
// reference frame and the exact squared errors, from which every SNR follows.
//
// Reports are read by a strict JSON parser (RFC 8259) a value at a time, so a
// report of any length takes the same memory; a single value longer than
// kMaxReportValue bytes, or nesting deeper than 32 levels, is refused.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "frame_file.hpp"
#include "report.hpp"

namespace rawframes {

// A report that cannot be read or merged; what() says why.
struct MergeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline constexpr std::uint64_t kMaxReportValue = std::uint64_t{1} << 20;

// What the report says of its run (the layout filled from its format), from
// the whole report; throws MergeError. The file is read from its start.
ReportInfo read_report_info(InputFile& file);

// The run a report is of (as read_report_info gives it) and its summary's
// values by their place: "frames", "average.y", "average.ssim.y", "global.y",
// "average.delta_e" ... (each as written: null where there is none).
struct ReportFigures {
    ReportInfo info;
    FrameJson summary;
};
ReportFigures read_report_figures(InputFile& file);

// Hands on every frame of the report, in order, once it is checked against
// the run `info` (which read_report_info gave): its reference frame is the one
// the frame skip gives, and every SNR is the one its squared error gives, so
// that the figures are what a run would have measured. The file is read from
// its start; throws MergeError, naming the frame.
void read_report_frames(InputFile& file, const ReportInfo& info,
                        const std::function<void(const FrameRecord&)>& frame);

}  // namespace rawframes
