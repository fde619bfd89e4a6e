#include "cli_info.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "diag.hpp"

#ifndef RAWFRAMES_VERSION
#define RAWFRAMES_VERSION "unknown"
#endif

namespace rawframes {

std::optional<int> program_preamble(int argc, char** argv, const ProgramInfo& info) {
    if (const std::string why = isa_setting_error(); !why.empty()) {
        report_line(info.program, why);
        return info.failure_status;
    }
    if (argc != 2) return std::nullopt;
    if (std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s\n%s", info.usage, info.description);
    } else if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s (rawframes) %s\nkernels: %s\n", info.program, RAWFRAMES_VERSION,
                    isa_name(info.kernels));
    } else {
        return std::nullopt;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        report_error(info.program, "cannot write to standard output", error_text(errno));
        return info.failure_status;
    }
    return 0;
}

}  // namespace rawframes
