// --help and --version, recognised only when one of them is the sole argument;
// every other argument list is left to the program.
#pragma once

namespace rawframes {

// Returns true when argv is exactly {program, "--help"} or {program,
// "--version"}: the usage text and description, or the version, has then been
// printed on standard output and the program should end with status 0.
bool handle_info_option(int argc, char** argv, const char* program, const char* usage,
                        const char* description);

}  // namespace rawframes
