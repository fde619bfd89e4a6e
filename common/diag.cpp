#include "diag.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace rawframes {

namespace {

std::mutex status_mutex;
bool status_shown = false;  // a progress line is on the terminal

void write_stderr(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n <= 0) return;  // nowhere to report a failure to report
        done += static_cast<std::size_t>(n);
    }
}

constexpr std::int64_t kProgressInterval = 250'000'000;  // four updates a second at most

// Carriage return, then erase to the end of the line.
constexpr const char* kEraseLine = "\r\033[K";

std::int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string escaped(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void report_raw_line(const std::string& text) {
    std::lock_guard lock(status_mutex);
    std::string line = status_shown ? kEraseLine : "";
    status_shown = false;
    line += escaped(text) + "\n";
    std::fflush(stderr);
    write_stderr(line);
}

void report_line(const char* program, const std::string& text) {
    report_raw_line(std::string(program) + ": " + text);
}

void report_error(const char* program, const std::string& what, const std::string& reason) {
    report_line(program, what + ": " + reason);
}

std::string error_text(int error) {
    return std::strerror(error);
}

Progress::Progress(const char* program, std::optional<std::uint64_t> total, bool wanted)
    : program_(program), total_(total), enabled_(wanted && ::isatty(STDERR_FILENO) == 1) {
    // The first frame is shown at once, later ones a few times a second.
    start_ns_ = now_ns();
    last_ns_ = start_ns_ - kProgressInterval;
}

void Progress::update(std::uint64_t frames_done) {
    if (!enabled_) return;
    const std::int64_t now = now_ns();
    if (now - last_ns_ < kProgressInterval) return;
    last_ns_ = now;
    const double seconds = std::max(static_cast<double>(now - start_ns_) / 1e9, 1e-3);
    char text[160];
    if (total_) {
        std::snprintf(text, sizeof text, "%s%s: frame %llu of %llu, %.1f fps", kEraseLine, program_,
                      static_cast<unsigned long long>(frames_done),
                      static_cast<unsigned long long>(*total_),
                      static_cast<double>(frames_done) / seconds);
    } else {
        std::snprintf(text, sizeof text, "%s%s: frame %llu, %.1f fps", kEraseLine, program_,
                      static_cast<unsigned long long>(frames_done),
                      static_cast<double>(frames_done) / seconds);
    }
    std::lock_guard lock(status_mutex);
    write_stderr(text);
    status_shown = true;
}

void Progress::finish() {
    if (!enabled_) return;
    std::lock_guard lock(status_mutex);
    if (status_shown) write_stderr(kEraseLine);
    status_shown = false;
}

}  // namespace rawframes
