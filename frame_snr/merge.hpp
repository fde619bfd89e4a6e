// The JSON reports of consecutive frame ranges of one measurement, read back
// so that the whole measurement's reports can be made from them: each gives
// the run's size, format and frame skip, and for every frame its number, its
// reference frame, the exact squared errors and the SNRs as written (the
// shortest text that reads back to the same value, so nothing is lost).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "frame_file.hpp"
#include "report.hpp"

namespace rawframes {

// A report that cannot be read or merged; what() says why.
struct MergeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ShardReader {
  public:
    // Reads the report's head up to its first frame; throws MergeError.
    explicit ShardReader(InputFile& file);
    ~ShardReader();
    ShardReader(const ShardReader&) = delete;
    ShardReader& operator=(const ShardReader&) = delete;

    // What the head says: the run the report is of (layout filled from its
    // format).
    const ReportInfo& info() const { return info_; }
    // The next frame, false after the last; throws MergeError.
    bool next(FrameRecord& r);

  private:
    class Json;
    std::unique_ptr<Json> json_;
    ReportInfo info_;
    bool first_ = true, done_ = false;
};

}  // namespace rawframes
