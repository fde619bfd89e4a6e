// What a program is, as data (its name, usage text, options and exit
// statuses), and what every program does before it looks at its arguments:
// refuse an unusable RAWFRAMES_ISA setting, answer --help and --version when
// one of them is the sole argument, and take the options out of the arguments.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "cpu.hpp"
#include "options.hpp"

namespace rawframes {

struct ProgramSpec {
    const char* program;
    // The usage text printed for a usage error: a printf format in which %s,
    // when present, is argv[0]. --help shows it from `help_usage_from` on.
    const char* usage;
    std::size_t help_usage_from;
    const char* description;              // the rest of the --help text, before the options
    std::span<const OptionSpec> options;  // beyond --threads and --no-progress
    const char* options_help;             // their --help lines
    int usage_status;
    int failure_status;
    bool usage_to_stderr;  // the usage text goes to standard error
    Isa (*kernels)();      // the instruction set the program's kernels run on
    // Whether it runs over frames, and so takes --threads, --start, --frames,
    // --shard and --no-progress.
    bool frame_options = true;
};

struct ProgramStart {
    std::optional<int> status;  // the program ends now, with this status
    CommandLine line;
    RunOptions run;
};

// --help prints the usage text and description, --version the version and the
// kernels' instruction set, on standard output (a failed write is an error);
// an unknown or malformed option is a usage error.
ProgramStart start_program(const ProgramSpec& about, int argc, char** argv);

// Prints the usage text and, when `why` is not empty, a line on standard error
// that says what was wrong; returns the usage status.
int usage_error(const ProgramSpec& about, char** argv, const std::string& why);

}  // namespace rawframes
