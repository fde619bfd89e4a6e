#include "cli_info.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "diag.hpp"

#ifndef RAWFRAMES_VERSION
#define RAWFRAMES_VERSION "unknown"
#endif

namespace rawframes {

namespace {

std::string usage_text(const ProgramSpec& spec, const char* argv0) {
    char text[512];
    std::snprintf(text, sizeof text, spec.usage, argv0);
    return text;
}

// Answers --help and --version; nothing when neither is the sole argument.
std::optional<int> help_or_version(const ProgramSpec& spec, int argc, char** argv) {
    if (argc != 2) return std::nullopt;
    if (std::strcmp(argv[1], "--help") == 0) {
        const std::string usage = usage_text(spec, argv[0]);
        std::printf("%s\n%s%s%s", usage.c_str() + spec.help_usage_from, spec.description,
                    kRunOptionsHelp, spec.options_help);
    } else if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s (rawframes) %s\nkernels: %s\n", spec.program, RAWFRAMES_VERSION,
                    isa_name(spec.kernels()));
    } else {
        return std::nullopt;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        report_error(spec.program, "cannot write to standard output", error_text(errno));
        return spec.failure_status;
    }
    return 0;
}

}  // namespace

ProgramStart start_program(const ProgramSpec& spec, int argc, char** argv) {
    ProgramStart start;
    if (const std::string why = isa_setting_error(); !why.empty()) {
        report_line(spec.program, why);
        start.status = spec.failure_status;
        return start;
    }
    start.status = help_or_version(spec, argc, argv);
    if (start.status) return start;
    std::vector<OptionSpec> options{kThreadsOption, kNoProgressOption};
    options.insert(options.end(), spec.options.begin(), spec.options.end());
    start.line = parse_command_line(argc, argv, options);
    if (const std::string why = read_run_options(start.line, start.run); !why.empty())
        start.status = usage_error(spec, argv, why);
    return start;
}

int usage_error(const ProgramSpec& spec, char** argv, const std::string& why) {
    std::FILE* out = spec.usage_to_stderr ? stderr : stdout;
    std::fputs(usage_text(spec, argv[0]).c_str(), out);
    std::fflush(out);
    if (!why.empty()) report_line(spec.program, why);
    return spec.usage_status;
}

}  // namespace rawframes
