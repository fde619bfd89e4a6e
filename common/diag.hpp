// One-line diagnostics on standard error: "program: what failed: reason", and
// the progress line that programs show while they run on a terminal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace rawframes {

// Erases any progress line first, so that a message always starts a line.
void report_error(const char* program, const std::string& what, const std::string& reason);

// "program: text" as one line.
void report_line(const char* program, const std::string& text);

// `text` with every control character written as an escape (\n, \t, \xNN), so
// that a file name holding one cannot split a message over lines.
std::string escaped(const std::string& text);

// A whole line of text on standard error as it is, its control characters
// escaped (for the messages whose wording is not "program: ...").
void report_raw_line(const std::string& text);

// The text of an errno value.
std::string error_text(int error);

// A single line on standard error, rewritten in place a few times a second:
// frames done, the total when it is known, and frames per second. It is shown
// only when standard error is a terminal and the caller wants it, and erased
// by finish() (or by any message).
class Progress {
  public:
    Progress(const char* program, std::optional<std::uint64_t> total, bool wanted);
    ~Progress() { finish(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void update(std::uint64_t frames_done);
    void finish();

  private:
    const char* program_;
    std::optional<std::uint64_t> total_;
    bool enabled_;
    std::int64_t start_ns_ = 0;
    std::int64_t last_ns_ = 0;
};

}  // namespace rawframes
