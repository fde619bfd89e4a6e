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

std::string usage_text(const ProgramSpec& about, const char* argv0) {
    char text[512];
    std::snprintf(text, sizeof text, about.usage, argv0);
    return text;
}

// Answers --help and --version; nothing when neither is the sole argument.
std::optional<int> help_or_version(const ProgramSpec& about, int argc, char** argv) {
    if (argc != 2) return std::nullopt;
    if (std::strcmp(argv[1], "--help") == 0) {
        const std::string usage = usage_text(about, argv[0]);
        std::printf("%s\n%s%s%s", usage.c_str() + about.help_usage_from, about.description,
                    about.frame_options ? kRunOptionsHelp : "Options:\n", about.options_help);
    } else if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s (rawframes) %s\nkernels: %s\n", about.program, RAWFRAMES_VERSION,
                    isa_name(about.kernels()));
    } else {
        return std::nullopt;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        report_error(about.program, "cannot write to standard output", error_text(errno));
        return about.failure_status;
    }
    return 0;
}

}  // namespace

ProgramStart start_program(const ProgramSpec& about, int argc, char** argv) {
    ProgramStart start;
    if (const std::string why = isa_setting_error(); !why.empty()) {
        report_line(about.program, why);
        start.status = about.failure_status;
        return start;
    }
    start.status = help_or_version(about, argc, argv);
    if (start.status) return start;
    std::vector<OptionSpec> options;
    if (about.frame_options)
        options = {kThreadsOption, kNoProgressOption, kStartOption, kFramesOption, kShardOption};
    options.insert(options.end(), about.options.begin(), about.options.end());
    start.line = parse_command_line(argc, argv, options);
    if (const std::string why = read_run_options(start.line, start.run); !why.empty())
        start.status = usage_error(about, argv, why);
    return start;
}

int usage_error(const ProgramSpec& about, char** argv, const std::string& why) {
    std::FILE* out = about.usage_to_stderr ? stderr : stdout;
    std::fputs(usage_text(about, argv[0]).c_str(), out);
    std::fflush(out);
    if (!why.empty()) report_line(about.program, why);
    return about.usage_status;
}

}  // namespace rawframes
