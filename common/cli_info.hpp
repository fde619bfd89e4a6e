// What every program does before it looks at its arguments: refuse an unusable
// RAWFRAMES_ISA setting, and answer --help and --version when one of them is
// the sole argument (every other argument list is left to the program).
#pragma once

#include <optional>

#include "cpu.hpp"

namespace rawframes {

struct ProgramInfo {
    const char* program;
    const char* usage;        // the usage text, as printed
    const char* description;  // the rest of the --help text
    Isa kernels;              // the instruction set the program's kernels run on
    int failure_status;
};

// Returns the status the program ends with now, or nothing when it should go
// on. --help prints the usage text and description, --version the version and
// the kernels' instruction set, on standard output; a failed write is an error.
std::optional<int> program_preamble(int argc, char** argv, const ProgramInfo& info);

}  // namespace rawframes
